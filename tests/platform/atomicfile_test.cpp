// The one rule every file Planora writes follows, attacked the way a hostile
// or merely unlucky environment would: special files, links of other users,
// protected files, long names, signals in the middle of a write, a full
// disk, two writers at once. Each case checks that the old file is intact or
// the new one complete, and that no temporary file is left.
#ifndef _WIN32
#include "platform/atomicfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

class AtomicFileTest : public ::testing::Test {
 protected:
  // A file system mounted over the folder goes before the folder does.
  void TearDown() override {
    if (mounted_) ::umount2(dir_.Dir().c_str(), MNT_DETACH);
  }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static void Put(const std::string& path, const std::string& bytes) { test::WriteBytes(path, bytes); }
  static std::string Get(const std::string& path) { return test::ReadBytes(path); }
  std::set<std::string> Entries() const { return dir_.Entries(); }
  static std::string MessageOf(const std::string& path, const std::string& text) {
    try {
      ReplaceFileAtomically(path, text, "test file");
    } catch (const EInOutError& e) {
      return e.Message();
    }
    return "";
  }
  test::TTempDir dir_{"planora-atomic"};
  bool mounted_ = false;
};

TEST_F(AtomicFileTest, SpecialFilesAreWrittenIntoOrRefusedNeverReplaced) {
  // A FIFO receives the data; the node stays a FIFO.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  const int fifoReader = open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifoReader, 0);
  ReplaceFileAtomically(Path("fifo"), "through the pipe", "test file");
  char received[64] = {};
  const ssize_t got = read(fifoReader, received, sizeof received);
  close(fifoReader);
  EXPECT_EQ(std::string(received, got > 0 ? static_cast<std::size_t>(got) : 0), "through the pipe");
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));

  // /dev/stdout is a link to /proc/self/fd/1: a link to a descriptor works
  // the same way and leaves the link as it was.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string fdLink = "/proc/self/fd/" + std::to_string(fds[1]);
  ASSERT_EQ(symlink(fdLink.c_str(), Path("out").c_str()), 0);
  ReplaceFileAtomically(Path("out"), "to the descriptor", "test file");
  close(fds[1]);
  char buffer[64] = {};
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(read(fds[0], buffer, sizeof buffer))), "to the descriptor");
  close(fds[0]);
  EXPECT_TRUE(fs::is_symlink(Path("out")));

  // A character device (our own /dev/null, made where the test may) stays one.
  if (geteuid() == 0 && mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    ReplaceFileAtomically(Path("null"), "gone", "test file");
    struct stat st {};
    ASSERT_EQ(lstat(Path("null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }

  // A socket and a folder cannot take a file's contents: refused with words.
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Path("sock").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_NE(MessageOf(Path("sock"), "x").find("it is a socket"), std::string::npos);
  close(sock);
  EXPECT_TRUE(fs::is_socket(Path("sock")));
  fs::create_directory(Path("folder"));
  EXPECT_NE(MessageOf(Path("folder"), "x").find("it is a folder"), std::string::npos);
  EXPECT_EQ(WriteTargetProblem(Path("sock")), "it is a socket, which is not replaced by a file");
  std::set<std::string> expected{"fifo", "out", "sock", "folder"};
  if (fs::exists(Path("null"))) expected.insert("null");
  EXPECT_EQ(Entries(), expected);
}

TEST_F(AtomicFileTest, LinksAreFollowedOnlyWhenTheUserOrTheFolderOwnerMadeThem) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  // A shared sticky folder (as /tmp), a victim's file elsewhere, and a link
  // to it planted by another user under the name the settings will be
  // written to.
  fs::create_directory(Path("shared"));
  ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
  Put(Path("important.conf"), "victim's text\n");
  ASSERT_EQ(symlink(Path("important.conf").c_str(), Path("shared/planora.ini").c_str()), 0);
  ASSERT_EQ(lchown(Path("shared/planora.ini").c_str(), 12345, 12345), 0);
  const std::string message = MessageOf(Path("shared/planora.ini"), "[Planroa]\n");
  EXPECT_NE(message.find("link made by another user"), std::string::npos) << message;
  EXPECT_EQ(Get(Path("important.conf")), "victim's text\n");
  EXPECT_TRUE(fs::is_symlink(Path("shared/planora.ini")));

  // The user's own link is followed and stays a link.
  ASSERT_EQ(lchown(Path("shared/planora.ini").c_str(), 0, 0), 0);
  ReplaceFileAtomically(Path("shared/planora.ini"), "new\n", "test file");
  EXPECT_EQ(Get(Path("important.conf")), "new\n");
  EXPECT_TRUE(fs::is_symlink(Path("shared/planora.ini")));

  // A link of the folder's owner is followed too, as /dev/stdout is: root's
  // link in root's /dev, followed for every user.
  fs::create_directory(Path("theirs"));
  ASSERT_EQ(symlink(Path("important.conf").c_str(), Path("theirs/l").c_str()), 0);
  ASSERT_EQ(lchown(Path("theirs/l").c_str(), 12345, 12345), 0);
  ASSERT_EQ(chown(Path("theirs").c_str(), 12345, 12345), 0);
  EXPECT_EQ(WriteTargetProblem(Path("theirs/l")), "");
  EXPECT_EQ(Entries(), (std::set<std::string>{"shared", "important.conf", "theirs"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("shared")), fs::directory_iterator()), 1);
}

TEST_F(AtomicFileTest, ReadOnlyTargetsAreRefusedAndLongNamesFit) {
  Put(Path("locked.ini"), "old\n");
  ASSERT_EQ(chmod(Path("locked.ini").c_str(), 0444), 0);
  EXPECT_NE(MessageOf(Path("locked.ini"), "new\n").find("read-only"), std::string::npos);
  EXPECT_EQ(Get(Path("locked.ini")), "old\n");

  // The longest legal names: the temporary name must not grow them.
  for (std::size_t length : {248, 250, 255}) {
    const std::string name(length, 'n');
    ReplaceFileAtomically(Path(name), "long\n", "test file");
    ReplaceFileAtomically(Path(name), "longer\n", "test file");
    EXPECT_EQ(Get(Path(name)), "longer\n");
    fs::remove(Path(name));
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"locked.ini"}));
}

