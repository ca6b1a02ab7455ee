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
// The AVX-512 ones stay out of Windows builds: there the compiler cannot be
// trusted to align the stack for spilled 64-byte registers.
#if PLANORA_VECTOR_KERNELS && !defined(_WIN32)
#define PLANORA_AVX512_KERNELS 1
#else
#define PLANORA_AVX512_KERNELS 0
#endif

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace planora::detail {

void TScratch::Resize(std::size_t n) {
  for (auto* v : {&Fx, &Fy, &W1, &W2, &W3, &W4}) v->resize(n);
  for (auto* v : {&V1, &V2, &V3, &V4}) v->resize(n);
  Col.resize(n);
  Row.resize(n);
  // Room for the vector kernels' last step, which may go past the block.
  At.resize(n + 16);
  Inside.resize(n / 8 + 3);
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

// The scalar and AVX2 kernels go in stages over the worker's scratch: the
// source positions of the whole block, then where each sample is read (and
// the weights), then the samples.
template <auto Project, auto Locate, auto Write>
void Staged(const TBlock& block, const TSourceRaster& src, TScratch& w, std::uint8_t* out, bool andMode) {
  Project(block, src, w);
  Locate(src, block.N, w);
  Write(src, w, block.N, out, andMode);
}

// ------------------------------------------------------------------ scalar

// The projection in the camera's order: p = (s * U + O) + t * V, then the
// division by the depth. A point at or behind the camera has no picture;
// its depth is replaced before the division so that nothing is divided by
// zero, and its position becomes NaN, which every bounds test rejects.
// The source position of the block's pixel i.
inline void SourcePosition(const TBlock& b, const TSourceRaster& src, std::int64_t i, double& fx, double& fy) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double p0 = b.A0[i] + b.Tv0;
  const double p1 = b.A1[i] + b.Tv1;
  const double p2 = b.A2[i] + b.Tv2;
  const bool visible = p2 > 0.0;
  const double k = b.Focal / (visible ? p2 : 1.0);
  const double x = p0 * k;
  const double y = p1 * k;
  fx = visible ? (x - src.XOffset) * src.XScale : nan;
  fy = visible ? (y - src.YOffset) * src.YScale : nan;
}

void ProjectFrom(std::int64_t from, const TBlock& b, const TSourceRaster& src, TScratch& w) {
  for (std::int64_t i = from; i < b.N; ++i) SourcePosition(b, src, i, w.Fx[i], w.Fy[i]);
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

void BlendFrom(std::int64_t from, const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out,
               bool andMode) {
  out += 3 * from;
  for (std::int64_t i = from; i < n; ++i, out += 3) {
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

void GatherNearestFrom(std::int64_t from, const TSourceRaster& src, const TScratch& w, std::int64_t n,
                       std::uint8_t* out, bool andMode) {
  out += 3 * from;
  for (std::int64_t i = from; i < n; ++i, out += 3) {
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

void BlendScalar(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out, bool andMode) {
  BlendFrom(0, src, w, n, out, andMode);
}

void GatherNearestScalar(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out,
                         bool andMode) {
  GatherNearestFrom(0, src, w, n, out, andMode);
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

// Brings the four neighbours of four neighbouring pixels, just located,
// into the cache while the rest of the block is located, so that they are
// there when the block is blended: the lines of the first and the last
// pixel's, which the others lie between, in both rows. (For the nearest
// pixel it measured no quicker.)
inline void PrefetchFour(const TSourceRaster& src, const TScratch& w, std::int64_t i) {
  for (const std::int64_t j : {i, i + 3}) {
    const std::int32_t col = w.Col[static_cast<std::size_t>(j)];
    if (col < 0) continue;
    const std::uint8_t* p = src.Base + w.Row[static_cast<std::size_t>(j)] * src.Stride + col;
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p - src.Stride), _MM_HINT_T0);
  }
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
    PrefetchFour(src, w, i);
  }
  LocateBilinearFrom(i, src, n, w);
}

// Four finished pixels, each as the 32-bit word blue | green << 8 | red << 16,
// go out as their 12 bytes. A pixel without a picture gets red, which
// and-mode ands in like any other colour (keeping the red, clearing the rest).
// A 16-byte store is used where its last 4 bytes belong to the block's next
// pixels, which are written after; at a block's end they might be another
// thread's.
PLANORA_AVX2 inline void StoreFour(__m128i bgr, __m128i valid, std::uint8_t* out, bool roomFor16, bool andMode) {
  const __m128i red = _mm_set1_epi32(0x00FF0000);
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i bytes = _mm_shuffle_epi8(_mm_blendv_epi8(red, bgr, valid), pack);
  if (andMode) {
    alignas(16) std::uint8_t old[16];
    std::memcpy(old, out, 12);
    const __m128i both = _mm_and_si128(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(old)));
    _mm_store_si128(reinterpret_cast<__m128i*>(old), both);
    std::memcpy(out, old, 12);
  } else if (roomFor16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    const std::int32_t last = _mm_extract_epi32(bytes, 2);
    std::memcpy(out + 8, &last, 4);
  }
}

// Byte offsets of four samples from the picture's first row, as 64-bit
// lanes (pictures may hold more than 2 GB): row * stride + column.
PLANORA_AVX2 inline __m256i Offsets(__m128i row, __m128i col, __m256i stride) {
  return _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(row), stride), _mm256_cvtepi32_epi64(col));
}

// Four samples per step: each read as one 32-bit word (the bitmap's
// trailing bytes make that safe at its very end); those without a picture
// are not read at all.
PLANORA_AVX2 void GatherNearestAvx2(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out,
                                    bool andMode) {
  const __m256i stride = _mm256_set1_epi64x(src.Stride);
  const __m128i none = _mm_set1_epi32(-1);
  const auto* base = reinterpret_cast<const int*>(src.Base);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i col = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.Col.data() + i));
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.Row.data() + i));
    const __m128i valid = _mm_cmpgt_epi32(col, none);
    const __m128i pixels = _mm256_mask_i64gather_epi32(_mm_setzero_si128(), base, Offsets(row, col, stride), valid, 1);
    StoreFour(pixels, valid, out + 3 * i, i + 6 <= n, andMode);
  }
  GatherNearestFrom(i, src, w, n, out, andMode);
}

