#include "engine/rectify_kernels.h"
#include "platform/sysutils.h"
#include "plot/blend.h"

// The vector kernels are x86's; elsewhere, or with PLANORA_NO_VECTOR_KERNELS
// (the build option that shows the scalar path builds on its own), only the
// scalar ones exist.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(PLANORA_NO_VECTOR_KERNELS)
#define PLANORA_VECTOR_KERNELS 1
#include <immintrin.h>
#else
#define PLANORA_VECTOR_KERNELS 0
#endif

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace planora::detail {

void TScratch::Resize(std::size_t n) {
  for (auto* v : {&Fx, &Fy, &W1, &W2, &W3, &W4}) v->resize(n);
  Col.resize(n);
  Row.resize(n);
}

namespace {

// ------------------------------------------------------------------ stores

// Pure red; in and-mode red 255 keeps the existing red and clears the rest.
inline void StoreRed(std::uint8_t* out, bool andMode) {
  out[0] = 0;
  out[1] = 0;
  if (!andMode) out[2] = 255;
}

inline void Store(std::uint8_t* out, std::uint8_t b, std::uint8_t g, std::uint8_t r, bool andMode) {
  if (andMode) {
    out[0] &= b;
    out[1] &= g;
    out[2] &= r;
  } else {
    out[0] = b;
    out[1] = g;
    out[2] = r;
  }
}

// ------------------------------------------------------------------ scalar

// The projection in the camera's order: p = (s * U + O) + t * V, then the
// division by the depth. A point at or behind the camera has no picture;
// its depth is replaced before the division so that nothing is divided by
// zero, and its position becomes NaN, which every bounds test rejects.
void ProjectFrom(std::int64_t from, const TBlock& b, const TSourceRaster& src, TScratch& w) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::int64_t i = from; i < b.N; ++i) {
    const double p0 = b.A0[i] + b.Tv0;
    const double p1 = b.A1[i] + b.Tv1;
    const double p2 = b.A2[i] + b.Tv2;
    const bool visible = p2 > 0.0;
    const double k = b.Focal / (visible ? p2 : 1.0);
    const double x = p0 * k;
    const double y = p1 * k;
    w.Fx[i] = visible ? (x - src.XOffset) * src.XScale : nan;
    w.Fy[i] = visible ? (y - src.YOffset) * src.YScale : nan;
  }
}

// Rounded to nearest, ties to even, as the surface's pixel conversion
// rounds; positions beyond 32 bits fail the bounds test just as they fail
// that conversion, and so does NaN.
void LocateNearestFrom(std::int64_t from, const TSourceRaster& src, std::int64_t n, TScratch& w) {
  for (std::int64_t i = from; i < n; ++i) {
    const double rx = RoundHalfEven(w.Fx[i]);
    const double ry = RoundHalfEven(w.Fy[i]);
    const bool inside = rx >= 0.0 && rx <= src.MaxX && ry >= 0.0 && ry <= src.MaxY;
    w.Col[i] = inside ? static_cast<std::int32_t>(3.0 * rx) : -1;
    w.Row[i] = inside ? static_cast<std::int32_t>(src.MaxY - ry) : 0;
  }
}

// The pixel at the floor of the position is the lower left of the four;
// the others are its right neighbour and the two in the row above.
void LocateBilinearFrom(std::int64_t from, const TSourceRaster& src, std::int64_t n, TScratch& w) {
  for (std::int64_t i = from; i < n; ++i) {
    const double ix = std::floor(w.Fx[i]);
    const double k = std::floor(w.Fy[i]);
    const bool inside = ix >= 0.0 && ix + 1 <= src.MaxX && k >= 0.0 && k <= src.MaxY - 1;
    const double wx = w.Fx[i] - ix;
    const double ux = 1 - wx;
    const double wy = w.Fy[i] - k;
    const double uy = 1 - wy;
    w.W1[i] = ux * uy;
    w.W2[i] = ux * wy;
    w.W3[i] = wx * uy;
    w.W4[i] = wx * wy;
    w.Col[i] = inside ? static_cast<std::int32_t>(3.0 * ix) : -1;
    w.Row[i] = inside ? static_cast<std::int32_t>(src.MaxY - k) : 0;
  }
}

void ProjectScalar(const TBlock& b, const TSourceRaster& src, TScratch& w) { ProjectFrom(0, b, src, w); }
void LocateNearestScalar(const TSourceRaster& src, std::int64_t n, TScratch& w) { LocateNearestFrom(0, src, n, w); }
void LocateBilinearScalar(const TSourceRaster& src, std::int64_t n, TScratch& w) {
  LocateBilinearFrom(0, src, n, w);
}

