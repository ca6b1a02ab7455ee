#include "platform/inifiles.h"

#include <string_view>
#include <utility>

#include "platform/atomicfile.h"
#include "platform/sysutils.h"

namespace planora {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// What one stored line means. Lines are kept exactly as read (a CRLF file's
// lines still end in '\r'), so a rewrite can change a value and nothing else.
struct ParsedLine {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;       // section name or key, trimmed
  std::size_t valueBegin = 0;  // the value's bytes in the line, trimmed
  std::size_t valueEnd = 0;
};

ParsedLine Parse(const std::string& line) {
  ParsedLine parsed;
  std::string_view s(line);
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  const std::string_view body = Trim(s);
  if (body.empty() || body[0] == ';' || body[0] == '#') return parsed;
  if (body[0] == '[') {
    const std::size_t close = body.find(']');
    if (close != std::string_view::npos) {
      parsed.kind = ParsedLine::kSection;
      parsed.name = Trim(body.substr(1, close - 1));
    }
    return parsed;
  }
  const std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return parsed;
  parsed.name = Trim(s.substr(0, eq));
  if (parsed.name.empty()) return parsed;
  parsed.kind = ParsedLine::kKey;
  std::size_t begin = eq + 1, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  parsed.valueBegin = begin;
  parsed.valueEnd = end;
  return parsed;
}


bool IsBlankLine(const std::string& line) {
  std::string_view s(line);
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return Trim(s).empty();
}

// Refuses what the file could not hold: a line break would split the line, and
// an '=' in a key or ']' in a section name would be read back differently.
void CheckNames(const std::string& section, const std::string& key, const std::string& value) {
  const auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  const std::string_view trimmedKey = Trim(key);
  if (hasBreak(section) || hasBreak(key) || hasBreak(value) || section.find(']') != std::string::npos ||
      key.find('=') != std::string::npos || trimmedKey.empty() || trimmedKey[0] == '[' || trimmedKey[0] == ';' ||
      trimmedKey[0] == '#') {
    throw Exception("Cannot store key \"" + key + "\" of section \"" + section + "\" in a settings file");
  }
}

// Reading strips blanks and one pair of quotes, so a value that starts or ends
// with either is quoted to come back unchanged.
std::string Encode(const std::string& value) {
  const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                        (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  return quote ? '"' + value + '"' : value;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  // A missing or unreadable file is an empty one: every read gives its
  // default, and the first UpdateFile creates or reports the problem.
  std::string text;
  if (!ReadRegularFile(fileName_, text)) return;

  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (lines_.empty() && end < text.size()) crlf_ = end > start && text[end - 1] == '\r';
    lines_.emplace_back(text, start, end - start);
    start = end + 1;
  }
  // A last line without a line end gets the file's own one when written.
  if (crlf_ && !text.empty() && text.back() != '\n' && lines_.back().back() != '\r') lines_.back() += '\r';
}

TIniFile::~TIniFile() {
  try {
    UpdateFile();
  } catch (...) {
    // A destructor cannot report; callers that care call UpdateFile first.
  }
}

namespace {

// Index of the first header of `section`, or lines.size().
std::size_t FindSection(const std::vector<std::string>& lines, const std::string& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine p = Parse(lines[i]);
    if (p.kind == ParsedLine::kSection && SameName(p.name, section)) return i;
  }
  return lines.size();
}

// Index of the first `key` line in the section whose header is at `header`,
// or lines.size(); lastKey gets the section's last key line (or its header).
std::size_t FindKey(const std::vector<std::string>& lines, std::size_t header, const std::string& key,
                    std::size_t* lastKey = nullptr) {
  if (lastKey != nullptr) *lastKey = header;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    const ParsedLine p = Parse(lines[i]);
    if (p.kind == ParsedLine::kSection) break;
    if (p.kind != ParsedLine::kKey) continue;
    if (SameName(p.name, key)) return i;
    if (lastKey != nullptr) *lastKey = i;
  }
  return lines.size();
}

}  // namespace

bool TIniFile::SectionExists(const std::string& section) const {
  return FindSection(lines_, section) < lines_.size();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const std::size_t header = FindSection(lines_, section);
  if (header == lines_.size()) return fallback;
  const std::size_t index = FindKey(lines_, header, key);
  if (index == lines_.size()) return fallback;
  const ParsedLine p = Parse(lines_[index]);
  std::string_view value(lines_[index].data() + p.valueBegin, p.valueEnd - p.valueBegin);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, std::int32_t fallback) const {
  return StrToIntDef(ReadString(section, key, ""), fallback);
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key, double fallback) const {
  double value;
  // ',' here plus the '.' that is always taken: a file from either kind of locale reads.
  return TryStrToFloat(ReadString(section, key, ""), value, ',') ? value : fallback;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  CheckNames(section, key, value);
  const std::string encoded = Encode(value);
  if (SetValue(section, key, encoded)) modified_ = true;
  // Remembered for the merge with the file as UpdateFile finds it; the last
  // write of a key is the one that counts.
  for (TWrite& w : writes_) {
    if (SameName(w.Section, section) && SameName(w.Key, key)) {
      w.Encoded = encoded;
      return;
    }
  }
  writes_.push_back(TWrite{section, key, encoded});
}

bool TIniFile::SetValue(const std::string& section, const std::string& key, const std::string& encoded) {
  const std::string lineEnd = crlf_ ? "\r" : "";
  const std::size_t header = FindSection(lines_, section);
  if (header == lines_.size()) {
    if (!lines_.empty() && !IsBlankLine(lines_.back())) lines_.push_back(lineEnd);
    lines_.push_back("[" + section + "]" + lineEnd);
    lines_.push_back(key + "=" + encoded + lineEnd);
    return true;
  }
  std::size_t lastKey;
  const std::size_t index = FindKey(lines_, header, key, &lastKey);
  if (index == lines_.size()) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKey + 1), key + "=" + encoded + lineEnd);
    return true;
  }
  // Only the value's bytes change: the key's spelling, the blanks around '='
  // and the line end stay as the file had them.
  std::string& line = lines_[index];
  const ParsedLine p = Parse(line);
  if (line.compare(p.valueBegin, p.valueEnd - p.valueBegin, encoded) == 0) return false;
  line.replace(p.valueBegin, p.valueEnd - p.valueBegin, encoded);
  return true;
}

void TIniFile::MergeWithDisk() {
  // Read as a new object reads it. A file that is gone or empty now keeps
  // what this object holds: there is nothing on disk to keep.
  TIniFile disk(fileName_);
  if (disk.lines_.empty()) return;
  lines_ = std::move(disk.lines_);
  crlf_ = disk.crlf_;
  for (const TWrite& w : writes_) SetValue(w.Section, w.Key, w.Encoded);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  WriteString(section, key, FloatToStr(value));
}

void TIniFile::UpdateFile() {
  if (modified_) MergeWithDisk();
  if (!modified_) return;

  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += '\n';
  }
  ReplaceFileAtomically(fileName_, text, "settings file");
  modified_ = false;
}

}  // namespace planora
