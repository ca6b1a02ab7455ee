#include "apps/host/plugin_host.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/sysutils.h"

namespace planora {

namespace {

// The host functions are plain C functions without a context argument: the
// run in progress is reached through this pointer, set only during Execute.
struct TSession {
  const TPluginLibrary::THost* Host = nullptr;
  bool Delivered = false;
};
TSession* session = nullptr;

// The plug-in's bitmap as rows, or false for one that cannot be used as a
// picture of 24 bits: it is refused rather than read or written past.
bool RowsOf(const TPluginBitmap* b, TPluginLibrary::TRows& rows) {
  if (!b || b->Width <= 0 || b->Height <= 0 || b->BitsPerPixel != 24 || b->BytesPerRow / 3 < b->Width || !b->Bits)
    return false;
  rows = {b->Width, b->Height, b->BytesPerRow, b->Bits};
  return true;
}

extern "C" {

std::int32_t PLANORA_STDCALL HostShowText(const char* text, std::int32_t /*flag*/) {
  if (session && session->Host->ShowText) session->Host->ShowText(text ? text : "");
  return 1;
}

std::int32_t PLANORA_STDCALL HostNotifyClose(void) {
  if (session && session->Host->NotifyClose) session->Host->NotifyClose();
  return 1;
}

std::int32_t PLANORA_STDCALL HostGetImage(TPluginBitmap* b) {
  TPluginLibrary::TRows rows;
  if (!session || !RowsOf(b, rows)) return 0;
  // Another size than the one announced would not be the picture.
  if (rows.Width != session->Host->Width || rows.Height != session->Host->Height) return 0;
  return session->Host->GetImage(rows) ? 1 : 0;
}

std::int32_t PLANORA_STDCALL HostPutImage(TPluginBitmap* b) {
  TPluginLibrary::TRows rows;
  if (!session || !RowsOf(b, rows)) return 0;
  if (!session->Host->PutImage(rows)) return 0;
  session->Delivered = true;
  return 1;
}

const char* PLANORA_STDCALL HostIniFileName(char* buffer, std::int32_t size) {
  if (!session || session->Host->SettingsPath.empty()) return nullptr;
  // The path is longer than the plug-in's buffer allows: hand out our own
  // storage, which stays valid during the call.
  if (static_cast<std::int32_t>(session->Host->SettingsPath.size()) > size) return session->Host->SettingsPath.c_str();
  std::memcpy(buffer, session->Host->SettingsPath.c_str(), session->Host->SettingsPath.size() + 1);
  return buffer;
}

}  // extern "C"

template <typename F>
void Find(void* handle, const std::string& path, const char* name, F& out) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) throw EInOutError("\"" + path + "\" is not a plug-in of this kind: it has no " + name);
  out = reinterpret_cast<F>(symbol);
}

bool MakeFolder(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeFolder(folder.substr(0, slash));
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TPluginLibrary::TPluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw EInOutError("The plug-in library \"" + path + "\" cannot be loaded: " + (why ? why : "unknown error"));
  }
  try {
    Find(handle_, path, "RegisterCompatibility", compatibility_);
    Find(handle_, path, "RegisterApplication", application_);
    Find(handle_, path, "RegisterPluginLanguage", language_);
    Find(handle_, path, "RegisterPluginHeader", header_);
    Find(handle_, path, "RegisterPluginStruct", record_);
    Find(handle_, path, "RegisterPluginGlyph", glyph_);
    Find(handle_, path, "Execute", execute_);
  } catch (...) {
    dlclose(handle_);
    throw;
  }
  // The registrations a host makes once, in the order hosts make them.
  compatibility_();
  application_();
  language_();
  header_();
  record_();
}

TPluginLibrary::~TPluginLibrary() {
  // The plug-in's windows and application object live in the library: it
  // stays loaded for the life of the program.
}

std::string TPluginLibrary::Name() const { return std::string(header_()->Name, strnlen(header_()->Name, 64)); }

std::string TPluginLibrary::Version() const {
  return std::string(header_()->Version, strnlen(header_()->Version, 64));
}

TGlyph TPluginLibrary::Glyph() const {
  TGlyph g;
  TPluginBitmap* b = glyph_();
  if (b == nullptr) return g;
  if (b->BitsPerPixel == 8 && b->Width > 0 && b->Height > 0 && b->Bits && b->Palette && b->PaletteSize > 0) {
    g.Width = b->Width;
    g.Height = b->Height;
    for (int y = 0; y < b->Height; ++y)
      g.Indices.insert(g.Indices.end(), b->Bits + y * b->BytesPerRow, b->Bits + y * b->BytesPerRow + b->Width);
    g.Palette.assign(b->Palette, b->Palette + b->PaletteSize);
  }
  std::free(b);  // the handle is ours, one block
  return g;
}

int TPluginLibrary::Run(const THost& host) {
  THostRecord* record = record_();
  std::memset(record, 0, sizeof *record);
  record->ImageRect = {0, 0, host.Width, host.Height};
  record->ShowText = &HostShowText;
  record->NotifyClose = &HostNotifyClose;
  record->GetImage = host.GetImage ? &HostGetImage : nullptr;
  record->PutImage = host.PutImage ? &HostPutImage : nullptr;
  record->GetIniFileName = &HostIniFileName;
  TSession s{&host, false};
  session = &s;
  const int result = execute_();
  session = nullptr;
  // Only a picture really handed back counts, whatever Execute says.
  return result == 1 && s.Delivered ? 1 : 0;
}

std::string PluginSettingsPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0]) {
    base = std::string(home) + "/.config";
  } else {
    return "";
  }
  const std::string folder = base + "/planora";
  if (!MakeFolder(folder)) return "";
  return folder + "/planora.ini";
}

std::string FindPluginLibrary(const std::string& programPath, const std::string& toPrefix) {
  if (const char* env = std::getenv("PLANORA_PLUGIN"); env && env[0]) return env;
  std::string dir = ".";
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : programPath;
  if (const std::size_t slash = exe.find_last_of('/'); slash != std::string::npos) dir = exe.substr(0, slash);
  const std::string installed = dir + "/" + toPrefix + "/" PLANORA_LIBDIR "/planora/libPPlanora.so";
  for (const std::string& candidate :
       {dir + "/libPPlanora.so", dir + "/../libPPlanora.so", dir + "/../../libPPlanora.so", installed}) {
    if (IsFile(candidate)) return candidate;
  }
  return installed;
}

}  // namespace planora
