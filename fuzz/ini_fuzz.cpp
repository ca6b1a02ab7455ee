// The settings file reader and writer on any file: reading never fails, and
// a value written into it, whatever the file held, reads back as written,
// while another key of the file keeps what it read before.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/inifiles.h"
#include "platform/sysutils.h"

using namespace planora;

namespace {

// A name the format can hold: no line ends, no brackets or '=', no
// surrounding blanks, not empty.
std::string Name(std::string s, const char* fallback) {
  std::string out;
  for (char c : s)
    if (c != '\r' && c != '\n' && c != '\0' && c != '[' && c != ']' && c != '=' && c != ';') out += c;
  while (!out.empty() && (out.front() == ' ' || out.front() == '\t')) out.erase(out.begin());
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  return out.empty() ? fallback : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last bytes, up to three zero bytes from the end, choose the section,
  // key and value; the rest is the file.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string parts[3];
  for (int i = 2; i >= 0; --i) {
    const std::size_t zero = text.rfind('\0');
    if (zero == std::string::npos) break;
    parts[i] = text.substr(zero + 1);
    text.erase(zero);
  }
  const std::string section = Name(parts[0], "Planroa"), key = Name(parts[1], "Inhash");
  std::string value;
  for (char c : parts[2])
    if (c != '\r' && c != '\n' && c != '\0') value += c;
  const std::string path = fuzz::PutFile("settings.ini", reinterpret_cast<const std::uint8_t*>(text.data()),
                                         text.size());
  std::string otherBefore;
  {
    TIniFile ini(path);
    otherBefore = ini.ReadString("Planroa", "Original_Groesse", "<none>");
    ini.ReadInteger(section, key, 0);
    ini.ReadFloat(section, key, 0);
    try {
      ini.WriteString(section, key, value);
    } catch (const Exception&) {
      return 0;  // a name the format cannot hold ("#key", "[key") is refused, as documented
    }
    try {
      ini.UpdateFile();
    } catch (const EInOutError&) {
      std::abort();  // a folder of our own: writing must work
    }
  }
  TIniFile again(path);
  // A value with blanks or quotes at its ends is quoted on writing, so any
  // value without a line end comes back exactly.
  if (again.ReadString(section, key, "<missing>") != value) std::abort();
  // Names are compared without regard to case, as the file's reader does.
  const auto equal = [](const std::string& a, const char* b) {
    return a.size() == std::strlen(b) &&
           std::equal(a.begin(), a.end(), b, [](char x, char y) { return std::tolower(x) == std::tolower(y); });
  };
  const bool same = equal(section, "Planroa") && equal(key, "Original_Groesse");
  if (!same && again.ReadString("Planroa", "Original_Groesse", "<none>") != otherBefore) std::abort();
  return 0;
}
