#include "platform/inifiles.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "platform/sysutils.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

namespace fs = std::filesystem;

// The line end of a file the settings code makes: the platform's own.
#ifdef _WIN32
const std::string kNewLine = "\r\n";
#else
const std::string kNewLine = "\n";
#endif

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator('.'); }
  void TearDown() override { ResetDecimalSeparator(); }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static void Put(const std::string& path, const std::string& bytes) { test::WriteBytes(path, bytes); }
  static std::string Get(const std::string& path) { return test::ReadBytes(path); }
  std::set<std::string> Entries() const { return dir_.Entries(); }
  test::TTempDir dir_{"planora-ini"};
};

TEST_F(IniFileTest, MissingOrUnreadableGivesDefaultsAndNamesIgnoreCase) {
  {
    TIniFile none(Path("none.ini"));
    EXPECT_EQ(none.ReadInteger("Planroa", "Inhash", 7), 7);
    EXPECT_EQ(none.ReadFloat("Planroa", "Selection_a0", 1.5), 1.5);
  }
  EXPECT_TRUE(Entries().empty());  // reading alone never creates the file
  fs::create_directory(Path("folder.ini"));  // exists, but is no readable file
  EXPECT_EQ(TIniFile(Path("folder.ini")).ReadString("Planroa", "Inhash", "d"), "d");

  Put(Path("s.ini"),
      "[ planroa ]\r\nInhash=abc\r\n  SELECTION_A0 = 1.2.3\r\nselection_a1=\r\nOriginal_Groesse = 250 \r\n"
      "Original_Groesse=1\r\nq = \"  spaced  \" \r\n[PLANROA]\r\nother=1\r\n");
  TIniFile ini(Path("s.ini"));
  EXPECT_EQ(ini.ReadInteger("Planroa", "Inhash", 7), 7);
  EXPECT_EQ(ini.ReadFloat("Planroa", "Selection_a0", -1.0), -1.0);
  EXPECT_EQ(ini.ReadFloat("Planroa", "Selection_a1", -1.0), -1.0);
  EXPECT_EQ(ini.ReadString("Planroa", "Selection_a1", "d"), "");  // present but empty is not missing
  EXPECT_EQ(ini.ReadInteger("Planroa", "Original_Groesse", 0), 250);  // the first of duplicates wins
  EXPECT_EQ(ini.ReadString("Planroa", "Q", ""), "  spaced  ");
  EXPECT_EQ(ini.ReadString("Planroa", "other", "none"), "none");  // only in the second, ignored section
  EXPECT_EQ(ini.ReadInteger("Other", "Inhash", 4), 4);
}

TEST_F(IniFileTest, WritesChangeOnlyTheirOwnLines) {
  const std::string head =
      "; settings\nloose=1\ngarbage line without equals\n[Planroa]\n  INHASH =  5   \n# keep me\n"
      "Selection_a0=1.5\n\n; trailing comment\n[Other]\nInhash=77\n[planroa]\nInhash=99";  // no final line end
  Put(Path("s.ini"), head);
  {
    TIniFile ini(Path("s.ini"));
    ini.WriteInteger("Planroa", "Inhash", -12);
    ini.WriteFloat("planroa", "Selection_b0", 2.25);
    ini.WriteString("New", "Name", " padded ");
    EXPECT_EQ(Get(Path("s.ini")), head);  // nothing reaches the disk before UpdateFile
    ini.UpdateFile();
    ini.WriteInteger("Planroa", "Inhash", -12);
    EXPECT_FALSE(ini.Modified());  // the same value again is no change
    ini.WriteString("Other", "Inhash", "78");
    EXPECT_THROW(ini.WriteString("Planroa", "a", "1\n[Planroa]"), Exception);
  }  // the destructor writes the last change
  EXPECT_EQ(Get(Path("s.ini")),
            "; settings\nloose=1\ngarbage line without equals\n[Planroa]\n  INHASH =  -12   \n# keep me\n"
            "Selection_a0=1.5\nSelection_b0=2.25\n\n; trailing comment\n[Other]\nInhash=78\n[planroa]\nInhash=99\n"
            "\n[New]\nName=\" padded \"\n");
  EXPECT_EQ(TIniFile(Path("s.ini")).ReadString("new", "name", ""), " padded ");

  // CRLF files stay CRLF; new files get the platform's line ends.
  Put(Path("crlf.ini"), "[A]\r\nx=1\r\n; c\r\ny=2");
  {
    TIniFile crlf(Path("crlf.ini"));
    crlf.WriteString("A", "z", "3");
    crlf.WriteString("B", "w", "4");
    TIniFile fresh(Path("new.ini"));
    fresh.WriteString("A", "x", "1");
  }
  EXPECT_EQ(Get(Path("crlf.ini")), "[A]\r\nx=1\r\n; c\r\ny=2\r\nz=3\r\n\r\n[B]\r\nw=4\r\n");
  EXPECT_EQ(Get(Path("new.ini")), "[A]" + kNewLine + "x=1" + kNewLine);
  EXPECT_EQ(Entries(), (std::set<std::string>{"s.ini", "crlf.ini", "new.ini"}));
}

