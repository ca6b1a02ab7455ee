// The version of the plug-in's own library file, read from the version
// record the file carries (see PLANORA_VERSION_SECTION in planora_plugin.h).
#pragma once

#include <cstdint>
#include <string>

namespace planora {

// The fixed part of a version record: only the two file version parts are
// used; a high part holds major << 16 | minor, a low part release << 16 | build.
struct FixedVersionInfo {
  std::uint32_t Signature;
  std::uint32_t StrucVersion;
  std::uint32_t FileVersionMS;
  std::uint32_t FileVersionLS;
  std::uint32_t ProductVersionMS;
  std::uint32_t ProductVersionLS;
  std::uint32_t FileFlagsMask;
  std::uint32_t FileFlags;
  std::uint32_t FileOS;
  std::uint32_t FileType;
  std::uint32_t FileSubtype;
};
static_assert(sizeof(FixedVersionInfo) == 44);

inline constexpr std::uint32_t VersionSignature = 0xFEEF04BD;

#ifdef _WIN32
// The module (HMODULE) this code was loaded with: the DLL, or the program it
// is linked into.
void* ModuleHandle();
#else
// Where the contents of the version section lie in an ELF file. False for a
// file that cannot be read, is no ELF file of this machine's byte order, is
// cut short, or has no such section.
bool FindVersionSection(const std::string& FileName, std::uint64_t& Offset, std::uint64_t& Size);
#endif

// The fixed record of FileName's version record (the ELF section on Linux,
// the VERSIONINFO resource on Windows); all zero when there is none.
void ReadFileVersion(const std::string& FileName, FixedVersionInfo& Info);

// The file the plug-in's code was loaded from (the shared library, or the
// program it is linked into).
std::string ModuleFileName();

// " major.minor.release.build" of the file version parts (a leading blank).
std::string VersionText(const FixedVersionInfo& Info);

// VersionText of ModuleFileName(), read from the file on
// every call; " 0.0.0.0" for a file without a version record.
std::string ModuleVersion();

}  // namespace planora