// Channel c of the four 64-bit lanes' neighbour at byte `at` (0: the left
// pixel, 3: the right one) as exact doubles: the byte is placed under the
// exponent of 2^52, whose value is then taken off again.
PLANORA_AVX2 inline __m256d Channel(__m256i eightBytes, int at) {
  const char a = static_cast<char>(at), b = static_cast<char>(at + 8), z = -1;
  const __m256i pick = _mm256_setr_epi8(a, z, z, z, z, z, z, z, b, z, z, z, z, z, z, z,  //
                                        a, z, z, z, z, z, z, z, b, z, z, z, z, z, z, z);
  const __m256d two52 = _mm256_set1_pd(4503599627370496.0);
  const __m256i bits = _mm256_or_si256(_mm256_shuffle_epi8(eightBytes, pick), _mm256_castpd_si256(two52));
  return _mm256_sub_pd(_mm256_castsi256_pd(bits), two52);
}

// One channel of four pixels, in the reference's order of operations.
PLANORA_AVX2 inline __m128i BlendFour(__m256i lower, __m256i upper, int c, __m256d w1, __m256d w2, __m256d w3,
                                      __m256d w4) {
  __m256d s = _mm256_setzero_pd();
  s = _mm256_add_pd(s, _mm256_mul_pd(Channel(lower, c), w1));
  s = _mm256_add_pd(s, _mm256_mul_pd(Channel(upper, c), w2));
  s = _mm256_add_pd(s, _mm256_mul_pd(Channel(lower, c + 3), w3));
  s = _mm256_add_pd(s, _mm256_mul_pd(Channel(upper, c + 3), w4));
  const __m256d v = _mm256_min_pd(_mm256_round_pd(s, kNearestEven), _mm256_set1_pd(255.0));
  return _mm256_cvttpd_epi32(v);
}

