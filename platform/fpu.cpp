#include "platform/fpu.h"

namespace planora {

#if defined(__i386__) || defined(__x86_64__)

std::uint16_t TFloatingPointState::ControlWord() {
  std::uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

std::uint32_t TFloatingPointState::Mxcsr() {
  std::uint32_t mx;
  __asm__ volatile("stmxcsr %0" : "=m"(mx));
  return mx;
}

void TFloatingPointState::Set(std::uint16_t controlWord, std::uint32_t mxcsr) {
  // Pending x87 exceptions are cleared first: with a trap unmasked, a flag
  // left standing would fire at the next floating-point instruction.
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(controlWord));
  __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
}

#else

std::uint16_t TFloatingPointState::ControlWord() { return 0; }
std::uint32_t TFloatingPointState::Mxcsr() { return 0; }
void TFloatingPointState::Set(std::uint16_t, std::uint32_t) {}

#endif

TFloatingPointState::TFloatingPointState() : savedControlWord_(ControlWord()), savedMxcsr_(Mxcsr()) {
  Set(kControlWord, kMxcsr);
}

TFloatingPointState::~TFloatingPointState() { Set(savedControlWord_, savedMxcsr_); }

}  // namespace planora
