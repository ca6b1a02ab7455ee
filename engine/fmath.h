// Small floating-point helpers shared by the engine's numeric routines.
#pragma once

namespace planora {

// Exchanges the values of a and b. The elimination uses it to keep the
// right-hand side in step with the row exchanges of its work matrix.
void SwapReals(double& a, double& b);

}  // namespace planora
