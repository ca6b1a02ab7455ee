#include "platform/atomicfile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "platform/sysutils.h"

namespace planora {

namespace {

std::atomic<unsigned> tempCounter{0};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(
#ifdef _WIN32
      "/\\"
#else
      "/"
#endif
  );
  return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

std::string WriteErrorText(int error) {
  const std::string text = std::generic_category().message(error);
#ifdef EDQUOT
  if (error == EDQUOT) return "the disk is full (" + text + ")";
#endif
  if (error == ENOSPC) return "the disk is full (" + text + ")";
  if (error == EFBIG) return "the file would exceed the size limit (" + text + ")";
  return text;
}

void TAtomicFile::Fail(const std::string& reason) const {
  throw EInOutError("Cannot write " + (what_.empty() ? std::string() : what_ + " ") + "\"" + fileName_ + "\": " +
                    reason);
}

#ifdef _WIN32

namespace {

std::string SystemMessage(DWORD error) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return "the disk is full";
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

bool ReadRegularFile(const std::string& fileName, std::string& text) {
  text.clear();
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(file) == FILE_TYPE_DISK;
  char buffer[65536];
  while (ok) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) ok = false;
    else if (n == 0) break;
    else text.append(buffer, n);
  }
  CloseHandle(file);
  return ok;
}

std::string TemporaryNameIn(const std::string& folder) {
  return folder + "\\.planora-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(tempCounter.fetch_add(1)) + ".tmp";
}

std::string WriteTargetProblem(const std::string& fileName) {
  const DWORD attributes = GetFileAttributesA(fileName.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is read-only; make it writable or choose another name";
  // Links on Windows need a privilege to make; the one rule there is not to
  // write through them.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link; give the file it points to";
  return "";
}

TAtomicFile::TAtomicFile(const std::string& fileName, const std::string& what)
    : fileName_(fileName), what_(what), target_(fileName), folder_(FolderOf(fileName)) {
  const std::string problem = WriteTargetProblem(fileName);
  if (!problem.empty()) Fail(problem);
  tempName_ = TemporaryNameIn(folder_);
  HANDLE file = CreateFileA(tempName_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    tempName_.clear();
    Fail("cannot create a temporary file in \"" + folder_ + "\": " + SystemMessage(error));
  }
  handle_ = file;
}

TAtomicFile::~TAtomicFile() {
  if (!committed_) Abandon();
}

void TAtomicFile::Abandon() noexcept {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (!tempName_.empty()) DeleteFileA(tempName_.c_str());
  tempName_.clear();
}

void TAtomicFile::Fail(const std::string& step, int error) const {
  Fail(step + ": " + SystemMessage(static_cast<DWORD>(error)));
}

void TAtomicFile::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
    DWORD n = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), p, chunk, &n, nullptr) || n == 0) {
      const DWORD error = GetLastError();
      Fail("write failed", static_cast<int>(error));
    }
    p += n;
    size -= n;
  }
}

void TAtomicFile::Commit() {
  HANDLE file = static_cast<HANDLE>(handle_);
  if (!FlushFileBuffers(file)) Fail("flush failed", static_cast<int>(GetLastError()));
  CloseHandle(file);
  handle_ = nullptr;
  if (!MoveFileExA(tempName_.c_str(), fileName_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    Fail("cannot replace the file", static_cast<int>(GetLastError()));
  tempName_.clear();
  committed_ = true;
}

#else

namespace {

std::string ErrnoMessage(int error) { return WriteErrorText(error); }

// --- Temporary names and signals -------------------------------------------
//
// A named temporary file is listed here while it exists; a terminating
// signal removes the listed files and then lets the signal do what it did
// before (the old handler, or the default ending). unlink() is safe in a
// handler; the names are fixed buffers so that nothing is allocated there.

constexpr int kSlots = 8;
constexpr std::size_t kNameMax = 4096;
char slotNames[kSlots][kNameMax];
std::atomic<bool> slotUsed[kSlots];
std::mutex slotMutex;
int slotsInUse = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};
struct sigaction oldActions[sizeof kSignals / sizeof kSignals[0]];

void RemoveOnSignal(int sig) {
  const int saved = errno;
  for (int i = 0; i < kSlots; ++i)
    if (slotUsed[i].load()) ::unlink(slotNames[i]);
  for (std::size_t k = 0; k < sizeof kSignals / sizeof kSignals[0]; ++k) {
    if (kSignals[k] != sig) continue;
    // A file size limit that a handler ignored would let the write fail with
    // EFBIG, which the writer reports; the other signals end the process.
    ::sigaction(sig, &oldActions[k], nullptr);
    ::raise(sig);
  }
  errno = saved;
}

int Register(const std::string& name) {
  if (name.size() >= kNameMax) return -1;
  std::lock_guard<std::mutex> lock(slotMutex);
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i].load()) continue;
    std::memcpy(slotNames[i], name.c_str(), name.size() + 1);
    slotUsed[i].store(true);
    if (slotsInUse++ == 0) {
      struct sigaction action {};
      action.sa_handler = RemoveOnSignal;
      sigemptyset(&action.sa_mask);
      for (std::size_t k = 0; k < sizeof kSignals / sizeof kSignals[0]; ++k) {
        struct sigaction old {};
        ::sigaction(kSignals[k], nullptr, &old);
        // An ignored signal cannot end the write; leave it ignored.
        if (old.sa_handler == SIG_IGN) {
          oldActions[k] = old;
          continue;
        }
        ::sigaction(kSignals[k], &action, &oldActions[k]);
      }
    }
    return i;
  }
  return -1;  // more writes at once than slots: the file is still removed on failure
}

