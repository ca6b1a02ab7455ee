#include "engine/matricesvec.h"

#include <cmath>

#include "platform/sysutils.h"

namespace planora {

namespace {

// Indexes are formed in 64 bits (LoB + i - Lo, IA + 2) so that a sum beyond
// the 32-bit range is reported as out of range instead of wrapping onto a
// valid element.
using Index = std::int64_t;

Index Checked(const TVector& v, Index i) {
  if (i < 0 || i >= static_cast<Index>(v.size())) throw ERangeError();
  return i;
}

double Get(const TVector& v, Index i) { return v[static_cast<std::size_t>(Checked(v, i))]; }

void Put(TVector& v, Index i, double value) {
  v[static_cast<std::size_t>(Checked(v, i))] = value;
}

}  // namespace

void DotProduct(const TVector& A, std::int32_t Lo, std::int32_t Hi, const TVector& B,
                std::int32_t LoB, double& R) {
  R = 0.0;
  for (Index i = Lo; i <= Hi; ++i) R = R + Get(A, i) * Get(B, Index{LoB} + i - Lo);
}

void CrossProduct(const TVector& A, std::int32_t IA, const TVector& B, std::int32_t IB,
                  TVector& R) {
  const Index ia = IA;
  const Index ib = IB;
  // Both operands are read before R is written, so R may be the same vector
  // as A or B (the result then replaces that operand).
  const double a0 = Get(A, ia), a1 = Get(A, ia + 1), a2 = Get(A, ia + 2);
  const double b0 = Get(B, ib), b1 = Get(B, ib + 1), b2 = Get(B, ib + 2);
  Put(R, 0, a1 * b2 - a2 * b1);
  Put(R, 1, a2 * b0 - a0 * b2);
  Put(R, 2, a0 * b1 - a1 * b0);
}

void Normalize(TVector& V, std::int32_t Lo, std::int32_t Hi) {
  double sum = 0.0;
  for (Index i = Lo; i <= Hi; ++i) {
    const double x = Get(V, i);
    sum = sum + x * x;
  }
  const double length = std::sqrt(sum);
  // Comparing with 0 rather than a tolerance: a tiny but nonzero vector still
  // has a direction worth keeping.
  if (length > 0.0) {
    for (Index i = Lo; i <= Hi; ++i) Put(V, i, Get(V, i) / length);
  }
}

}  // namespace planora
