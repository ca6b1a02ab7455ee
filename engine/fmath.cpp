#include "engine/fmath.h"

namespace planora {

void SwapReals(double& a, double& b) {
  const double t = a;
  a = b;
  b = t;
}

}  // namespace planora
