#include "engine/matrices.h"

#include <cmath>
#include <cstddef>

namespace planora {

namespace {

// Loop counters are 64-bit so that a range ending at the largest 32-bit index
// terminates instead of overflowing the counter.
using Index = std::int64_t;

// Element count for a highest index; the sum is formed in size_t so that
// Hi = INT32_MAX does not overflow.
std::size_t CountFor(std::int32_t hi) { return static_cast<std::size_t>(hi) + 1; }

}  // namespace

void SizeVector(TVector& V, std::int32_t Hi) {
  if (Hi < 0) {
    V.clear();
    return;
  }
  // assign, not resize: a resize would keep the old values of a reused vector.
  V.assign(CountFor(Hi), 0.0);
}

void SizeIntVector(TIntVector& V, std::int32_t Hi) {
  if (Hi < 0) {
    V.clear();
    return;
  }
  V.assign(CountFor(Hi), 0);
}

void SizeMatrix(TMatrix& M, std::int32_t RowHi, std::int32_t ColHi) {
  if (RowHi < 0 || ColHi < 0) {
    M.clear();
    return;
  }
  M.assign(CountFor(RowHi), TVector(CountFor(ColHi), 0.0));
}

void SwapRows(std::int32_t R1, std::int32_t R2, TMatrix& M, std::int32_t Lo, std::int32_t Hi) {
  TVector& a = M[R1];
  TVector& b = M[R2];
  for (Index j = Lo; j <= Hi; ++j) SwapReals(a[j], b[j]);
}

void SwapColumns(std::int32_t C1, std::int32_t C2, TMatrix& M, std::int32_t Lo, std::int32_t Hi) {
  for (Index i = Lo; i <= Hi; ++i) SwapReals(M[i][C1], M[i][C2]);
}

void CopyVector(TVector& Dst, const TVector& Src, std::int32_t Lo, std::int32_t Hi) {
  for (Index i = Lo; i <= Hi; ++i) Dst[i] = Src[i];
}

void CopyMatrix(TMatrix& Dst, const TMatrix& Src, std::int32_t RowLo, std::int32_t ColLo,
                std::int32_t RowHi, std::int32_t ColHi) {
  for (Index i = RowLo; i <= RowHi; ++i) {
    for (Index j = ColLo; j <= ColHi; ++j) Dst[i][j] = Src[i][j];
  }
}

void SetColumn(TMatrix& M, const TVector& V, std::int32_t Lo, std::int32_t Hi, std::int32_t Col) {
  for (Index i = Lo; i <= Hi; ++i) M[i][Col] = V[i];
}

// The elimination runs in place on Work: when column i has been reduced to the
// unit vector, its storage is reused for column i of the inverse (the pivot
// element becomes 1/pivot, the other entries -F/pivot). Row exchanges are
// carried out on the whole block, column exchanges only reorder the unknowns,
// so both are recorded and undone at the end.
std::int32_t GaussJordan(const TMatrix& A, const TVector& B, std::int32_t Lo, std::int32_t Hi,
                         TMatrix& Work, TVector& X) {
  TIntVector rowOf;  // RowOf[i]: the row the pivot of step i came from
  TIntVector colOf;  // ColOf[i]: the column the pivot of step i came from
  SizeIntVector(rowOf, Hi);
  SizeIntVector(colOf, Hi);
  CopyMatrix(Work, A, Lo, Lo, Hi, Hi);
  CopyVector(X, B, Lo, Hi);

  for (Index i = Lo; i <= Hi; ++i) {
    const auto i32 = static_cast<std::int32_t>(i);

    // Complete pivoting: the largest remaining element, scanned row by row.
    // Only a strictly larger element replaces the candidate, so the diagonal
    // keeps the pivot on a tie and no exchange is made that would not help.
    double pivot = Work[i][i];
    rowOf[i] = i32;
    colOf[i] = i32;
    for (Index k = i; k <= Hi; ++k) {
      const TVector& row = Work[k];
      for (Index l = i; l <= Hi; ++l) {
        if (std::fabs(row[l]) > std::fabs(pivot)) {
          pivot = row[l];
          rowOf[i] = static_cast<std::int32_t>(k);
          colOf[i] = static_cast<std::int32_t>(l);
        }
      }
    }

    // The test is "below", so a pivot of exactly the threshold is still used.
    if (std::fabs(pivot) < kSingularPivot) return -1;

    if (rowOf[i] != i32) {
      SwapRows(rowOf[i], i32, Work, Lo, Hi);
      SwapReals(X[rowOf[i]], X[i]);
    }
    if (colOf[i] != i32) SwapColumns(colOf[i], i32, Work, Lo, Hi);

    // Setting the diagonal to 1 first makes it end as 1/pivot: the inverse's
    // entry that takes the place of the now reduced column.
    TVector& pivotRow = Work[i];
    pivotRow[i] = 1.0;
    for (Index l = Lo; l <= Hi; ++l) pivotRow[l] = pivotRow[l] / pivot;
    X[i] = X[i] / pivot;

    for (Index k = Lo; k <= Hi; ++k) {
      if (k == i) continue;
      TVector& row = Work[k];
      const double f = row[i];
      row[i] = 0.0;
      for (Index l = Lo; l <= Hi; ++l) row[l] = row[l] - f * pivotRow[l];
      X[k] = X[k] - f * X[i];
    }
  }

  // The block now holds the inverse of the permuted matrix Pr·A·Pc, which is
  // Pc^-1·A^-1·Pr^-1. Its rows are put back by the column exchanges (which
  // also reorder the unknowns in X) and its columns by the row exchanges, each
  // in reverse order of the steps.
  for (Index j = Hi; j >= Lo; --j) {
    const auto j32 = static_cast<std::int32_t>(j);
    if (colOf[j] != j32) {
      SwapRows(colOf[j], j32, Work, Lo, Hi);
      SwapReals(X[colOf[j]], X[j]);
    }
  }
  for (Index k = Hi; k >= Lo; --k) {
    const auto k32 = static_cast<std::int32_t>(k);
    if (rowOf[k] != k32) SwapColumns(rowOf[k], k32, Work, Lo, Hi);
  }
  return 0;
}

}  // namespace planora
