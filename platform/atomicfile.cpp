#include "platform/atomicfile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/sysutils.h"

namespace planora {

namespace {

[[noreturn]] void ThrowWriteError(const std::string& what, const std::string& fileName, const std::string& step,
                                  const std::string& reason) {
  throw EInOutError("Cannot write " + what + " \"" + fileName + "\": " + step + ": " + reason);
}

}  // namespace

#ifdef _WIN32

namespace {

std::string SystemMessage(DWORD error) {
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

void ReplaceFileAtomically(const std::string& fileName, const std::string& text, const std::string& what) {
  // A name of our own beside the target: same volume, so the move is a rename.
  static std::atomic<unsigned> counter{0};
  const std::string tempName = fileName + "." + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(counter.fetch_add(1)) + ".tmp";
  HANDLE file = CreateFileA(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    ThrowWriteError(what, fileName, "cannot create a temporary file beside it", SystemMessage(GetLastError()));
  const auto abandon = [&](const std::string& step, DWORD error) {
    CloseHandle(file);
    DeleteFileA(tempName.c_str());
    ThrowWriteError(what, fileName, step, SystemMessage(error));
  };
  std::size_t written = 0;
  while (written < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1u << 20));
    DWORD n = 0;
    if (!WriteFile(file, text.data() + written, chunk, &n, nullptr) || n == 0) abandon("write failed", GetLastError());
    written += n;
  }
  if (!FlushFileBuffers(file)) abandon("flush failed", GetLastError());
  CloseHandle(file);
  if (!MoveFileExA(tempName.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileA(tempName.c_str());
    ThrowWriteError(what, fileName, "cannot replace the file", SystemMessage(error));
  }
}

#else

namespace {

std::string ErrnoMessage(int error) { return std::generic_category().message(error); }

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

void ReplaceFileAtomically(const std::string& fileName, const std::string& text, const std::string& what) {
  // Replacing a symbolic link would cut it; write where it points instead.
  std::string target = fileName;
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(target.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);

  // The new text goes into a temporary file next to the target and replaces
  // it by rename, which is atomic.
  std::string tempName = target + ".XXXXXX";
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0)
    ThrowWriteError(what, fileName, "cannot create a temporary file in \"" + folder + "\"", ErrnoMessage(errno));
  const auto abandon = [&](const std::string& step, int error) {
    ::close(fd);
    ::unlink(tempName.c_str());
    ThrowWriteError(what, fileName, step, ErrnoMessage(error));
  };

  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) abandon("write failed", n < 0 ? errno : EIO);
    written += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; give it the old file's permissions, or
  // those any newly created file would get. A file system without modes
  // refusing this is no reason to lose the file.
  (void)::fchmod(fd, ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : static_cast<mode_t>(NewFileMode()));
  if (::fsync(fd) != 0) abandon("fsync failed", errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(tempName.c_str());
    ThrowWriteError(what, fileName, "close failed", ErrnoMessage(error));
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempName.c_str());
    ThrowWriteError(what, fileName, "cannot replace the file", ErrnoMessage(error));
  }
  // Make the rename itself durable; a folder that cannot be synced still has
  // the complete new file, so this is best effort.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
}

#endif

}  // namespace planora