// Four pixels per step, one channel of the four in each vector: the lower
// left and right neighbours come as the eight bytes at the lower left, the
// upper ones likewise (two bytes past the right neighbour are read along;
// the bitmap's trailing bytes cover them in the last row).
PLANORA_AVX2 void BlendAvx2(const TSourceRaster& src, const TScratch& w, std::int64_t n, std::uint8_t* out,
                            bool andMode) {
  const __m256i stride = _mm256_set1_epi64x(src.Stride);
  const __m128i none = _mm_set1_epi32(-1);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i col = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.Col.data() + i));
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.Row.data() + i));
    const __m128i valid = _mm_cmpgt_epi32(col, none);
    const __m256i valid64 = _mm256_cvtepi32_epi64(valid);
    const __m256i atLower = Offsets(row, col, stride);
    const __m256i atUpper = _mm256_sub_epi64(atLower, stride);
    // Plain loads, quicker than the gather instruction on the processors
    // measured; the samples without a picture read the picture's start.
    alignas(32) std::int64_t at[2][4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at[0]), _mm256_and_si256(atLower, valid64));
    _mm256_store_si256(reinterpret_cast<__m256i*>(at[1]), _mm256_and_si256(atUpper, valid64));
    std::int64_t bytes[2][4];
    for (int r = 0; r < 2; ++r)
      for (int j = 0; j < 4; ++j) std::memcpy(&bytes[r][j], src.Base + at[r][j], 8);
    const __m256i lower = _mm256_setr_epi64x(bytes[0][0], bytes[0][1], bytes[0][2], bytes[0][3]);
    const __m256i upper = _mm256_setr_epi64x(bytes[1][0], bytes[1][1], bytes[1][2], bytes[1][3]);
    const __m256d w1 = _mm256_loadu_pd(w.W1.data() + i), w2 = _mm256_loadu_pd(w.W2.data() + i);
    const __m256d w3 = _mm256_loadu_pd(w.W3.data() + i), w4 = _mm256_loadu_pd(w.W4.data() + i);
    const __m128i blue = BlendFour(lower, upper, 0, w1, w2, w3, w4);
    const __m128i green = BlendFour(lower, upper, 1, w1, w2, w3, w4);
    const __m128i red = BlendFour(lower, upper, 2, w1, w2, w3, w4);
    const __m128i bgr = _mm_or_si128(blue, _mm_or_si128(_mm_slli_epi32(green, 8), _mm_slli_epi32(red, 16)));
    StoreFour(bgr, valid, out + 3 * i, i + 6 <= n, andMode);
  }
  BlendFrom(i, src, w, n, out, andMode);
}

constexpr TKernels kAvx2{Staged<ProjectAvx2, LocateNearestAvx2, GatherNearestAvx2>,
                         Staged<ProjectAvx2, LocateBilinearAvx2, BlendAvx2>};

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
constexpr TKernels kAvx2{};
bool HasAvx2() { return false; }
#endif

#if PLANORA_AVX512_KERNELS
// ------------------------------------------------------------------ AVX-512
// Two passes over each block: where every pixel is read (and the blend's
// weights), eight pixels a step in double precision as the stages compute
// them, then the samples, sixteen a step. One pass would chain the
// division, the loads and the blend into one long wait for every few
// pixels, more than the processor can overlap; between the passes the
// samples are fetched into the cache. Byte permutes (VBMI) take the
// channels out of the loaded bytes and pack the finished pixels, and masks
// replace the tails: the bytes beyond a block's last pixel are neither read
// nor written.

#define PLANORA_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")))

// GCC 12 warns about the placeholder its own AVX-512 headers leave
// undefined on purpose in masked conversions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Lanes [0, count) of eight.
PLANORA_AVX512 inline __mmask8 FirstLanes(std::int64_t count) {
  return count >= 8 ? __mmask8{0xFF} : count <= 0 ? __mmask8{0} : static_cast<__mmask8>((1u << count) - 1);
}

// The source positions of eight target pixels, in the camera's order
// (ProjectFrom); `seen` marks those in front of the camera.
struct TPositions8 {
  __m512d Fx, Fy;
  __mmask8 Seen;
};