void BlendScalar(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out, bool andMode) {
  for (std::int64_t i = 0; i < n; ++i, out += 3) {
    if (w.Col[i] < 0) {
      StoreRed(out, andMode);
      continue;
    }
    const std::size_t rowL = static_cast<std::size_t>(w.Row[i]);
    const std::uint8_t* n1 = src.Rows[rowL] + w.Col[i];      // lower left
    const std::uint8_t* n2 = src.Rows[rowL - 1] + w.Col[i];  // upper left
    const std::uint8_t* n3 = n1 + 3;                          // lower right
    const std::uint8_t* n4 = n2 + 3;                          // upper right
    const double w1 = w.W1[i], w2 = w.W2[i], w3 = w.W3[i], w4 = w.W4[i];
    Store(out, BlendChannel(n1[0], n2[0], n3[0], n4[0], w1, w2, w3, w4),
          BlendChannel(n1[1], n2[1], n3[1], n4[1], w1, w2, w3, w4),
          BlendChannel(n1[2], n2[2], n3[2], n4[2], w1, w2, w3, w4), andMode);
  }
}

#if PLANORA_VECTOR_KERNELS
// ------------------------------------------------------------------ AVX2
// Four pixels per step in the projecting and locating loops, the three
// channels of one pixel side by side in the blend; the scalar code above
// finishes each block's last pixels.

#define PLANORA_AVX2 __attribute__((target("avx2")))

constexpr int kNearestEven = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
constexpr int kDown = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;

PLANORA_AVX2 void ProjectAvx2(const TBlock& b, const TSourceRaster& src, TScratch& w) {
  const __m256d tv0 = _mm256_set1_pd(b.Tv0), tv1 = _mm256_set1_pd(b.Tv1), tv2 = _mm256_set1_pd(b.Tv2);
  const __m256d focal = _mm256_set1_pd(b.Focal), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  const __m256d nan = _mm256_set1_pd(std::numeric_limits<double>::quiet_NaN());
  const __m256d xo = _mm256_set1_pd(src.XOffset), xs = _mm256_set1_pd(src.XScale);
  const __m256d yo = _mm256_set1_pd(src.YOffset), ys = _mm256_set1_pd(src.YScale);
  std::int64_t i = 0;
  for (; i + 4 <= b.N; i += 4) {
    const __m256d p0 = _mm256_add_pd(_mm256_loadu_pd(b.A0 + i), tv0);
    const __m256d p1 = _mm256_add_pd(_mm256_loadu_pd(b.A1 + i), tv1);
    const __m256d p2 = _mm256_add_pd(_mm256_loadu_pd(b.A2 + i), tv2);
    const __m256d visible = _mm256_cmp_pd(p2, zero, _CMP_GT_OQ);
    const __m256d k = _mm256_div_pd(focal, _mm256_blendv_pd(one, p2, visible));
    const __m256d x = _mm256_mul_pd(p0, k);
    const __m256d y = _mm256_mul_pd(p1, k);
    const __m256d fx = _mm256_mul_pd(_mm256_sub_pd(x, xo), xs);
    const __m256d fy = _mm256_mul_pd(_mm256_sub_pd(y, yo), ys);
    _mm256_storeu_pd(w.Fx.data() + i, _mm256_blendv_pd(nan, fx, visible));
    _mm256_storeu_pd(w.Fy.data() + i, _mm256_blendv_pd(nan, fy, visible));
  }
  ProjectFrom(i, b, src, w);
}

// Stores four int32 lanes of the doubles v.
PLANORA_AVX2 inline void StoreInt32(std::int32_t* to, __m256d v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_cvttpd_epi32(v));
}

PLANORA_AVX2 void LocateNearestAvx2(const TSourceRaster& src, std::int64_t n, TScratch& w) {
  const __m256d zero = _mm256_setzero_pd(), three = _mm256_set1_pd(3.0), none = _mm256_set1_pd(-1.0);
  const __m256d maxX = _mm256_set1_pd(src.MaxX), maxY = _mm256_set1_pd(src.MaxY);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d rx = _mm256_round_pd(_mm256_loadu_pd(w.Fx.data() + i), kNearestEven);
    const __m256d ry = _mm256_round_pd(_mm256_loadu_pd(w.Fy.data() + i), kNearestEven);
    const __m256d inside = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(rx, zero, _CMP_GE_OQ), _mm256_cmp_pd(rx, maxX, _CMP_LE_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(ry, zero, _CMP_GE_OQ), _mm256_cmp_pd(ry, maxY, _CMP_LE_OQ)));
    StoreInt32(w.Col.data() + i, _mm256_blendv_pd(none, _mm256_mul_pd(three, rx), inside));
    StoreInt32(w.Row.data() + i, _mm256_blendv_pd(zero, _mm256_sub_pd(maxY, ry), inside));
  }
  LocateNearestFrom(i, src, n, w);
}

