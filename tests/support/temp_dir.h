// A folder of a test's own under the system's temporary folder (TMPDIR
// where it is set, as on a machine whose /tmp is small or shared), made
// anew for each test and removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace planora::test {

class TTempDir {
 public:
  // `prefix` names the folder after the tests that use it, so that one a
  // crashed run left behind can be traced.
  explicit TTempDir(const std::string& prefix = "planora");
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // With forward slashes on every system.
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Every name in the folder: a leftover temporary file shows up here.
  std::set<std::string> Entries() const;

 private:
  std::string dir_;
};

// A file's bytes, written and read as they are (no line-end translation).
void WriteBytes(const std::string& path, const std::string& bytes);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string ReadBytes(const std::string& path);
std::vector<std::uint8_t> ReadByteVector(const std::string& path);

}  // namespace planora::test