TEST_F(IniFileTest, UpdateKeepsWhatAnotherWriterPutIntoTheFileMeanwhile) {
  Put(Path("s.ini"), "[Planroa]\nInhash=5\nSelection_a0=1\n[Host]\nrecent=a.jpg\n");
  TIniFile ini(Path("s.ini"));
  ini.WriteInteger("Planroa", "Inhash", 6);
  ini.WriteFloat("Planroa", "Selection_a0", 1);  // the value read: still this object's to write
  // Another writer changes the file while this object holds it.
  Put(Path("s.ini"), "[Planroa]\nInhash=5\nSelection_a0=7\nOther=x\n[Host]\nrecent=b.jpg\nnew=1\n");
  ini.UpdateFile();
  EXPECT_EQ(Get(Path("s.ini")), "[Planroa]\nInhash=6\nSelection_a0=1\nOther=x\n[Host]\nrecent=b.jpg\nnew=1\n");
  EXPECT_EQ(ini.ReadString("Host", "new", ""), "1");  // reads now see the merged file

  // Nothing written since: another writer's later change stays as it is.
  Put(Path("s.ini"), "[Planroa]\nInhash=9\n");
  ini.UpdateFile();
  EXPECT_EQ(Get(Path("s.ini")), "[Planroa]\nInhash=9\n");
  // A file removed meanwhile is written from this object's writes and what it held.
  ini.WriteInteger("Planroa", "Inhash", 7);
  fs::remove(Path("s.ini"));
  ini.UpdateFile();
  EXPECT_EQ(TIniFile(Path("s.ini")).ReadInteger("Planroa", "Inhash", 0), 7);
  EXPECT_EQ(TIniFile(Path("s.ini")).ReadString("Host", "new", ""), "1");
  EXPECT_EQ(Entries(), (std::set<std::string>{"s.ini"}));
}

TEST_F(IniFileTest, FloatsRoundTripUnderEitherSeparator) {
  const double values[] = {-123.456, 5e-13, 0.1, 1e20, 0.0};
  for (char separator : {'.', ','}) {
    SetDecimalSeparator(separator);
    const std::string path = Path(std::string("f") + separator + ".ini");
    {
      TIniFile ini(path);
      for (int i = 0; i < 5; ++i) ini.WriteFloat("P", "v" + std::to_string(i), values[i]);
    }
    EXPECT_NE(Get(path).find(std::string("v0=-123") + separator + "456" + kNewLine), std::string::npos);
    // Read under the other separator: either kind of file reads everywhere.
    SetDecimalSeparator(separator == '.' ? ',' : '.');
    TIniFile ini(path);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ini.ReadFloat("P", "v" + std::to_string(i), -1.0), values[i]);
  }
}

