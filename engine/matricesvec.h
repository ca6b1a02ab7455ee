// Three-vector operations of the rectification engine.
//
// Unlike the matrix routines, these check every index they use against the
// length of the array it reaches into and raise ERangeError for an index
// outside it (an empty array has no valid index). The check is made at each
// access, so elements written before the failing access keep their new
// values. A range that is empty (Lo > Hi) touches no element and so never
// fails.
#pragma once

#include <cstdint>

#include "engine/matrices.h"

namespace planora {

// R := sum over i = Lo..Hi of A[i]·B[LoB + i - Lo]; 0.0 for an empty range.
void DotProduct(const TVector& A, std::int32_t Lo, std::int32_t Hi, const TVector& B,
                std::int32_t LoB, double& R);

// Right-handed vector product of a = A[IA..IA+2] and b = B[IB..IB+2] into
// R[0..2]. R must already have three elements; it is written, never resized.
void CrossProduct(const TVector& A, std::int32_t IA, const TVector& B, std::int32_t IB,
                  TVector& R);

// Scales V[Lo..Hi] to unit Euclidean length. A zero vector has no direction
// and is left as it is, as is an empty range.
void Normalize(TVector& V, std::int32_t Lo, std::int32_t Hi);

}  // namespace planora