PLANORA_AVX512 inline TPositions8 Project8(const TBlock& b, const TSourceRaster& src, std::int64_t i,
                                           __mmask8 lanes) {
  const __m512d p0 = _mm512_add_pd(_mm512_maskz_loadu_pd(lanes, b.A0 + i), _mm512_set1_pd(b.Tv0));
  const __m512d p1 = _mm512_add_pd(_mm512_maskz_loadu_pd(lanes, b.A1 + i), _mm512_set1_pd(b.Tv1));
  const __m512d p2 = _mm512_add_pd(_mm512_maskz_loadu_pd(lanes, b.A2 + i), _mm512_set1_pd(b.Tv2));
  const __mmask8 seen = _mm512_mask_cmp_pd_mask(lanes, p2, _mm512_setzero_pd(), _CMP_GT_OQ);
  const __m512d k = _mm512_div_pd(_mm512_set1_pd(b.Focal), _mm512_mask_blend_pd(seen, _mm512_set1_pd(1.0), p2));
  const __m512d x = _mm512_mul_pd(p0, k);
  const __m512d y = _mm512_mul_pd(p1, k);
  return {_mm512_mul_pd(_mm512_sub_pd(x, _mm512_set1_pd(src.XOffset)), _mm512_set1_pd(src.XScale)),
          _mm512_mul_pd(_mm512_sub_pd(y, _mm512_set1_pd(src.YOffset)), _mm512_set1_pd(src.YScale)), seen};
}

// Lanes of `among` whose lo <= v <= hi.
PLANORA_AVX512 inline __mmask8 Within(__mmask8 among, __m512d v, double lo, double hi) {
  return _mm512_mask_cmp_pd_mask(_mm512_mask_cmp_pd_mask(among, v, _mm512_set1_pd(lo), _CMP_GE_OQ), v,
                                 _mm512_set1_pd(hi), _CMP_LE_OQ);
}

// Byte offsets from the picture's first row of the pixels at column x, row
// y (as picture coordinates, y up): whole numbers well below 2^53, so exact.
PLANORA_AVX512 inline __m512i ByteOffsets(const TSourceRaster& src, __m512d x, __m512d y, __mmask8 inside) {
  const __m512d rowStart = _mm512_mul_pd(_mm512_sub_pd(_mm512_set1_pd(src.MaxY), y),
                                         _mm512_set1_pd(static_cast<double>(src.Stride)));
  return _mm512_maskz_cvttpd_epi64(inside, _mm512_add_pd(rowStart, _mm512_mul_pd(_mm512_set1_pd(3.0), x)));
}

// Brings the samples of eight neighbouring target pixels (at: their byte
// offsets; the upper rows' are `up` less) into the cache while the rest of
// the block's positions are worked out, so that they are there when the
// second pass reads them. Eight neighbours' samples lie within a few dozen
// bytes of each other, on the one or two cache lines that the first and
// the last one touch: fetching those two is cheaper than fetching all eight.
PLANORA_AVX512 inline void Prefetch8(const TSourceRaster& src, const std::int64_t* at, std::int64_t up) {
  for (const int j : {0, 7}) {
    const std::uint8_t* p = src.Base + at[j];
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
    if (up != 0) _mm_prefetch(reinterpret_cast<const char*>(p - up), _MM_HINT_T0);
  }
}

// Sixteen finished pixels (blue | green << 8 | red << 16 in each 32-bit
// lane; red for those without a picture) go out as their bytes, the first
// `count` of them only: the bytes beyond are neither read nor written.
PLANORA_AVX512 inline void StoreSixteen(__m512i bgr, __mmask16 inside, std::int64_t count, std::uint8_t* out,
                                        bool andMode) {
  const __m512i pack = _mm512_setr_epi32(0x04020100, 0x09080605, 0x0E0D0C0A, 0x14121110, 0x19181615, 0x1E1D1C1A,
                                         0x24222120, 0x29282625, 0x2E2D2C2A, 0x34323130, 0x39383635, 0x3E3D3C3A,
                                         0, 0, 0, 0);
  const __m512i pixels = _mm512_mask_blend_epi32(inside, _mm512_set1_epi32(0x00FF0000), bgr);
  const __mmask64 keep = count >= 16 ? __mmask64{0xFFFFFFFFFFFF} : (std::uint64_t{1} << (3 * count)) - 1;
  __m512i bytes = _mm512_permutexvar_epi8(pack, pixels);
  if (andMode) bytes = _mm512_and_si512(bytes, _mm512_maskz_loadu_epi8(keep, out));
  _mm512_mask_storeu_epi8(out, keep, bytes);
}

