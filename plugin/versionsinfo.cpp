#include "plugin/versionsinfo.h"

#include <dlfcn.h>
#include <elf.h>

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "plugin/planora_plugin.h"

namespace planora {

namespace {

// Key and value pairs; the literal's own zero ends the list with an empty key.
#define PLANORA_VERSION_STRINGS                 \
  "ProductName\0Planora\0"                      \
  "FileDescription\0Plugin for Pictoria \0"     \
  "FileVersion\0" "2.1.0.0\0"                   \
  "ProductVersion\0" "2.0.0.0\0"

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
        (2u << 16) | 1u, 0u,    // file version 2.1.0.0
        (2u << 16) | 0u, 0u,    // product version 2.0.0.0
        0x3F, 0,                // flags mask; no flags
        0,                      // operating system: not one the record format names
        2,                      // file type: dynamic library
        0,
    },
    0x0809,  // English (United Kingdom)
    1252,
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
