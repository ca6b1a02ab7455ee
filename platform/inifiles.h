// Settings files in the INI format, with the behaviour of the classic private
// profile functions: sections and keys compare case-insensitively, the first
// of duplicate sections or keys wins, a missing key, section or file or an
// unreadable value gives the caller's default.
//
// The file is read once when the object is made. Writes change the text in
// memory and keep every other section, key, comment and unreadable line as it
// was. UpdateFile, when something changed, reads the file again and applies
// this object's writes to what is on disk then, so keys another writer put
// there meanwhile survive; it writes the result through a temporary file in the same
// folder and a rename, so a crash never leaves half a file, and a path that
// cannot be written raises EInOutError and leaves the old file as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace planora {

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);
  // Writes pending changes (errors are swallowed here: call UpdateFile to see them).
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  bool SectionExists(const std::string& section) const;

  // Value text with surrounding blanks removed (and one pair of surrounding
  // double quotes); fallback when the key is missing.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  // Decimal (or $/0x hexadecimal) 32-bit integer; fallback when missing or unreadable.
  std::int32_t ReadInteger(const std::string& section, const std::string& key, std::int32_t fallback) const;
  // Decimal number; both '.' and ',' are taken as the decimal separator, so a
  // file written under another locale still reads. Fallback when missing or unreadable.
  double ReadFloat(const std::string& section, const std::string& key, double fallback) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
  // General format, 15 significant digits, the user's decimal separator.
  void WriteFloat(const std::string& section, const std::string& key, double value);

  // Writes the file if anything changed since it was read or last written.
  void UpdateFile();
  bool Modified() const { return modified_; }

 private:
  // Puts an encoded value into lines_; true when the text changed.
  bool SetValue(const std::string& section, const std::string& key, const std::string& encoded);
  // Reads the file on disk again and applies this object's writes to it.
  void MergeWithDisk();
  struct TWrite {
    std::string Section, Key, Encoded;
  };

  std::string fileName_;
  std::vector<std::string> lines_;
  // Line ends of a new file: the platform's own; a read file keeps its own.
#ifdef _WIN32
  bool crlf_ = true;
#else
  bool crlf_ = false;
#endif
  bool modified_ = false;
  // Every key written through this object, with its last value.
  std::vector<TWrite> writes_;
};

}  // namespace planora