PLANORA_AVX512 void NearestAvx512(const TBlock& b, const TSourceRaster& src, TScratch& w, std::uint8_t* out,
                                  bool andMode) {
  for (std::int64_t i = 0; i < b.N; i += 8) {
    const __mmask8 lanes = FirstLanes(b.N - i);
    const TPositions8 p = Project8(b, src, i, lanes);
    const __m512d rx = _mm512_roundscale_pd(p.Fx, kNearestEven);
    const __m512d ry = _mm512_roundscale_pd(p.Fy, kNearestEven);
    const __mmask8 inside = Within(Within(p.Seen, rx, 0.0, src.MaxX), ry, 0.0, src.MaxY);
    // Pixels without a picture read the picture's first bytes: every read is a plain one.
    _mm512_storeu_si512(w.At.data() + i, ByteOffsets(src, rx, ry, inside));
    w.Inside[static_cast<std::size_t>(i / 8)] = inside;
    Prefetch8(src, w.At.data() + i, 0);
  }
  // The second pass goes sixteen at a time: what it reads beyond the block
  // is a pixel without a picture.
  if (b.N % 16 > 0 && b.N % 16 <= 8) {
    _mm512_storeu_si512(w.At.data() + (b.N + 7) / 8 * 8, _mm512_setzero_si512());
    w.Inside[static_cast<std::size_t>((b.N + 7) / 8)] = 0;
  }
  for (std::int64_t i = 0; i < b.N; i += 16) {
    const std::int64_t count = std::min<std::int64_t>(16, b.N - i);
    const std::size_t group = static_cast<std::size_t>(i / 8);
    const __mmask16 inside = static_cast<__mmask16>(w.Inside[group] | (w.Inside[group + 1] << 8));
    const std::int64_t* at = w.At.data() + i;
    std::int32_t v[16];
    for (int j = 0; j < 16; ++j) std::memcpy(&v[j], src.Base + at[j], 4);
    const __m512i pixels = _mm512_setr_epi32(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10],
                                             v[11], v[12], v[13], v[14], v[15]);
    StoreSixteen(pixels, inside, count, out + 3 * i, andMode);
  }
}

// The block's pixel i blended in the reference's arithmetic, from its
// source position as LocateBilinearFrom and BlendFrom take it (the four
// neighbours known to be inside): blue | green << 8 | red << 16.
std::int32_t BlendExactly(const TBlock& b, const TSourceRaster& src, std::int64_t i) {
  double fx = 0, fy = 0;
  SourcePosition(b, src, i, fx, fy);
  const double ix = std::floor(fx);
  const double k = std::floor(fy);
  const double wx = fx - ix;
  const double ux = 1 - wx;
  const double wy = fy - k;
  const double uy = 1 - wy;
  const double w1 = ux * uy, w2 = ux * wy, w3 = wx * uy, w4 = wx * wy;
  const std::size_t rowL = static_cast<std::size_t>(static_cast<std::int32_t>(src.MaxY - k));
  const std::int32_t col = static_cast<std::int32_t>(3.0 * ix);
  const std::uint8_t* n1 = src.Rows[rowL] + col;
  const std::uint8_t* n2 = src.Rows[rowL - 1] + col;
  std::int32_t bgr = 0;
  for (int c = 0; c < 3; ++c)
    bgr |= BlendChannel(n1[c], n2[c], n1[c + 3], n2[c + 3], w1, w2, w3, w4) << (8 * c);
  return bgr;
}

// The eight bytes at base + at[j] for j = 0..7. Plain loads put together as
// a tree: quicker than the gather instruction on the processors measured.
PLANORA_AVX512 inline __m512i Load8(const std::uint8_t* base, const std::int64_t* at) {
  std::int64_t v[8];
  for (int j = 0; j < 8; ++j) std::memcpy(&v[j], base + at[j], 8);
  return _mm512_setr_epi64(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
}

// Sixteen pixels' channel values at byte `at` of the 64-bit lanes of a
// (pixels 0..7) and b (8..15), as floats.
PLANORA_AVX512 inline __m512 Bytes16(__m512i a, __m512i b, int at) {
  const __m512i pick = _mm512_add_epi32(
      _mm512_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104, 112, 120), _mm512_set1_epi32(at));
  return _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(0x1111111111111111ULL, a, pick, b));
}