TEST_F(IniFileTest, UnwritablePathRaisesAndKeepsTheOldFile) {
  // Tests run as root, who may write anywhere, but no one can create a file
  // under a missing folder or under a regular file.
  Put(Path("plain"), "x");
  for (const std::string& path : {Path("missing/s.ini"), Path("plain/s.ini")}) {
    TIniFile ini(path);
    ini.WriteInteger("Planroa", "Inhash", 1);
    try {
      ini.UpdateFile();
      ADD_FAILURE() << "no error for " << path;
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(ini.Modified());  // still pending for a retry
  }  // and the destructor swallows the same error

#ifndef _WIN32
  // The longest legal name is written: the temporary name does not grow it.
  // (Windows' ANSI calls stop at 260 bytes of path, so not there.)
  const std::string longName(255, 'n');
  Put(Path(longName), "[Planroa]\nInhash=5\n");
  {
    TIniFile ini(Path(longName));
    ini.WriteInteger("Planroa", "Inhash", 6);
    ini.UpdateFile();
  }
  EXPECT_EQ(Get(Path(longName)), "[Planroa]" + kNewLine + "Inhash=6" + kNewLine);
#endif
  fs::create_directory(Path("folder.ini"));  // a folder is never replaced by the file
  {
    TIniFile ini(Path("folder.ini"));
    ini.WriteInteger("Planroa", "Inhash", 6);
    EXPECT_THROW(ini.UpdateFile(), EInOutError);
  }
  EXPECT_TRUE(fs::is_empty(Path("folder.ini")));
#ifndef _WIN32
  EXPECT_EQ(Entries(), (std::set<std::string>{"plain", longName, "folder.ini"}));
#else
  EXPECT_EQ(Entries(), (std::set<std::string>{"plain", "folder.ini"}));
#endif
}

TEST_F(IniFileTest, GarbageDoesNotStopReading) {
  std::mt19937 random(12345);
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage += static_cast<char>(random() & 0xFF);
  std::string longLine(1 << 20, 'g');
  longLine[1000] = '\0';
  longLine[9000] = '=';
  const std::string text = garbage + "\n[Planroa]\n" + longLine + "\n" + std::string("a\0b=\xff", 5) +
                           "\nInhash=42";  // the key comes after the garbage, without a final line end
  Put(Path("g.ini"), text);
  {
    TIniFile ini(Path("g.ini"));
    EXPECT_EQ(ini.ReadInteger("Planroa", "Inhash", 0), 42);
    EXPECT_EQ(ini.ReadString("Planroa", std::string("a\0b", 3), ""), "\xff");
    EXPECT_EQ(ini.ReadInteger("Planroa", "Original_Groesse", 80), 80);
    ini.WriteInteger("Planroa", "Original_Groesse", 50);
  }
  EXPECT_EQ(Get(Path("g.ini")), text + "\nOriginal_Groesse=50\n");
  EXPECT_EQ(Entries(), std::set<std::string>{"g.ini"});
}

// A file that exists keeps its own line ends, also where new files get CRLF.
TEST_F(IniFileTest, FilesKeepTheirOwnLineEnds) {
  Put(Path("lf.ini"), "[Planroa]\nInhash=1\n");
  TIniFile(Path("lf.ini")).WriteString("Planroa", "Original_Groesse", "90");
  EXPECT_EQ(Get(Path("lf.ini")), "[Planroa]\nInhash=1\nOriginal_Groesse=90\n");
  EXPECT_EQ(Entries(), std::set<std::string>{"lf.ini"});
}

#ifndef _WIN32
TEST_F(IniFileTest, ReplacementKeepsModeAndLinks) {
  Put(Path("s.ini"), "[A]\nx=1\n");
  ASSERT_EQ(chmod(Path("s.ini").c_str(), 0640), 0);
  ASSERT_EQ(symlink("s.ini", Path("link.ini").c_str()), 0);
  TIniFile(Path("link.ini")).WriteString("A", "x", "2");
  EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
  EXPECT_EQ(Get(Path("s.ini")), "[A]\nx=2\n");
  struct stat st {};
  ASSERT_EQ(stat(Path("s.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}
#endif

}  // namespace
}  // namespace planora
