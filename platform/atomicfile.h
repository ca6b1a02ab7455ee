// Every file Planora writes (a photo, a report, the settings file) goes
// through TAtomicFile, so one rule holds for all of them:
//
// - A regular file is replaced whole: the data goes to an anonymous file in
//   the target's folder (O_TMPFILE), or where the file system has none to a
//   short hidden ".planora-<pid>-<n>.tmp" beside it, and is renamed into
//   place once complete. A reader or a crash sees the old file or the new
//   one, never a mixture.
// - A target that exists and is not a regular file is never replaced: a
//   character device or a FIFO (/dev/null, /dev/stdout, a pipe) is written
//   into directly; anything else (a folder, a socket, a block device) is
//   refused with a message saying what it is.
// - A read-only target is refused, even for a user who could replace it.
// - A symbolic link is followed only when it belongs to the user or to the
//   owner of the folder it is in (the kernel's rule for protected links);
//   a link someone else planted is refused, not followed.
// - Nothing is left behind: a failure removes the temporary file, so do
//   SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGXFSZ during a write; after
//   SIGKILL an anonymous file simply vanishes, and a named one left by a
//   process that no longer runs is removed by the next write in its folder.
#pragma once

#include <cstddef>
#include <string>

namespace planora {

// The whole contents of a regular file. False for a missing or unreadable
// file and for anything that is not a regular file (a FIFO or a device at
// that path is never waited on).
bool ReadRegularFile(const std::string& fileName, std::string& text);

// Why fileName cannot be written, in words for a message ("it is a
// folder", "it is read-only ..."), or "" when it can be tried. Checks what
// can be known without writing: the folder, the kind of file, its
// protection, the link at its name.
std::string WriteTargetProblem(const std::string& fileName);

// An errno value in words for a failed write; a full disk says so.
std::string WriteErrorText(int error);

// One write by the rule above. Errors are EInOutError saying
// "Cannot write <what> "<fileName>": <reason>".
class TAtomicFile {
 public:
  // Checks the target and opens the temporary file (or the special file).
  TAtomicFile(const std::string& fileName, const std::string& what);
  // Without Commit(), the target stays as it was and the temporary file goes.
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  void Write(const void* data, std::size_t size);
  // Flushes and puts the new file in the target's place.
  void Commit();
  // The data goes straight into a device or FIFO (no rename, no seeking
  // back on a FIFO).
  bool Direct() const { return direct_; }
  const std::string& FileName() const { return fileName_; }

  // The message for a failure while writing (errno-style code; ENOSPC and
  // EDQUOT say the disk is full).
  [[noreturn]] void Fail(const std::string& step, int error) const;
  [[noreturn]] void Fail(const std::string& reason) const;

#ifndef _WIN32
  // For encoders that write through their own calls; Write() is the same
  // descriptor.
  int Descriptor() const { return fd_; }
  // A device or FIFO written directly may not be able to seek.
  bool Seekable() const;
#endif

 private:
  void Abandon() noexcept;

  std::string fileName_;  // as the user gave it, for messages
  std::string what_;
  std::string target_;  // after following links
  std::string folder_;
  std::string tempName_;  // a named temporary file, "" for an anonymous one
  bool direct_ = false;
  bool committed_ = false;
  int mode_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  int slot_ = -1;  // the named temporary file's place in the signal handlers' list
#endif
};

// Writes text by the rule above.
void ReplaceFileAtomically(const std::string& fileName, const std::string& text, const std::string& what);

// The hidden name a temporary file of this process gets in `folder`:
// ".planora-<pid>-<n>.tmp", short whatever the target's name is.
std::string TemporaryNameIn(const std::string& folder);

}  // namespace planora
