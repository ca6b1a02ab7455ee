// The floating-point state the computations are written for: round to
// nearest, extended precision in the x87 unit (the long double steps of the
// plot surface), no exceptions raised as traps, no flushing of tiny values
// to zero. A host owns the state of the thread it calls in on and may have
// set it otherwise (53-bit precision is Windows' default on x86-64; editors
// written in some languages unmask the zero-division trap), so the plug-in
// sets its own for the time of a run and gives the host's back afterwards.
#pragma once

#include <cstdint>

namespace planora {

class TFloatingPointState {
 public:
  TFloatingPointState();
  ~TFloatingPointState();
  TFloatingPointState(const TFloatingPointState&) = delete;
  TFloatingPointState& operator=(const TFloatingPointState&) = delete;

  // x87 control word: all exceptions masked, 64-bit precision, to nearest.
  static constexpr std::uint16_t kControlWord = 0x037F;
  // SSE control and status: all exceptions masked, to nearest, no
  // flush-to-zero, no denormals-are-zero, no flags.
  static constexpr std::uint32_t kMxcsr = 0x1F80;

  // The current values (0 where the processor has no such register).
  static std::uint16_t ControlWord();
  static std::uint32_t Mxcsr();
  static void Set(std::uint16_t controlWord, std::uint32_t mxcsr);

 private:
  std::uint16_t savedControlWord_;
  std::uint32_t savedMxcsr_;
};

}  // namespace planora
