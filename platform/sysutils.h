// Exceptions, rounding and number texts shared by every layer.
#pragma once

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace planora {

// Root of every failure the system raises itself.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// An index outside its array, or a value that does not fit its integer type.
class ERangeError : public Exception {
 public:
  explicit ERangeError(const std::string& message = "Range check error") : Exception(message) {}
};

class EIntOverflow : public Exception {
 public:
  explicit EIntOverflow(const std::string& message = "Integer overflow") : Exception(message) {}
};

// Floating-point division by zero.
class EZeroDivide : public Exception {
 public:
  explicit EZeroDivide(const std::string& message = "Floating point division by zero") : Exception(message) {}
};

// A file that cannot be created, written, read or renamed.
class EInOutError : public Exception {
 public:
  explicit EInOutError(const std::string& message) : Exception(message) {}
};

// A text that is not a number.
class EConvertError : public Exception {
 public:
  explicit EConvertError(const std::string& message) : Exception(message) {}
};

// Nearest integer, ties to even; ERangeError when the result does not fit 32 bits
// (also for NaN and infinities).
std::int32_t Round(long double value);

// Nearest integer as a double, ties to even, for any double (NaN and the
// infinities come back as they are); inline for the resampling kernels.
// Built from round(), which every C library has: a tie is the one case
// where it differs, and halving makes a tie's even neighbour the nearest.
inline double RoundHalfEvenPortable(double x) {
  const double r = std::round(x);
  return std::fabs(r - x) == 0.5 ? 2.0 * std::round(0.5 * x) : r;
}
#if defined(__has_builtin)
#if __has_builtin(__builtin_roundeven)
#define PLANORA_HAVE_ROUNDEVEN 1
#endif
#endif
inline double RoundHalfEven(double x) {
  // clang 14 has no such builtin; the portable form gives the same results.
#if defined(__GLIBC__) && defined(PLANORA_HAVE_ROUNDEVEN)
  return __builtin_roundeven(x);
#else
  return RoundHalfEvenPortable(x);
#endif
}
// Cut toward zero; ERangeError when the result does not fit 32 bits.
std::int32_t Trunc(long double value);
// Largest integer not above value; ERangeError when it does not fit 32 bits.
std::int32_t Floor(long double value);

// Checked 32-bit integer arithmetic: EIntOverflow on overflow.
std::int32_t CheckedAdd(std::int32_t a, std::int32_t b);
std::int32_t CheckedSub(std::int32_t a, std::int32_t b);
std::int32_t CheckedMul(std::int32_t a, std::int32_t b);

// Checked floating division: EZeroDivide when divisor is 0.
double Divide(double dividend, double divisor);

// The user's decimal separator: taken once from the locale's LC_NUMERIC
// settings; SetDecimalSeparator overrides it (tests, hosts that know better).
char DecimalSeparator();
void SetDecimalSeparator(char separator);
// Forget an override and take the separator from the locale again.
void ResetDecimalSeparator();

std::string IntToStr(long long value);

// General format with up to 15 significant digits: plain decimal when the
// value's integer digits fit the precision and |value| >= 0.00001, otherwise
// scientific ("5E-13", "1.5E20"); 0 gives "0"; trailing zeros are dropped.
std::string FloatToStr(double value);
// General format with a given precision (significant digits, 1..18).
std::string FloatToStrGeneral(double value, int precision);
// Fixed-point text: the value rounded to at most `precision` significant digits
// and `digits` decimals (half away from zero on its exact decimal expansion),
// shown with exactly `digits` decimals; scientific when the value has more
// integer digits than `precision`. FloatToStrFixed(0.69994, 5, 3) == "0.700".
std::string FloatToStrFixed(double value, int precision, int digits);

// Decimal integer with optional sign and surrounding blanks; "$1F" and "0x1F"
// are hexadecimal. False for anything else or a value beyond 32 bits.
bool TryStrToInt(const std::string& text, std::int32_t& value);
std::int32_t StrToInt(const std::string& text);  // EConvertError
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);
// Decimal number with the given separator (and '.' always), optional exponent,
// surrounding blanks allowed. False for anything else, NaN or infinity.
bool TryStrToFloat(const std::string& text, double& value, char separator);
bool TryStrToFloat(const std::string& text, double& value);  // DecimalSeparator()

// The permission bits a newly created file gets from open(..., 0666) under the
// process's umask (read without changing it). Files written through a
// temporary file take these when they did not exist before.
unsigned NewFileMode();

}  // namespace planora