// The blend in single precision, sixteen pixels a vector. Its sums stray
// from the reference's double ones by less than 3e-4: the weights, made in
// single precision from the position's fractions, are each within 2e-7 of
// the reference's (at most 1.8e-4 on a sum of channels of at most 255),
// and rounding the four products and three partial sums to 24 bits adds at
// most 1.1e-4. Where a sum comes within kNearHalf (about 1e-3) of k + 0.5,
// where the two might round apart, the pixel is done again in the
// reference's arithmetic. (The tests fail with a margin of 1.5e-5.)
constexpr float kNearHalf = 1.0f / 1024;

// The lower neighbours come as the eight bytes at the lower left, the upper
// ones likewise (see BlendAvx2).
PLANORA_AVX512 void BilinearAvx512(const TBlock& b, const TSourceRaster& src, TScratch& w, std::uint8_t* out,
                                   bool andMode) {
  // Pixels without a picture read the start of the first two rows, so that
  // every read is a plain one; a picture of one row has no pixel with four
  // neighbours, and the stages do that (rare) case.
  if (src.MaxY < 1) return Staged<ProjectScalar, LocateBilinearScalar, BlendScalar>(b, src, w, out, andMode);
  const __m512i none = _mm512_set1_epi64(src.Stride);
  const __m512d one = _mm512_set1_pd(1.0);
  for (std::int64_t i = 0; i < b.N; i += 8) {
    const __mmask8 lanes = FirstLanes(b.N - i);
    const TPositions8 p = Project8(b, src, i, lanes);
    const __m512d ix = _mm512_roundscale_pd(p.Fx, kDown);
    const __m512d k = _mm512_roundscale_pd(p.Fy, kDown);
    // ix + 1 <= MaxX as the stages test it: on the sum, rounded.
    const __mmask8 inside = Within(Within(Within(p.Seen, ix, 0.0, src.MaxX + 1.0), _mm512_add_pd(ix, one),
                                          -std::numeric_limits<double>::infinity(), src.MaxX),
                                   k, 0.0, src.MaxY - 1);
    // The weights in single precision from the position's fractions.
    const __m256 wx = _mm512_cvtpd_ps(_mm512_sub_pd(p.Fx, ix));
    const __m256 wy = _mm512_cvtpd_ps(_mm512_sub_pd(p.Fy, k));
    const __m256 ux = _mm256_sub_ps(_mm256_set1_ps(1.0f), wx);
    const __m256 uy = _mm256_sub_ps(_mm256_set1_ps(1.0f), wy);
    _mm256_mask_storeu_ps(w.V1.data() + i, lanes, _mm256_mul_ps(ux, uy));
    _mm256_mask_storeu_ps(w.V2.data() + i, lanes, _mm256_mul_ps(ux, wy));
    _mm256_mask_storeu_ps(w.V3.data() + i, lanes, _mm256_mul_ps(wx, uy));
    _mm256_mask_storeu_ps(w.V4.data() + i, lanes, _mm256_mul_ps(wx, wy));
    _mm512_storeu_si512(w.At.data() + i, _mm512_mask_mov_epi64(none, inside, ByteOffsets(src, ix, k, inside)));
    w.Inside[static_cast<std::size_t>(i / 8)] = inside;
    Prefetch8(src, w.At.data() + i, src.Stride);
  }
  // The second pass goes sixteen at a time: what it reads beyond the block
  // is a pixel without a picture.
  if (b.N % 16 > 0 && b.N % 16 <= 8) {
    _mm512_storeu_si512(w.At.data() + (b.N + 7) / 8 * 8, none);
    w.Inside[static_cast<std::size_t>((b.N + 7) / 8)] = 0;
  }
  const std::uint8_t* upperBase = src.Base - src.Stride;
  const __m512 half = _mm512_set1_ps(0.5f - kNearHalf), top = _mm512_set1_ps(255.0f);
  const __m512 magnitude = _mm512_castsi512_ps(_mm512_set1_epi32(0x7FFFFFFF));
  for (std::int64_t i = 0; i < b.N; i += 16) {
    const std::int64_t count = std::min<std::int64_t>(16, b.N - i);
    const __mmask16 lanes = count >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << count) - 1);
    const std::size_t group = static_cast<std::size_t>(i / 8);
    const __mmask16 inside = static_cast<__mmask16>(w.Inside[group] | (w.Inside[group + 1] << 8));
    const std::int64_t* at = w.At.data() + i;
    const __m512i lowerA = Load8(src.Base, at), lowerB = Load8(src.Base, at + 8);
    const __m512i upperA = Load8(upperBase, at), upperB = Load8(upperBase, at + 8);
    const __m512 w1 = _mm512_maskz_loadu_ps(lanes, w.V1.data() + i), w2 = _mm512_maskz_loadu_ps(lanes, w.V2.data() + i);
    const __m512 w3 = _mm512_maskz_loadu_ps(lanes, w.V3.data() + i), w4 = _mm512_maskz_loadu_ps(lanes, w.V4.data() + i);
    __m512i bgr = _mm512_setzero_si512();
    __mmask16 nearHalf = 0;
    for (int c = 0; c < 3; ++c) {
      __m512 s = _mm512_mul_ps(Bytes16(lowerA, lowerB, c), w1);
      s = _mm512_add_ps(s, _mm512_mul_ps(Bytes16(upperA, upperB, c), w2));
      s = _mm512_add_ps(s, _mm512_mul_ps(Bytes16(lowerA, lowerB, c + 3), w3));
      s = _mm512_add_ps(s, _mm512_mul_ps(Bytes16(upperA, upperB, c + 3), w4));
      const __m512 r = _mm512_roundscale_ps(s, kNearestEven);
      nearHalf |= _mm512_mask_cmp_ps_mask(inside, _mm512_and_ps(_mm512_sub_ps(s, r), magnitude), half, _CMP_GT_OQ);
      bgr = _mm512_or_si512(bgr, _mm512_slli_epi32(_mm512_cvttps_epi32(_mm512_min_ps(r, top)), 8 * c));
    }
    if (nearHalf != 0) {
      alignas(64) std::int32_t pixels[16];
      _mm512_store_si512(pixels, bgr);
      for (unsigned m = nearHalf; m != 0; m &= m - 1) {
        const int j = __builtin_ctz(m);
        pixels[j] = BlendExactly(b, src, i + j);
      }
      bgr = _mm512_load_si512(pixels);
    }
    StoreSixteen(bgr, inside, count, out + 3 * i, andMode);
  }
}

