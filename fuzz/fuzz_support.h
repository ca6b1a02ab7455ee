// What the fuzz targets share: a folder of their own for the files the code
// under test reads by name, made once per process and removed at its end.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/scope_exit.h"

namespace planora::fuzz {

inline const std::string& Folder() {
  static const std::string folder = [] {
    // Memory-backed where there is such a folder: every write is synced.
    char pattern[] = "/dev/shm/planora-fuzz-XXXXXX";
    if (mkdtemp(pattern) != nullptr) return std::string(pattern);
    std::strcpy(pattern, "/tmp/planora-fuzz-XXXXXX");
    if (mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  static const TScopeExit remove([] {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  });
  return folder;
}

inline std::string PutFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = Folder() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

}  // namespace planora::fuzz
