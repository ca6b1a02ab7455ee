// The inner loops of the row-wise resampling pass, over one block of a row
// segment. Each comes as plain scalar code, which runs anywhere, and as
// AVX2 and AVX-512 versions picked at run time where the processor has
// them. All give the same bytes, which a test holds them to: positions,
// bounds and weights are computed with the same operations in the same
// order (no fused multiply-adds, rounding and floor as exact instructions);
// the AVX-512 blend works in single precision and redoes in the reference's
// double arithmetic every pixel whose sum comes near a rounding boundary.
#pragma once

#include <cstdint>
#include <vector>

namespace planora::detail {

// What the kernels need of the source picture: the address of every row
// and window 1's mapping from world to pixel coordinates. The rows are
// evenly spaced (Rows[y] == Base + y * Stride), which lets the vector
// kernels compute the addresses of several samples at once.
struct TSourceRaster {
  std::vector<const std::uint8_t*> Rows;  // by pixel row, 0 = top
  const std::uint8_t* Base = nullptr;
  std::int64_t Stride = 0;
  double XOffset = 0, XScale = 0, YOffset = 0, YScale = 0;
  double MaxX = 0, MaxY = 0;  // as doubles: the bounds tests run on unrounded positions
};

// Scratch of one worker for one block: the source positions, then where
// each sample is read (byte offset of the column, -1 for none, and the
// row, or the byte offset from the picture's start) and, for the blend,
// the four weights (in double or in single precision).
struct TScratch {
  std::vector<double> Fx, Fy, W1, W2, W3, W4;
  std::vector<float> V1, V2, V3, V4;
  std::vector<std::int32_t> Col, Row;
  std::vector<std::int64_t> At;
  std::vector<std::uint8_t> Inside;  // a bit per pixel, which have a picture
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

// One block of target pixels written to out (3 bytes a pixel): its source
// positions (points at or behind the camera have none), then the nearest
// pixel (rounded to nearest, ties to even) or the blend of the four around
// the position (none where they are not all inside the picture); red where
// there is none. w is the worker's scratch.
using TResampleBlock = void (*)(const TBlock& block, const TSourceRaster& src, TScratch& w, std::uint8_t* out,
                                bool andMode);

struct TKernels {
  TResampleBlock Nearest;
  TResampleBlock Bilinear;
};

// The sets of kernels, from the plainest up; each gives the same bytes.
enum class TKernelSet { Scalar, Avx2, Avx512 };

// The kernels to use: the best set the processor has, up to the limit.
const TKernels& Kernels();
// Tests and the benchmark compare the sets: sets the most that may be used
// and returns the previous limit.
TKernelSet LimitKernels(TKernelSet most);
// The set Kernels() gives now.
TKernelSet KernelSetInUse();
bool KernelSetAvailable(TKernelSet set);

}  // namespace planora::detail
