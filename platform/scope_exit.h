// Runs an action when the scope ends, however it ends (return, exception):
// the one way this code base undoes a step it took, so that a cursor, a
// disabled menu or a script never stays behind after a failure.
#pragma once

#include <utility>

namespace planora {

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F action) : action_(std::move(action)) {}
  ~TScopeExit() { action_(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F action_;
};

}  // namespace planora