void Unregister(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(slotMutex);
  slotUsed[slot].store(false);
  if (--slotsInUse == 0) {
    for (std::size_t k = 0; k < sizeof kSignals / sizeof kSignals[0]; ++k) {
      struct sigaction current {};
      ::sigaction(kSignals[k], nullptr, &current);
      if (current.sa_handler == RemoveOnSignal) ::sigaction(kSignals[k], &oldActions[k], nullptr);
    }
  }
}

class TSlot {
 public:
  explicit TSlot(const std::string& name) : slot_(Register(name)) {}
  ~TSlot() { Unregister(slot_); }
  TSlot(const TSlot&) = delete;
  TSlot& operator=(const TSlot&) = delete;

 private:
  int slot_;
};

// A temporary file of ours that a process no longer running left behind
// (SIGKILL, a power cut): ".planora-<pid>-<n>.tmp", owned by this user.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = ".planora-";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() < prefix.size() + 7 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == nullptr || *end != '-') continue;
    if (pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // its writer still runs
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Follows the links of the last component of fileName by the rule in the
// header. Sets `target` and `st` (st_mode 0 when nothing exists there);
// returns a problem in words, or "".
std::string ResolveTarget(const std::string& fileName, std::string& target, struct stat& st) {
  target = fileName;
  for (int hops = 0;; ++hops) {
    if (::lstat(target.c_str(), &st) != 0) {
      const int error = errno;
      st.st_mode = 0;
      if (error == ENOENT) {
        const std::string folder = FolderOf(target);
        struct stat fs {};
        if (::stat(folder.c_str(), &fs) != 0) {
          if (errno == ENOENT || errno == ENOTDIR) return "the folder \"" + folder + "\" does not exist";
          return "the folder \"" + folder + "\" cannot be reached: " + ErrnoMessage(errno);
        }
        if (!S_ISDIR(fs.st_mode)) return "\"" + folder + "\" is not a folder";
        return "";
      }
      if (error == ENOTDIR) return "\"" + FolderOf(target) + "\" is not a folder";
      return ErrnoMessage(error);
    }
    if (!S_ISLNK(st.st_mode)) return "";
    if (hops >= 40) return "it is a loop of links";
    const std::string folder = FolderOf(target);
    struct stat fs {};
    const bool folderOwnsIt = ::stat(folder.c_str(), &fs) == 0 && fs.st_uid == st.st_uid;
    if (st.st_uid != ::geteuid() && !folderOwnsIt)
      return "it is a link made by another user (user id " + std::to_string(st.st_uid) +
             "); Planora follows only links of the user or of the folder's owner";
    std::string dest(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(target.c_str(), dest.data(), dest.size());
    if (n < 0) return ErrnoMessage(errno);
    if (static_cast<std::size_t>(n) >= dest.size()) return "its link changed while it was read";
    dest.resize(static_cast<std::size_t>(n));
    // A descriptor's link in /proc (what /dev/stdout leads to) names no
    // path, "pipe:[1234]"; only the system can follow it, to a pipe, a
    // socket or a terminal, which is then written into.
    if (folder.compare(0, 6, "/proc/") == 0 && (dest.empty() || dest[0] != '/')) {
      if (::stat(target.c_str(), &st) != 0) return ErrnoMessage(errno);
      return "";
    }
    target = !dest.empty() && dest[0] == '/' ? dest : folder + "/" + dest;
  }
}

std::string CheckRegular(const struct stat& st) {
  if (st.st_mode == 0 || !S_ISREG(st.st_mode)) return "";
  // Even root, who could replace it, is stopped: the protection is the
  // owner's word that the file is not to be changed.
  if ((st.st_mode & 0222) == 0) return "it is read-only; make it writable or choose another name";
  return "";
}

}  // namespace

bool ReadRegularFile(const std::string& fileName, std::string& text) {
  text.clear();
  // O_NONBLOCK keeps a FIFO at that path from hanging the open.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
    }
  }
  ::close(fd);
  return ok;
}