constexpr TKernels kAvx512{NearestAvx512, BilinearAvx512};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
                          __builtin_cpu_supports("avx512vbmi");
  return has;
}
#else
constexpr TKernels kAvx512{};
bool HasAvx512() { return false; }
#endif

constexpr TKernels kScalar{Staged<ProjectScalar, LocateNearestScalar, GatherNearestScalar>,
                           Staged<ProjectScalar, LocateBilinearScalar, BlendScalar>};

std::atomic<TKernelSet> mostAllowed{TKernelSet::Avx512};

}  // namespace

bool KernelSetAvailable(TKernelSet set) {
  switch (set) {
    case TKernelSet::Scalar: return true;
    case TKernelSet::Avx2: return HasAvx2();
    case TKernelSet::Avx512: return HasAvx512();
  }
  return false;
}

TKernelSet LimitKernels(TKernelSet most) { return mostAllowed.exchange(most); }

TKernelSet KernelSetInUse() {
  const TKernelSet most = mostAllowed.load();
  if (most >= TKernelSet::Avx512 && HasAvx512()) return TKernelSet::Avx512;
  if (most >= TKernelSet::Avx2 && HasAvx2()) return TKernelSet::Avx2;
  return TKernelSet::Scalar;
}

const TKernels& Kernels() {
  switch (KernelSetInUse()) {
    case TKernelSet::Avx512: return kAvx512;
    case TKernelSet::Avx2: return kAvx2;
    case TKernelSet::Scalar: break;
  }
  return kScalar;
}

}  // namespace planora::detail
