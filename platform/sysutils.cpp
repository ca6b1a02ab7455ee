#include "platform/sysutils.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace planora {

namespace {

// Integer conversions share one range check so that NaN, the infinities and
// every value outside 32 bits fail in the same way.
std::int32_t CheckedInt32(long double integral) {
  if (!(integral >= static_cast<long double>(INT32_MIN) && integral <= static_cast<long double>(INT32_MAX))) {
    throw ERangeError();
  }
  return static_cast<std::int32_t>(integral);
}

}  // namespace

std::int32_t Round(long double value) {
  if (!std::isfinite(value)) throw ERangeError();
  // Ties to even is done by hand rather than with nearbyint so the result does
  // not depend on a rounding mode some host code may have left behind.
  // value - floor(value) is exact for every value that can pass the range check.
  long double result = std::floor(value);
  const long double fraction = value - result;
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(result, 2.0L) != 0.0L)) result += 1.0L;
  return CheckedInt32(result);
}

std::int32_t Trunc(long double value) {
  if (!std::isfinite(value)) throw ERangeError();
  return CheckedInt32(std::trunc(value));
}

std::int32_t Floor(long double value) {
  if (!std::isfinite(value)) throw ERangeError();
  return CheckedInt32(std::floor(value));
}

std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
  std::int32_t result;
  if (__builtin_add_overflow(a, b, &result)) throw EIntOverflow();
  return result;
}

std::int32_t CheckedSub(std::int32_t a, std::int32_t b) {
  std::int32_t result;
  if (__builtin_sub_overflow(a, b, &result)) throw EIntOverflow();
  return result;
}

std::int32_t CheckedMul(std::int32_t a, std::int32_t b) {
  std::int32_t result;
  if (__builtin_mul_overflow(a, b, &result)) throw EIntOverflow();
  return result;
}

double Divide(double dividend, double divisor) {
  if (divisor == 0.0) throw EZeroDivide();
  return dividend / divisor;
}

// ---------------------------------------------------------------------------
// Decimal separator

namespace {

// 0 means "not set" for both: no override, locale not read yet.
std::atomic<char> separatorOverride{0};
std::atomic<char> localeSeparator{0};

// Multi-byte separators (some locales use U+066B) cannot be a char; digits,
// signs and blanks would make the texts unreadable.
char UsableSeparator(const char* radix) {
  if (radix == nullptr || radix[0] == '\0' || radix[1] != '\0') return '.';
  const unsigned char c = static_cast<unsigned char>(radix[0]);
  if (c > ' ' && c < 0x7F && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != 'e' && c != 'E') {
    return static_cast<char>(c);
  }
  return '.';
}

#ifdef _WIN32
// The user's regional settings, as every Windows program shows numbers.
char SeparatorFromLocale() {
  char radix[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, radix, sizeof radix) == 0) return '.';
  return UsableSeparator(radix);
}
#else
// Reads LC_NUMERIC from the environment into a private locale object, so the
// process's global locale (which a host application owns) is never touched.
char SeparatorFromLocale() {
  char result = '.';
  locale_t numeric = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (numeric != static_cast<locale_t>(0)) {
    result = UsableSeparator(nl_langinfo_l(RADIXCHAR, numeric));
    freelocale(numeric);
  }
  return result;
}
#endif

}  // namespace

char DecimalSeparator() {
  const char forced = separatorOverride.load(std::memory_order_relaxed);
  if (forced != 0) return forced;
  char cached = localeSeparator.load(std::memory_order_relaxed);
  if (cached == 0) {
    // Two threads may both read the locale; they get the same answer.
    cached = SeparatorFromLocale();
    localeSeparator.store(cached, std::memory_order_relaxed);
  }
  return cached;
}

void SetDecimalSeparator(char separator) { separatorOverride.store(separator, std::memory_order_relaxed); }

