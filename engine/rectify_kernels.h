// The inner loops of the row-wise resampling pass, over one block of a row
// segment. Each comes as plain scalar code, which runs on any x86-64, and
// as an AVX2 version picked at run time where the processor has it. Both
// compute every value with the same operations in the same order (no fused
// multiply-adds, rounding and floor as exact instructions), so they give the
// same bytes; a test holds them to that.
#pragma once

#include <cstdint>
#include <vector>

namespace planora::detail {

// What the kernels need of the source picture: the address of every row
// and window 1's mapping from world to pixel coordinates.
struct TSourceRaster {
  std::vector<const std::uint8_t*> Rows;  // by pixel row, 0 = top
  double XOffset = 0, XScale = 0, YOffset = 0, YScale = 0;
  double MaxX = 0, MaxY = 0;  // as doubles: the bounds tests run on unrounded positions
};

// Scratch of one worker for one block: the source positions, then where
// each sample is read (byte offset of the column, -1 for none, and the
// row) and, for the blend, the four weights.
struct TScratch {
  std::vector<double> Fx, Fy, W1, W2, W3, W4;
  std::vector<std::int32_t> Col, Row;
  void Resize(std::size_t n);
};

// One block of n target pixels: the plane points' row-independent parts
// a0..a2 (s * U + O), the row's parts tv0..tv2 (t * V), the focal length.
struct TBlock {
  const double* A0;
  const double* A1;
  const double* A2;
  std::int64_t N;
  double Tv0, Tv1, Tv2, Focal;
};

struct TKernels {
  // Source pixel positions of the block (NaN for points at or behind the camera).
  void (*Project)(const TBlock& block, const TSourceRaster& src, TScratch& w);
  // Nearest pixel: rounded to nearest, ties to even; none outside the picture.
  void (*LocateNearest)(const TSourceRaster& src, std::int64_t n, TScratch& w);
  // Bilinear: the floor of the position and its weights; none where the
  // neighbourhood is not wholly inside the picture.
  void (*LocateBilinear)(const TSourceRaster& src, std::int64_t n, TScratch& w);
  // The blend of the four neighbours written to out (3 bytes a pixel).
  void (*Blend)(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out, bool andMode);
};

// The kernels to use: AVX2 where the processor has it, unless switched off.
const TKernels& Kernels();
// Tests and the benchmark compare both sets; returns the previous setting.
bool UseVectorKernels(bool use);
bool VectorKernelsAvailable();

// Writes the nearest samples located by LocateNearest.
void GatherNearest(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out, bool andMode);

}  // namespace planora::detail