PLANORA_AVX2 void LocateBilinearAvx2(const TSourceRaster& src, std::int64_t n, TScratch& w) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), three = _mm256_set1_pd(3.0);
  const __m256d none = _mm256_set1_pd(-1.0);
  const __m256d maxX = _mm256_set1_pd(src.MaxX), maxY = _mm256_set1_pd(src.MaxY);
  const __m256d maxY1 = _mm256_set1_pd(src.MaxY - 1);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d fx = _mm256_loadu_pd(w.Fx.data() + i);
    const __m256d fy = _mm256_loadu_pd(w.Fy.data() + i);
    const __m256d ix = _mm256_round_pd(fx, kDown);
    const __m256d k = _mm256_round_pd(fy, kDown);
    const __m256d inside = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(ix, zero, _CMP_GE_OQ), _mm256_cmp_pd(_mm256_add_pd(ix, one), maxX, _CMP_LE_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(k, zero, _CMP_GE_OQ), _mm256_cmp_pd(k, maxY1, _CMP_LE_OQ)));
    const __m256d wx = _mm256_sub_pd(fx, ix);
    const __m256d ux = _mm256_sub_pd(one, wx);
    const __m256d wy = _mm256_sub_pd(fy, k);
    const __m256d uy = _mm256_sub_pd(one, wy);
    _mm256_storeu_pd(w.W1.data() + i, _mm256_mul_pd(ux, uy));
    _mm256_storeu_pd(w.W2.data() + i, _mm256_mul_pd(ux, wy));
    _mm256_storeu_pd(w.W3.data() + i, _mm256_mul_pd(wx, uy));
    _mm256_storeu_pd(w.W4.data() + i, _mm256_mul_pd(wx, wy));
    StoreInt32(w.Col.data() + i, _mm256_blendv_pd(none, _mm256_mul_pd(three, ix), inside));
    StoreInt32(w.Row.data() + i, _mm256_blendv_pd(zero, _mm256_sub_pd(maxY, k), inside));
  }
  LocateBilinearFrom(i, src, n, w);
}

// The pixel at p as doubles (blue, green, red, and whatever byte follows,
// which is computed along and dropped). The bitmap's trailing bytes make
// the fourth byte readable even after the last pixel.
PLANORA_AVX2 inline __m256d LoadPixel(const std::uint8_t* p) {
  std::int32_t bytes;
  std::memcpy(&bytes, p, 4);
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes)));
}

PLANORA_AVX2 void BlendAvx2(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out,
                            bool andMode) {
  const __m256d top = _mm256_set1_pd(255.0);
  // Bytes 0, 4 and 8 of the four int32 lanes: blue, green, red.
  const __m128i pack = _mm_setr_epi8(0, 4, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  for (std::int64_t i = 0; i < n; ++i, out += 3) {
    if (w.Col[i] < 0) {
      StoreRed(out, andMode);
      continue;
    }
    const std::size_t rowL = static_cast<std::size_t>(w.Row[i]);
    const std::uint8_t* n1 = src.Rows[rowL] + w.Col[i];
    const std::uint8_t* n2 = src.Rows[rowL - 1] + w.Col[i];
    __m256d s = _mm256_setzero_pd();
    s = _mm256_add_pd(s, _mm256_mul_pd(LoadPixel(n1), _mm256_set1_pd(w.W1[i])));
    s = _mm256_add_pd(s, _mm256_mul_pd(LoadPixel(n2), _mm256_set1_pd(w.W2[i])));
    s = _mm256_add_pd(s, _mm256_mul_pd(LoadPixel(n1 + 3), _mm256_set1_pd(w.W3[i])));
    s = _mm256_add_pd(s, _mm256_mul_pd(LoadPixel(n2 + 3), _mm256_set1_pd(w.W4[i])));
    const __m256d v = _mm256_min_pd(_mm256_round_pd(s, kNearestEven), top);
    const std::int32_t bgr = _mm_cvtsi128_si32(_mm_shuffle_epi8(_mm256_cvttpd_epi32(v), pack));
    if (!andMode && i + 1 < n) {
      std::memcpy(out, &bgr, 4);  // the fourth byte is the next pixel's, written next
    } else {
      Store(out, static_cast<std::uint8_t>(bgr), static_cast<std::uint8_t>(bgr >> 8),
            static_cast<std::uint8_t>(bgr >> 16), andMode);
    }
  }
}

constexpr TKernels kAvx2{ProjectAvx2, LocateNearestAvx2, LocateBilinearAvx2, BlendAvx2};

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
constexpr TKernels kAvx2{};
bool HasAvx2() { return false; }
#endif

constexpr TKernels kScalar{ProjectScalar, LocateNearestScalar, LocateBilinearScalar, BlendScalar};

std::atomic<bool> useVector{true};

}  // namespace

bool VectorKernelsAvailable() { return HasAvx2(); }

bool UseVectorKernels(bool use) { return useVector.exchange(use); }

const TKernels& Kernels() { return (useVector.load() && HasAvx2()) ? kAvx2 : kScalar; }

void GatherNearest(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out, bool andMode) {
  for (std::int64_t i = 0; i < n; ++i, out += 3) {
    if (w.Col[i] < 0) {
      StoreRed(out, andMode);
      continue;
    }
    const std::uint8_t* p = src.Rows[static_cast<std::size_t>(w.Row[i])] + w.Col[i];
    if (!andMode && i + 1 < n) {
      std::memcpy(out, p, 4);  // the fourth byte is the next pixel's, written next
    } else {
      Store(out, p[0], p[1], p[2], andMode);
    }
  }
}

}  // namespace planora::detail