void ResetDecimalSeparator() {
  separatorOverride.store(0, std::memory_order_relaxed);
  // Read the locale again on next use: the environment may have changed since.
  localeSeparator.store(0, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Number to text

std::string IntToStr(long long value) { return std::to_string(value); }

namespace {

// A finite double as sign, significant digits and decimal exponent:
// |value| = d0.d1d2... * 10^exponent; no digits for zero.
struct DecimalDigits {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// The exact decimal expansion of a double has at most 767 significant digits,
// so printing that many leaves nothing for printf to round: rounding half away
// from zero is then decided on the true value, not on an already rounded text.
DecimalDigits Decompose(double value) {
  DecimalDigits d;
  d.negative = std::signbit(value);
  if (value == 0.0) return d;
  char buffer[800];
  std::snprintf(buffer, sizeof buffer, "%.767e", std::fabs(value));
  // The global locale decides printf's decimal point; skip whatever it is.
  const char* p = buffer;
  for (; *p != '\0' && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') d.digits += *p;
  }
  if (*p == 'e') d.exponent = std::atoi(p + 1);
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keeps `keep` significant digits, half away from zero. A carry out of the first
// digit raises the exponent; keep <= 0 rounds at or above the leading digit.
void RoundDigits(DecimalDigits& d, int keep) {
  if (d.digits.empty() || keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
    if (i >= 0) {
      ++d.digits[i];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.exponent = 0;
}

// Digit i of the number counted from the leading digit, zero past the end.
char DigitAt(const DecimalDigits& d, int i) {
  return i >= 0 && i < static_cast<int>(d.digits.size()) ? d.digits[i] : '0';
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Plain decimal text with `decimals` digits after the separator, or as many as
// the digits need when decimals is negative. A value that rounded to zero gets
// no minus sign: "-0.000" would only confuse a reader.
std::string PlainText(const DecimalDigits& d, int decimals) {
  std::string text;
  if (d.negative && !d.digits.empty()) text += '-';
  if (d.exponent < 0 || d.digits.empty()) {
    text += '0';
  } else {
    for (int i = 0; i <= d.exponent; ++i) text += DigitAt(d, i);
  }
  const int needed = d.digits.empty() ? 0 : static_cast<int>(d.digits.size()) - d.exponent - 1;
  const int count = decimals < 0 ? std::max(needed, 0) : decimals;
  if (count > 0) {
    text += DecimalSeparator();
    for (int i = 1; i <= count; ++i) text += DigitAt(d, d.exponent + i);
  }
  return text;
}

std::string ScientificText(const DecimalDigits& d) {
  std::string text;
  if (d.negative) text += '-';
  text += d.digits[0];
  if (d.digits.size() > 1) {
    text += DecimalSeparator();
    text.append(d.digits, 1, std::string::npos);
  }
  text += 'E';
  text += std::to_string(d.exponent);
  return text;
}

}  // namespace

std::string FloatToStrGeneral(double value, int precision) {
  if (!std::isfinite(value)) return NonFinite(value);
  precision = std::clamp(precision, 1, 18);
  DecimalDigits d = Decompose(value);
  RoundDigits(d, precision);
  if (d.digits.empty()) return "0";
  // The test is on the rounded value: 9.99999999999999999E-6 prints as 0.00001.
  if (d.exponent + 1 <= precision && d.exponent >= -5) return PlainText(d, -1);
  return ScientificText(d);
}

std::string FloatToStr(double value) { return FloatToStrGeneral(value, 15); }

std::string FloatToStrFixed(double value, int precision, int digits) {
  if (!std::isfinite(value)) return NonFinite(value);
  precision = std::clamp(precision, 1, 18);
  digits = std::clamp(digits, 0, 18);
  DecimalDigits d = Decompose(value);
  if (!d.digits.empty()) {
    // Significant digits up to the last shown decimal, capped by the precision.
    RoundDigits(d, std::min(precision, d.exponent + 1 + digits));
    // Rounding may have carried into one more integer digit (99999.7 -> 100000).
    if (!d.digits.empty() && d.exponent + 1 > precision) return FloatToStrGeneral(value, precision);
  }
  return PlainText(d, digits);
}

// ---------------------------------------------------------------------------
// Text to number

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without surrounding blanks, as [begin, end).
void TrimBlanks(const std::string& text, std::size_t& begin, std::size_t& end) {
  begin = 0;
  end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TryStrToInt(const std::string& text, std::int32_t& value) {
  std::size_t i, end;
  TrimBlanks(text, i, end);
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < end && text[i] == '$') {
    base = 16;
    ++i;
  } else if (end - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == end) return false;
  // Hexadecimal texts are numbers like the decimal ones, not bit patterns:
  // "$FFFFFFFF" is beyond 32 bits rather than -1.
  const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
  long long magnitude = 0;
  for (; i < end; ++i) {
    const int digit = base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

std::int32_t StrToInt(const std::string& text) {
  std::int32_t value;
  if (!TryStrToInt(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
  std::int32_t value;
  return TryStrToInt(text, value) ? value : fallback;
}

bool TryStrToFloat(const std::string& text, double& value, char separator) {
  std::size_t i, end;
  TrimBlanks(text, i, end);
  // The text is checked here and rewritten in the one form from_chars takes
  // ('.' separator, no '+'); from_chars knows no locale and would accept
  // "inf" and "nan", which the check rules out.
  std::string normal;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normal += '-';
    ++i;
  }
  int integerDigits = 0;
  int digitCount = 0;
  int firstNonZero = -1;  // index of the leading non-zero digit among all digits
  bool separatorSeen = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (c != '0' && firstNonZero < 0) firstNonZero = digitCount;
      ++digitCount;
      if (!separatorSeen) ++integerDigits;
      normal += c;
    } else if ((c == separator || c == '.') && !separatorSeen) {
      separatorSeen = true;
      normal += '.';
    } else {
      break;
    }
  }
  if (digitCount == 0) return false;
  long long exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    bool negativeExponent = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      if (negativeExponent) normal += '-';
      ++i;
    }
    if (i == end) return false;
    for (; i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      if (exponent < 100000000) exponent = exponent * 10 + (text[i] - '0');
      normal += text[i];
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (i != end) return false;

  double parsed = 0;
  const auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (ptr != normal.data() + normal.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Out of range both ways: too small becomes zero, too large is refused.
    // The leading digit's decimal exponent tells which way.
    if (firstNonZero >= 0 && integerDigits - 1 - firstNonZero + exponent >= 0) return false;
    parsed = normal[0] == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc() || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

bool TryStrToFloat(const std::string& text, double& value) { return TryStrToFloat(text, value, DecimalSeparator()); }

// The umask can only be read without a race through /proc; umask() itself
// would have to change it.
unsigned NewFileMode() {
#ifdef _WIN32
  return 0666;  // access comes from the folder's inherited ACL there, not mode bits
#else
  unsigned mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      unsigned value;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = value;
        break;
      }
    }
    std::fclose(status);
  }
  return 0666 & ~mask;
#endif
}

}  // namespace planora
