// Whole small files read at once and replaced atomically: a reader or a
// crash sees the old file or the new one, never a mixture. The operating
// system's part lives here alone, so the settings code above is the same on
// Linux and Windows.
#pragma once

#include <string>

namespace planora {

// The whole contents of a regular file. False for a missing or unreadable
// file and for anything that is not a regular file (a FIFO or a device at
// that path is never waited on).
bool ReadRegularFile(const std::string& fileName, std::string& text);

// Writes text into a temporary file beside fileName and puts it in the
// file's place (rename on Linux, MoveFileEx with write-through on Windows).
// A symbolic link is written through, not replaced. On failure the old file
// is as it was, no temporary file is left, and EInOutError says
// "Cannot write <what> "<fileName>": <step>: <reason>".
void ReplaceFileAtomically(const std::string& fileName, const std::string& text, const std::string& what);

}  // namespace planora
