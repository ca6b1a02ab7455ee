// Dynamic vectors and matrices of the rectification engine, and the
// Gauss-Jordan solve the camera solver stands on.
//
// Sizes are always the highest index, not a count: Hi = 2 means the three
// elements 0, 1 and 2. Every routine works on an inclusive index range Lo..Hi
// that the caller passes and touches nothing outside it.
//
// These routines do not check their ranges: the engine sizes its arrays once
// and always passes ranges that fit, and the elimination's inner loops are the
// hottest numeric code of a solve. Passing a range outside the arrays is a
// programming error with undefined behaviour.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/fmath.h"

namespace planora {

using TVector = std::vector<double>;
using TIntVector = std::vector<std::int32_t>;
using TMatrix = std::vector<TVector>;

// Magnitude below which a pivot candidate counts as zero. It is absolute (the
// machine epsilon of a double), not scaled by the matrix: the engine's corner
// matrices are in picture pixels, so their scale is known in advance.
inline constexpr double kSingularPivot = 2.220446049250313E-16;

// Hi < 0 empties V; otherwise V holds Hi + 1 elements, all 0.0 (old values are
// discarded, not kept).
void SizeVector(TVector& V, std::int32_t Hi);
// As SizeVector, elements 0.
void SizeIntVector(TIntVector& V, std::int32_t Hi);
// RowHi < 0 or ColHi < 0 empties M; otherwise RowHi + 1 rows of ColHi + 1
// elements, all 0.0.
void SizeMatrix(TMatrix& M, std::int32_t RowHi, std::int32_t ColHi);

// Exchanges M[R1][j] and M[R2][j] for j = Lo..Hi.
void SwapRows(std::int32_t R1, std::int32_t R2, TMatrix& M, std::int32_t Lo, std::int32_t Hi);
// Exchanges M[i][C1] and M[i][C2] for i = Lo..Hi.
void SwapColumns(std::int32_t C1, std::int32_t C2, TMatrix& M, std::int32_t Lo, std::int32_t Hi);

// Dst[i] := Src[i] for i = Lo..Hi.
void CopyVector(TVector& Dst, const TVector& Src, std::int32_t Lo, std::int32_t Hi);
// Dst[i][j] := Src[i][j] for i = RowLo..RowHi, j = ColLo..ColHi.
void CopyMatrix(TMatrix& Dst, const TMatrix& Src, std::int32_t RowLo, std::int32_t ColLo,
                std::int32_t RowHi, std::int32_t ColHi);
// M[i][Col] := V[i] for i = Lo..Hi.
void SetColumn(TMatrix& M, const TVector& V, std::int32_t Lo, std::int32_t Hi, std::int32_t Col);

// Solves A·X = B on the block Lo..Hi by Gauss-Jordan elimination with
// complete pivoting and leaves the inverse of A's block in Work[Lo..Hi][Lo..Hi].
// A and B are only read. Work must already have rows and columns up to Hi and
// X elements up to Hi.
//
// Returns 0 when solved and -1 when a step finds no pivot of magnitude at
// least kSingularPivot; Work and X are then left as far as the elimination
// had come. A singular system is an expected outcome (three marker corners on
// one line), so it is a result code rather than an exception.
std::int32_t GaussJordan(const TMatrix& A, const TVector& B, std::int32_t Lo, std::int32_t Hi,
                         TMatrix& Work, TVector& X);

}  // namespace planora