// Makes this process see a /proc without descriptor links, as on a system
// where anonymous files cannot be named: the writer then takes its hidden
// named temporary file. Needs root (a mount namespace of its own).
bool HideDescriptorLinks() {
  return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", "/proc", "tmpfs", 0, "size=16k") == 0 && access("/proc/self/fd", X_OK) != 0;
}

// A child that opens a write of `size` bytes, writes half, tells the parent
// and waits to be stopped by `sig`. Returns how the child ended.
int InterruptedWrite(const std::string& path, int sig, std::size_t size, bool named = false) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    if (named && !HideDescriptorLinks()) _exit(5);
    try {
      TAtomicFile file(path, "test file");
      const std::string half(size / 2, 'n');
      file.Write(half.data(), half.size());
      if (write(ready[1], "r", 1) != 1) _exit(3);
      if (sig == SIGXFSZ) {
        rlimit small{static_cast<rlim_t>(size / 2), static_cast<rlim_t>(size / 2)};
        setrlimit(RLIMIT_FSIZE, &small);
        file.Write(half.data(), half.size());  // the limit's signal ends the process here
      }
      for (;;) pause();
    } catch (...) {
      _exit(4);
    }
  }
  close(ready[1]);
  char c = 0;
  if (read(ready[0], &c, 1) != 1) return -1;
  close(ready[0]);
  if (sig != SIGXFSZ) kill(child, sig);
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST_F(AtomicFileTest, SignalsDuringAWriteLeaveTheOldFileAndNoTemporaryOne) {
  const std::string target = Path("photo.ini");
  Put(target, "old contents\n");
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    const int status = InterruptedWrite(target, sig, 8 << 20);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(Get(target), "old contents\n");
    EXPECT_EQ(Entries(), (std::set<std::string>{"photo.ini"}));
  }

  // What a writer killed on a file system without anonymous files leaves:
  // recognisably ours and of a process that is gone, so the next write in
  // that folder removes it. Someone else's hidden file stays.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string stale = ".planora-" + std::to_string(gone) + "-0.tmp";
  Put(Path(stale), "half a photo");
  Put(Path(".planora-notes.tmp"), "not ours");
  ReplaceFileAtomically(target, "new contents\n", "test file");
  EXPECT_EQ(Get(target), "new contents\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"photo.ini", ".planora-notes.tmp"}));
}

TEST_F(AtomicFileTest, ANamedTemporaryFileIsRemovedOnSignalsAndAfterAKillByTheNextWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding the descriptor links needs root; not run";
  const pid_t probe = fork();
  if (probe == 0) _exit(HideDescriptorLinks() ? 0 : 1);
  int probeStatus = 0;
  waitpid(probe, &probeStatus, 0);
  if (!WIFEXITED(probeStatus) || WEXITSTATUS(probeStatus) != 0)
    GTEST_SKIP() << "no mount namespace of our own here; not run";

  const std::string target = Path("photo.ini");
  Put(target, "old contents\n");
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ}) {
    SCOPED_TRACE(strsignal(sig));
    const int status = InterruptedWrite(target, sig, 8 << 20, true);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(Get(target), "old contents\n");
    EXPECT_EQ(Entries(), (std::set<std::string>{"photo.ini"}));
  }
  // A kill cannot be handled: the half-written file stays under the name a
  // later write recognises as a dead writer's, and that write removes it.
  const int status = InterruptedWrite(target, SIGKILL, 8 << 20, true);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const std::set<std::string> left = Entries();
  ASSERT_EQ(left.size(), 2u);
  const std::string stale = *left.rbegin() == "photo.ini" ? *left.begin() : *left.rbegin();
  EXPECT_EQ(stale.rfind(".planora-", 0), 0u) << stale;
  EXPECT_EQ(fs::file_size(Path(stale)), 4u << 20);
  ReplaceFileAtomically(target, "new contents\n", "test file");
  EXPECT_EQ(Get(target), "new contents\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"photo.ini"}));
}

TEST_F(AtomicFileTest, AFullDiskSaysSoAndKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "a small tmpfs for a full disk needs root; not run";
  if (mount("tmpfs", dir_.Dir().c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno) << "); not run";
  mounted_ = true;
  Put(Path("s.ini"), "old\n");
  const std::string message = MessageOf(Path("s.ini"), std::string(1 << 20, 'x'));
  EXPECT_NE(message.find("the disk is full"), std::string::npos) << message;
  EXPECT_EQ(Get(Path("s.ini")), "old\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"s.ini"}));
}

TEST_F(AtomicFileTest, TwoWritersOfOneFileLeaveOneCompleteFile) {
  const std::string target = Path("out.ini");
  const std::string a(3 << 20, 'a'), b(2 << 20, 'b');
  pid_t children[2];
  for (int k = 0; k < 2; ++k) {
    children[k] = fork();
    if (children[k] == 0) {
      for (int i = 0; i < 20; ++i) ReplaceFileAtomically(target, k == 0 ? a : b, "test file");
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string result = Get(target);
  EXPECT_TRUE(result == a || result == b) << result.size();
  EXPECT_EQ(Entries(), (std::set<std::string>{"out.ini"}));
}

}  // namespace
}  // namespace planora
#endif
