#include "apps/planora/plugin_host.h"

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
  TPhoto* Result = nullptr;
  bool Delivered = false;
};
TSession* session = nullptr;

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
  if (!session || !b || !session->Host->Picture) return 0;
  const TPhoto& p = *session->Host->Picture;
  // A bitmap of another size or depth than the one announced is refused
  // rather than written past.
  if (b->Width != p.Width || b->Height != p.Height || b->BitsPerPixel != 24 || b->BytesPerRow < 3 * b->Width ||
      !b->Bits)
    return 0;
  const std::size_t row = static_cast<std::size_t>(p.Width) * 3;
  for (int y = 0; y < p.Height; ++y)
    std::memcpy(b->Bits + static_cast<std::size_t>(y) * b->BytesPerRow, p.Pixels.data() + y * row, row);
  return 1;
}

std::int32_t PLANORA_STDCALL HostPutImage(TPluginBitmap* b) {
  if (!session || !b || !session->Host->Picture) return 0;
  if (b->Width <= 0 || b->Height <= 0 || b->BitsPerPixel != 24 || b->BytesPerRow < 3 * b->Width || !b->Bits) return 0;
  TPhoto& r = *session->Result;
  r.Width = b->Width;
  r.Height = b->Height;
  const std::size_t row = static_cast<std::size_t>(b->Width) * 3;
  r.Pixels.resize(row * static_cast<std::size_t>(b->Height));
  for (int y = 0; y < b->Height; ++y)
    std::memcpy(r.Pixels.data() + y * row, b->Bits + static_cast<std::size_t>(y) * b->BytesPerRow, row);
  r.Exif = session->Host->Picture->Exif;
  r.Icc = session->Host->Picture->Icc;
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

int TPluginLibrary::Run(const THost& host, TPhoto& Result) {
  THostRecord* record = record_();
  std::memset(record, 0, sizeof *record);
  record->ImageRect = {0, 0, host.Picture ? host.Picture->Width : 0, host.Picture ? host.Picture->Height : 0};
  record->ShowText = &HostShowText;
  record->NotifyClose = &HostNotifyClose;
  record->GetImage = &HostGetImage;
  record->PutImage = &HostPutImage;
  record->GetIniFileName = &HostIniFileName;
  TSession s{&host, &Result, false};
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

std::string FindPluginLibrary(const std::string& programPath) {
  if (const char* env = std::getenv("PLANORA_PLUGIN"); env && env[0]) return env;
  std::string dir = ".";
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : programPath;
  if (const std::size_t slash = exe.find_last_of('/'); slash != std::string::npos) dir = exe.substr(0, slash);
  for (const std::string& candidate :
       {dir + "/libPPlanora.so", dir + "/../libPPlanora.so", dir + "/../../libPPlanora.so",
        dir + "/../" PLANORA_LIBDIR "/planora/libPPlanora.so"}) {
    if (IsFile(candidate)) return candidate;
  }
  return dir + "/../" PLANORA_LIBDIR "/planora/libPPlanora.so";
}

std::string RectifiedName(const std::string& photoPath) {
  const std::size_t slash = photoPath.find_last_of('/');
  const std::size_t dot = photoPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return photoPath + "-rectified.jpg";
  return photoPath.substr(0, dot) + "-rectified" + photoPath.substr(dot);
}

}  // namespace planora
