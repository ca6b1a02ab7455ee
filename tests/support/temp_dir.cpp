#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace planora::test {

namespace fs = std::filesystem;

TTempDir::TTempDir(const std::string& prefix) {
  // temp_directory_path honours TMPDIR (TMP and TEMP on Windows).
  const fs::path base = fs::temp_directory_path();
  std::random_device random;
  // create_directory is the test and the claim in one step: two test
  // programs running at once never share a folder.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = base / (prefix + "-" + std::to_string(random()));
    if (fs::create_directory(dir)) {
      dir_ = dir.generic_string();
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made in " + base.string());
}

TTempDir::~TTempDir() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::set<std::string> TTempDir::Entries() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
  return names;
}

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadByteVector(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadBytes(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

}  // namespace planora::test
