// The module version, read from real ELF files: this test program carries the
// plug-in's version record; copies of it are changed on disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/planora_plugin.h"
#include "plugin/versionsinfo.h"
#include "tests/support/temp_dir.h"

using namespace planora;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

struct VersionFileTest : ::testing::Test {
  void SetUp() override {
    std::ifstream in(SelfPath, std::ios::binary);
    Self.assign(std::istreambuf_iterator<char>(in), {});
    ASSERT_TRUE(FindVersionSection(SelfPath, Offset, Size));
    ASSERT_LE(Offset + Size, Self.size());
  }

  std::string Write(const std::string& name, const std::vector<char>& bytes) {
    const std::string p = (Dir / name).string();
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  // FileName's record, read into fields that held garbage before.
  static FixedVersionInfo Read(const std::string& FileName) {
    FixedVersionInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ReadFileVersion(FileName, info);
    return info;
  }

  const std::string SelfPath = fs::canonical("/proc/self/exe").string();
  test::TTempDir Temp{"planora-version"};
  fs::path Dir{Temp.Dir()};
  std::vector<char> Self;
  std::uint64_t Offset = 0, Size = 0;
};

}  // namespace

TEST_F(VersionFileTest, OwnFileCarriesTheVersionsLanguageAndStrings) {
  EXPECT_EQ(fs::canonical(ModuleFileName()), SelfPath);
  EXPECT_EQ(ModuleVersion(), " 2.1.0.0");
  FixedVersionInfo info;
  ReadFileVersion(SelfPath, info);
  EXPECT_EQ(info.Signature, VersionSignature);
  EXPECT_EQ(info.ProductVersionMS, 2u << 16);
  EXPECT_EQ(info.ProductVersionLS, 0u);

  const std::string section(Self.data() + Offset, Size);
  EXPECT_EQ(section.substr(44, 4), "\x09\x08\xE4\x04"s);  // 0x0809, code page 1252
  EXPECT_EQ(section.substr(48, 20), "ProductName\0Planora\0"s);
  EXPECT_NE(section.find("\0FileDescription\0Plugin for Pictoria \0"s), std::string::npos);
  EXPECT_EQ(section.substr(section.size() - 2), "\0\0"s);  // the empty key that ends the list
}

TEST_F(VersionFileTest, TheVersionComesFromTheFileAsItIsNow) {
  std::vector<char> copy = Self;
  auto patch = [&](std::uint64_t at, std::uint32_t value) { std::memcpy(copy.data() + Offset + at, &value, 4); };
  patch(8, (3u << 16) | 4u);
  patch(12, (65535u << 16) | 6u);
  const std::string path = Write("patched", copy);
  EXPECT_EQ(VersionText(Read(path)), " 3.4.65535.6");
  patch(8, 9u << 16);
  Write("patched", copy);
  EXPECT_EQ(VersionText(Read(path)), " 9.0.65535.6");
}

TEST_F(VersionFileTest, FilesWithoutARecordGiveZeroes) {
  std::vector<char> renamed = Self;  // the same program with the section under another name
  const std::string name = PLANORA_VERSION_SECTION;
  for (auto it = renamed.begin(); (it = std::search(it, renamed.end(), name.begin(), name.end())) != renamed.end(); ++it)
    it[1] = '_';
  const std::vector<char> cut(Self.begin(), Self.begin() + static_cast<std::ptrdiff_t>(Offset + 20));
  const std::vector<char> elfHeaderOnly(Self.begin(), Self.begin() + 64);

  for (const std::string& path : {Write("renamed", renamed), Write("cut", cut), Write("header", elfHeaderOnly),
                                  Write("text", {'h', 'i', '\n'}), Write("empty", {}), (Dir / "missing").string(),
                                  Dir.string()}) {
    const FixedVersionInfo info = Read(path);
    const auto* bytes = reinterpret_cast<const char*>(&info);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof info, [](char c) { return c == 0; })) << path;
    EXPECT_EQ(VersionText(info), " 0.0.0.0");
  }
}