std::string TemporaryNameIn(const std::string& folder) {
  return folder + "/.planora-" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter.fetch_add(1)) +
         ".tmp";
}

std::string WriteTargetProblem(const std::string& fileName) {
  std::string target;
  struct stat st {};
  std::string problem = ResolveTarget(fileName, target, st);
  if (!problem.empty()) return problem;
  if (st.st_mode == 0 || S_ISREG(st.st_mode)) return CheckRegular(st);
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return "";
  return "it is " + KindOf(st.st_mode) + ", which is not replaced by a file";
}

TAtomicFile::TAtomicFile(const std::string& fileName, const std::string& what) : fileName_(fileName), what_(what) {
  struct stat st {};
  std::string problem = ResolveTarget(fileName, target_, st);
  if (problem.empty()) problem = CheckRegular(st);
  if (problem.empty() && st.st_mode != 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
    problem = "it is " + KindOf(st.st_mode) + ", which is not replaced by a file";
  if (!problem.empty()) Fail(problem);
  folder_ = FolderOf(target_);

  if (st.st_mode != 0 && !S_ISREG(st.st_mode)) {
    // A device or a FIFO is the user's way of saying "send it there".
    direct_ = true;
    fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) Fail("cannot open it: " + ErrnoMessage(errno));
    return;
  }
  mode_ = st.st_mode != 0 ? static_cast<int>(st.st_mode & 07777) : static_cast<int>(NewFileMode());

  RemoveStaleTemporaries(folder_);
#ifdef O_TMPFILE
  // An anonymous file has no name to leave behind, whatever ends the run.
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      Fail("cannot create a file in the folder \"" + folder_ + "\": " + ErrnoMessage(errno));
    if (fd_ >= 0) return;
  }
#endif
  tempName_ = TemporaryNameIn(folder_);
  // Listed for the signal handlers before it exists, for as long as it does.
  slot_ = Register(tempName_);
  fd_ = ::open(tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    const int error = errno;
    Unregister(slot_);
    slot_ = -1;
    tempName_.clear();
    Fail("cannot create a file in the folder \"" + folder_ + "\": " + ErrnoMessage(error));
  }
}

TAtomicFile::~TAtomicFile() {
  if (!committed_) Abandon();
}

void TAtomicFile::Abandon() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempName_.empty()) {
    ::unlink(tempName_.c_str());
    Unregister(slot_);
    slot_ = -1;
    tempName_.clear();
  }
}

void TAtomicFile::Fail(const std::string& step, int error) const { Fail(step + ": " + ErrnoMessage(error)); }

bool TAtomicFile::Seekable() const { return ::lseek(fd_, 0, SEEK_CUR) >= 0; }

void TAtomicFile::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(n < 0 ? ErrnoMessage(errno) : ErrnoMessage(EIO));
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

void TAtomicFile::Commit() {
  if (direct_) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(ErrnoMessage(errno));
    committed_ = true;
    return;
  }
  // A file system without modes refusing this is no reason to lose the file.
  (void)::fchmod(fd_, static_cast<mode_t>(mode_));
  if (::fsync(fd_) != 0) Fail("cannot flush it to disk", errno);
  if (tempName_.empty()) {
    // The anonymous file gets a name of its own only for the moment of the
    // rename, listed for the signal handlers meanwhile.
    const std::string name = TemporaryNameIn(folder_);
    TSlot slot(name);
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
      Fail("cannot give the new file a name in \"" + folder_ + "\"", errno);
    if (::rename(name.c_str(), target_.c_str()) != 0) {
      const int error = errno;
      ::unlink(name.c_str());
      Fail("cannot replace it", error);
    }
  } else if (::rename(tempName_.c_str(), target_.c_str()) != 0) {
    Fail("cannot replace it", errno);
  }
  committed_ = true;
  // The data was synced above; a late close error changes nothing.
  ::close(fd_);
  fd_ = -1;
  if (!tempName_.empty()) {
    Unregister(slot_);  // the name it lists is the target's now
    slot_ = -1;
    tempName_.clear();
  }
  // Make the rename itself durable; the file is complete either way, so this
  // is best effort.
  const int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
}

#endif

void ReplaceFileAtomically(const std::string& fileName, const std::string& text, const std::string& what) {
  TAtomicFile file(fileName, what);
  file.Write(text.data(), text.size());
  file.Commit();
}

}  // namespace planora
