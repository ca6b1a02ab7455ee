#include "plugin/versionsinfo.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#endif

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "plugin/planora_plugin.h"
#include "plugin/version.h"

namespace planora {

#ifdef _WIN32

// The DLL carries its record as a VERSIONINFO resource (resources/planora.rc),
// read the way any Windows program reads a file's version.
void ReadFileVersion(const std::string& FileName, FixedVersionInfo& Info) {
  Info = FixedVersionInfo{};
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(FileName.c_str(), &handle);
  if (size == 0) return;
  std::vector<char> data(size, 0);
  if (!GetFileVersionInfoA(FileName.c_str(), 0, size, data.data())) return;
  void* fixed = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (VerQueryValueA(data.data(), root, &fixed, &length) && fixed != nullptr && length >= sizeof Info) {
    std::memcpy(&Info, fixed, sizeof Info);
  }
}

void* ModuleHandle() {
  HMODULE module = nullptr;
  // Any address inside this file names it: this function's own.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(&ModuleHandle), &module);
  return module;
}

std::string ModuleFileName() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(ModuleHandle()), path.data(),
                                       static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) return std::string(path.data(), n);
    path.resize(path.size() * 2);  // cut short: ask again with more room
  }
}

#else

namespace {

// Key and value pairs; the literal's own zero ends the list with an empty key.
#define PLANORA_VERSION_STRINGS                                    \
  "ProductName\0" PLANORA_PRODUCT_NAME "\0"                        \
  "FileDescription\0" PLANORA_FILE_DESCRIPTION "\0"                \
  "FileVersion\0" PLANORA_FILE_VERSION_TEXT "\0"                   \
  "ProductVersion\0" PLANORA_PRODUCT_VERSION_TEXT "\0"

struct TVersionRecord {
  FixedVersionInfo Fixed;
  std::uint16_t Language;
  std::uint16_t CodePage;
  char Strings[sizeof PLANORA_VERSION_STRINGS];
};

// The library's version record, in a section of its own so that the file
// can be asked for its version without loading it.
[[gnu::section(PLANORA_VERSION_SECTION), gnu::used]] const TVersionRecord VersionRecord = {
    {
        VersionSignature,
        0x00010000,             // structure version 1.0
        (PLANORA_FILE_VERSION_MAJOR << 16) | PLANORA_FILE_VERSION_MINOR,
        (PLANORA_FILE_VERSION_RELEASE << 16) | PLANORA_FILE_VERSION_BUILD,
        (PLANORA_PRODUCT_VERSION_MAJOR << 16) | PLANORA_PRODUCT_VERSION_MINOR,
        (PLANORA_PRODUCT_VERSION_RELEASE << 16) | PLANORA_PRODUCT_VERSION_BUILD,
        0x3F, 0,                // flags mask; no flags
        0,                      // operating system: not one the record format names
        2,                      // file type: dynamic library
        0,
    },
    PLANORA_VERSION_LANGUAGE,
    PLANORA_VERSION_CODE_PAGE,
    PLANORA_VERSION_STRINGS,
};
#undef PLANORA_VERSION_STRINGS

// Reads byte ranges of a file, refusing any range that lies outside it.
class TFileReader {
 public:
  explicit TFileReader(const std::string& name) : in_(name, std::ios::binary) {
    if (!in_) return;
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    if (end > 0) size_ = static_cast<std::uint64_t>(end);
  }
  std::uint64_t Size() const { return size_; }
  bool Contains(std::uint64_t offset, std::uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }
  bool Read(std::uint64_t offset, void* out, std::uint64_t count) {
    if (!in_ || !Contains(offset, count)) return false;
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<bool>(in_);
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

template <class Ehdr, class Shdr>
bool FindSection(TFileReader& file, const char* name, std::uint64_t& offset, std::uint64_t& size) {
  Ehdr eh;
  if (!file.Read(0, &eh, sizeof eh)) return false;
  if (eh.e_shnum == 0 || eh.e_shentsize < sizeof(Shdr) || eh.e_shstrndx >= eh.e_shnum) return false;
  if (!file.Contains(eh.e_shoff, std::uint64_t{eh.e_shnum} * eh.e_shentsize)) return false;
  auto header = [&](unsigned i, Shdr& sh) { return file.Read(eh.e_shoff + std::uint64_t{i} * eh.e_shentsize, &sh, sizeof sh); };

  Shdr names;
  if (!header(eh.e_shstrndx, names) || names.sh_type == SHT_NOBITS) return false;
  if (!file.Contains(names.sh_offset, names.sh_size)) return false;
  const std::size_t nameBytes = std::strlen(name) + 1;
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Shdr sh;
    if (!header(i, sh)) return false;
    if (sh.sh_name >= names.sh_size || names.sh_size - sh.sh_name < nameBytes) continue;
    char found[sizeof PLANORA_VERSION_SECTION];
    if (nameBytes > sizeof found || !file.Read(names.sh_offset + sh.sh_name, found, nameBytes)) continue;
    if (std::memcmp(found, name, nameBytes) != 0) continue;
    if (sh.sh_type == SHT_NOBITS || !file.Contains(sh.sh_offset, sh.sh_size)) return false;
    offset = sh.sh_offset;
    size = sh.sh_size;
    return true;
  }
  return false;
}

}  // namespace

bool FindVersionSection(const std::string& FileName, std::uint64_t& Offset, std::uint64_t& Size) {
  TFileReader file(FileName);
  unsigned char ident[EI_NIDENT];
  if (!file.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
  // The record's fields are read as this machine's integers.
  const unsigned char order = std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
  if (ident[EI_DATA] != order) return false;
  switch (ident[EI_CLASS]) {
    case ELFCLASS32: return FindSection<Elf32_Ehdr, Elf32_Shdr>(file, PLANORA_VERSION_SECTION, Offset, Size);
    case ELFCLASS64: return FindSection<Elf64_Ehdr, Elf64_Shdr>(file, PLANORA_VERSION_SECTION, Offset, Size);
    default: return false;
  }
}

void ReadFileVersion(const std::string& FileName, FixedVersionInfo& Info) {
  Info = FixedVersionInfo{};
  std::uint64_t offset = 0, size = 0;
  if (!FindVersionSection(FileName, offset, size) || size < sizeof Info) return;
  FixedVersionInfo read{};
  // Only a complete read counts: a failure halfway leaves Info zero.
  if (TFileReader(FileName).Read(offset, &read, sizeof read)) Info = read;
}

std::string ModuleFileName() {
  Dl_info info{};
  // The version record itself: an object of this file that no other module
  // can stand in for.
  const void* self = &VersionRecord;
  if (dladdr(self, &info) && info.dli_fname && info.dli_fname[0] == '/') return info.dli_fname;
  // dladdr names the main program by the argv[0] it was started with, which may
  // be relative to a directory left long ago; the mappings know the real path.
  if (std::FILE* maps = std::fopen("/proc/self/maps", "r")) {
    char line[4096 + 128];
    const auto address = reinterpret_cast<std::uintptr_t>(self);
    std::string path;
    while (path.empty() && std::fgets(line, sizeof line, maps)) {
      std::uintptr_t from = 0, to = 0;
      if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR, &from, &to) != 2 || address < from || address >= to) continue;
      if (const char* slash = std::strchr(line, '/')) {
        path = slash;
        path.erase(path.find_last_not_of('\n') + 1);
      }
    }
    std::fclose(maps);
    if (!path.empty()) return path;
  }
  return info.dli_fname ? info.dli_fname : "";
}

#endif

std::string VersionText(const FixedVersionInfo& Info) {
  char text[32];
  std::snprintf(text, sizeof text, " %u.%u.%u.%u", static_cast<unsigned>(Info.FileVersionMS >> 16),
                static_cast<unsigned>(Info.FileVersionMS & 0xFFFF), static_cast<unsigned>(Info.FileVersionLS >> 16),
                static_cast<unsigned>(Info.FileVersionLS & 0xFFFF));
  return text;
}

std::string ModuleVersion() {
  FixedVersionInfo info;
  ReadFileVersion(ModuleFileName(), info);
  return VersionText(info);
}

}  // namespace planora
