// Bitmaps and canvases: pixel storage, GDI-style rectangles and polygons with
// not-xor pens, nearest-pixel stretching and plain copies.
//
// Geometry is done in 64-bit (and, where two coordinate differences are
// multiplied, 128-bit) integers, so that any int coordinate, however far off
// the bitmap, is handled exactly. Every loop runs over the part of the shape
// that falls on the bitmap only: a rectangle or polygon with corners at
// +-1e6 costs no more than one that fits.

#include "platform/graphics.h"
#include "platform/int128.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

// AddressSanitizer watches heap blocks only: under it every bitmap comes
// from the heap, so that a read past a bitmap's end is caught at any size.
#if defined(__SANITIZE_ADDRESS__)
#define PLANORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLANORA_ASAN 1
#endif
#endif
#if (defined(__unix__) || defined(__APPLE__)) && !defined(PLANORA_ASAN)
#include <sys/mman.h>
#include <unistd.h>
#define PLANORA_MAPPED_PIXELS 1
#endif

namespace planora {

namespace {

using i64 = std::int64_t;
using Wide = Int128;

constexpr int kBytesPerPixel = 3;

// Inclusive bounds of the pixels one drawing call wrote.
struct TouchedBox {
  i64 left = std::numeric_limits<i64>::max();
  i64 top = std::numeric_limits<i64>::max();
  i64 right = std::numeric_limits<i64>::min();
  i64 bottom = std::numeric_limits<i64>::min();

  void AddSpan(i64 y, i64 xFirst, i64 xLast) {
    left = std::min(left, xFirst);
    right = std::max(right, xLast);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
  void Add(i64 x, i64 y) { AddSpan(y, x, x); }
  bool Empty() const { return right < left; }
  // Only called on boxes inside a bitmap, so the values fit an int.
  TRect ToRect() const {
    if (Empty()) return TRect{};
    return Rect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right + 1),
                static_cast<int>(bottom + 1));
  }
};

// One pixel written with the pen mode: copy, or per channel ~(src ^ dst).
// Because not-xor is an exclusive-or with a constant, applying the same
// drawing twice restores the bitmap whatever the shape.
inline void StorePixel(std::uint8_t* p, TColor c, TPenMode mode) {
  const std::uint8_t b = ColorBlue(c);
  const std::uint8_t g = ColorGreen(c);
  const std::uint8_t r = ColorRed(c);
  if (mode == pmNotXor) {
    p[0] = static_cast<std::uint8_t>(~(b ^ p[0]));
    p[1] = static_cast<std::uint8_t>(~(g ^ p[1]));
    p[2] = static_cast<std::uint8_t>(~(r ^ p[2]));
  } else {
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
}

// Whether position `pos` along a one-pixel styled line is drawn. The runs
// alternate on/off starting with "on"; the counter runs on across the
// segments of one outline, so a dash may turn a corner.
bool PenPatternOn(TPenStyle style, std::uint64_t pos) {
  static constexpr int kDash[] = {18, 6};
  static constexpr int kDot[] = {3, 3};
  static constexpr int kDashDot[] = {9, 6, 3, 6};
  static constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};
  const int* runs = nullptr;
  int count = 0;
  switch (style) {
    case psDash: runs = kDash; count = 2; break;
    case psDot: runs = kDot; count = 2; break;
    case psDashDot: runs = kDashDot; count = 4; break;
    case psDashDotDot: runs = kDashDotDot; count = 6; break;
    default: return true;
  }
  int period = 0;
  for (int k = 0; k < count; ++k) period += runs[k];
  int rest = static_cast<int>(pos % static_cast<std::uint64_t>(period));
  for (int k = 0; k < count; ++k) {
    if (rest < runs[k]) return k % 2 == 0;
    rest -= runs[k];
  }
  return true;
}

// The pixels of one call's outline, each once, sorted row by row. A wide pen
// stamps a width x width square on every line pixel; the squares of
// neighbouring pixels overlap, and the set keeps each pixel once so that a
// not-xor outline does not cancel itself.
class PenTrace {
 public:
  PenTrace(const TBitmap& bmp, const TPen& pen)
      : width_(bmp.Width()), height_(bmp.Height()), pen_(pen) {
    const int w = std::max(1, pen.Width);
    lo_ = -(w / 2);
    hi_ = lo_ + w - 1;
    // Dash patterns belong to one-pixel pens; wider pens draw solid.
    styled_ = w == 1 && pen.Style != psSolid;
  }

  // Line pixels whose stamp can reach the bitmap lie in this window.
  i64 MinX() const { return -hi_; }
  i64 MaxX() const { return width_ - 1 - lo_; }
  i64 MinY() const { return -hi_; }
  i64 MaxY() const { return height_ - 1 - lo_; }

  void Plot(i64 x, i64 y, std::uint64_t pos) {
    if (styled_ && !PenPatternOn(pen_.Style, pos)) return;
    const i64 xa = std::max<i64>(x + lo_, 0), xb = std::min<i64>(x + hi_, width_ - 1);
    const i64 ya = std::max<i64>(y + lo_, 0), yb = std::min<i64>(y + hi_, height_ - 1);
    for (i64 py = ya; py <= yb; ++py)
      for (i64 px = xa; px <= xb; ++px) keys_.push_back(Key(px, py));
  }

  void Finish() {
    std::sort(keys_.begin(), keys_.end());
    keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
  }

  const std::vector<std::uint64_t>& Keys() const { return keys_; }

  static std::uint64_t Key(i64 x, i64 y) {
    return (static_cast<std::uint64_t>(y) << 32) | static_cast<std::uint64_t>(x);
  }
  static i64 KeyX(std::uint64_t k) { return static_cast<i64>(k & 0xFFFFFFFFu); }
  static i64 KeyY(std::uint64_t k) { return static_cast<i64>(k >> 32); }

 private:
  i64 width_;
  i64 height_;
  TPen pen_;
  i64 lo_ = 0;
  i64 hi_ = 0;
  bool styled_ = false;
  std::vector<std::uint64_t> keys_;
};

i64 Sign(i64 v) { return (v > 0) - (v < 0); }

// Steps 0..n-1 of the line from (x0, y0) towards (x1, y1), n = max(|dx|, |dy|):
// the end pixel is left out so that consecutive segments of an outline share
// their vertex once. Step i sits at offset i along the major axis and at
// offset floor((2 i dm + n) / (2 n)) along the minor one (dm = |minor delta|),
// the Bresenham choice written in closed form. The closed form lets the walk
// start at the first step that lies on the bitmap: huge lines cost only their
// visible part. `pos` advances by n in any case, so a dash pattern continues
// correctly across clipped parts and into the next segment.
void WalkSegment(i64 x0, i64 y0, i64 x1, i64 y1, PenTrace& trace, std::uint64_t& pos) {
  // A segment gives the same pixels whichever way it is drawn: it is always
  // walked from its upper (then left) end, so the closed form breaks its
  // ties the same way. Drawn the other way, the steps taken are 1..n of that
  // walk instead of 0..n-1 (still leaving out the end it was drawn to), and
  // the dash position counts from where the drawing started.
  const bool reversed = y0 > y1 || (y0 == y1 && x0 > x1);
  if (reversed) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const i64 dx = x1 - x0, dy = y1 - y0;
  const i64 adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const bool xMajor = adx >= ady;
  const i64 n = std::max(adx, ady);
  if (n == 0) return;
  const std::uint64_t base = pos;
  pos += static_cast<std::uint64_t>(n);
  const auto patternPos = [&](i64 i) {
    return base + static_cast<std::uint64_t>(reversed ? n - i : i);
  };

  const i64 m0 = xMajor ? x0 : y0;
  const i64 sM = Sign(xMajor ? dx : dy);
  const i64 c0 = xMajor ? y0 : x0;
  const i64 sC = Sign(xMajor ? dy : dx);
  const i64 dm = xMajor ? ady : adx;
  const i64 majLo = xMajor ? trace.MinX() : trace.MinY();
  const i64 majHi = xMajor ? trace.MaxX() : trace.MaxY();
  const i64 minLo = xMajor ? trace.MinY() : trace.MinX();
  const i64 minHi = xMajor ? trace.MaxY() : trace.MaxX();

  // Steps whose major coordinate is in range.
  i64 ia = sM > 0 ? majLo - m0 : m0 - majHi;
  i64 ib = sM > 0 ? majHi - m0 : m0 - majLo;
  ia = std::max<i64>(ia, reversed ? 1 : 0);
  ib = std::min<i64>(ib, reversed ? n : n - 1);
  if (ia > ib) return;

  // The minor offset grows with i, so the steps whose minor coordinate is in
  // range form one interval; find it by bisection.
  const i64 offLo = sC >= 0 ? minLo - c0 : c0 - minHi;
  const i64 offHi = sC >= 0 ? minHi - c0 : c0 - minLo;
  const auto offset = [&](i64 i) {
    return static_cast<i64>((Wide{2} * i * dm + n) / (Wide{2} * n));
  };
  const auto firstWith = [&](auto pred) {  // first i in [ia, ib + 1) with pred(i)
    i64 a = ia, b = ib + 1;
    while (a < b) {
      const i64 mid = a + (b - a) / 2;
      if (pred(mid)) b = mid; else a = mid + 1;
    }
    return a;
  };
  const i64 first = firstWith([&](i64 i) { return offset(i) >= offLo; });
  const i64 last = firstWith([&](i64 i) { return offset(i) > offHi; }) - 1;
  if (first > last) return;

  i64 off = offset(first);
  i64 rem = static_cast<i64>((Wide{2} * first * dm + n) % (Wide{2} * n));
  for (i64 i = first; i <= last; ++i) {
    const i64 maj = m0 + sM * i, mn = c0 + sC * off;
    if (xMajor) trace.Plot(maj, mn, patternPos(i));
    else trace.Plot(mn, maj, patternPos(i));
    rem += 2 * dm;
    if (rem >= 2 * n) {
      rem -= 2 * n;
      ++off;
    }
  }
}

// Writes the brush over horizontal spans, leaving out the outline's pixels
// (they belong to the pen, and touching them twice would undo a not-xor).
// Rows must come in increasing order, and the spans of one row from left
// to right.
class BrushFill {
 public:
  BrushFill(TBitmap& bmp, const TBrush& brush, TPenMode mode, const std::vector<std::uint64_t>& pen,
            TouchedBox& box)
      : bmp_(bmp), brush_(brush), mode_(mode), pen_(pen), box_(box) {}

  bool Active() const { return brush_.Style != bsClear; }

  // Pixels [xa, xb) of row y, already clipped to the bitmap.
  void Span(i64 y, i64 xa, i64 xb) {
    if (xa >= xb) return;
    if (y != row_) {
      while (rowStart_ < pen_.size() && PenTrace::KeyY(pen_[rowStart_]) < y) ++rowStart_;
      cursor_ = rowStart_;
      row_ = y;
    }
    const auto inRow = [&](std::size_t k) { return k < pen_.size() && PenTrace::KeyY(pen_[k]) == y; };
    while (inRow(cursor_) && PenTrace::KeyX(pen_[cursor_]) < xa) ++cursor_;
    i64 from = xa;
    while (inRow(cursor_) && PenTrace::KeyX(pen_[cursor_]) < xb) {
      const i64 px = PenTrace::KeyX(pen_[cursor_]);
      Paint(y, from, px);
      from = px + 1;
      ++cursor_;
    }
    Paint(y, from, xb);
  }

 private:
  void Paint(i64 y, i64 xa, i64 xb) {
    if (xa >= xb) return;
    std::uint8_t* line = bmp_.ScanLine(static_cast<int>(y));
    if (brush_.Style == bsSolid) {
      for (i64 x = xa; x < xb; ++x) StorePixel(line + x * kBytesPerPixel, brush_.Color, mode_);
      box_.AddSpan(y, xa, xb - 1);
      return;
    }
    // Diagonal cross hatch on an 8-pixel grid anchored at the bitmap's
    // origin, so that neighbouring shapes continue the same lines; the
    // pixels between the lines keep their content.
    for (i64 x = xa; x < xb; ++x) {
      if (((x + y) & 7) == 0 || ((x - y) & 7) == 0) {
        StorePixel(line + x * kBytesPerPixel, brush_.Color, mode_);
        box_.Add(x, y);
      }
    }
  }

  TBitmap& bmp_;
  TBrush brush_;
  TPenMode mode_;
  const std::vector<std::uint64_t>& pen_;
  TouchedBox& box_;
  i64 row_ = -1;
  std::size_t rowStart_ = 0;
  std::size_t cursor_ = 0;
};

void PaintPen(TBitmap& bmp, const PenTrace& trace, const TPen& pen, TouchedBox& box) {
  for (std::uint64_t k : trace.Keys()) {
    const i64 x = PenTrace::KeyX(k), y = PenTrace::KeyY(k);
    StorePixel(bmp.ScanLine(static_cast<int>(y)) + x * kBytesPerPixel, pen.Color, pen.Mode);
    box.Add(x, y);
  }
}

// Ceiling of num / den for den > 0.
i64 CeilDiv(Wide num, Wide den) {
  const Wide q = num >= 0 ? (num + den - 1) / den : -((-num) / den);
  return static_cast<i64>(q);
}

// Plain copy of a w x h block from (sx, sy) of src to (dx, dy) of dst, cut
// to both bitmaps. Source and destination may be the same bitmap: rows are
// moved with memmove and taken in the order that reads each row before it
// is overwritten.
void CopyBlock(TBitmap& dst, const TBitmap& src, i64 sx, i64 sy, i64 dx, i64 dy, i64 w, i64 h,
               TouchedBox& box) {
  if (w <= 0 || h <= 0) return;
  const i64 ia = std::max<i64>({0, -sx, -dx});
  const i64 ib = std::min<i64>({w, i64{src.Width()} - sx, i64{dst.Width()} - dx});
  const i64 ja = std::max<i64>({0, -sy, -dy});
  const i64 jb = std::min<i64>({h, i64{src.Height()} - sy, i64{dst.Height()} - dy});
  if (ia >= ib || ja >= jb) return;
  const std::size_t bytes = static_cast<std::size_t>(ib - ia) * kBytesPerPixel;
  const bool upwards = &dst == &src && dy > sy;
  for (i64 step = 0; step < jb - ja; ++step) {
    const i64 j = upwards ? jb - 1 - step : ja + step;
    const std::uint8_t* from = src.ScanLine(static_cast<int>(sy + j)) + (sx + ia) * kBytesPerPixel;
    std::uint8_t* to = dst.ScanLine(static_cast<int>(dy + j)) + (dx + ia) * kBytesPerPixel;
    std::memmove(to, from, bytes);
  }
  box.AddSpan(dy + ja, dx + ia, dx + ib - 1);
  box.AddSpan(dy + jb - 1, dx + ia, dx + ib - 1);
}

}  // namespace

// ---------------------------------------------------------------- TCanvas

void TCanvas::Lock() {
  mutex_.lock();
  ++lockCount_;
}

void TCanvas::Unlock() {
  assert(lockCount_ > 0);
  --lockCount_;
  mutex_.unlock();
}

void TCanvas::Changed(const TRect& r) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  if (OnChange) OnChange(r);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    TBitmap& bmp = target_;
    i64 left = std::min(x1, x2), right = std::max(x1, x2);
    i64 top = std::min(y1, y2), bottom = std::max(y1, y2);
    if (left == right || top == bottom || bmp.Width() == 0 || bmp.Height() == 0) return;

    // The outline runs clockwise round the border pixels (columns
    // left..right-1, rows top..bottom-1) as four segments without their end
    // pixels, so each border pixel comes once and a dash pattern runs round.
    PenTrace trace(bmp, Pen);
    if (Pen.Style != psClear) {
      const i64 l = left, r = right - 1, t = top, b = bottom - 1;
      std::uint64_t pos = 0;
      WalkSegment(l, t, r + 1, t, trace, pos);
      WalkSegment(r, t + 1, r, b + 1, trace, pos);
      if (b > t) WalkSegment(r - 1, b, l - 1, b, trace, pos);
      if (r > l) WalkSegment(l, b - 1, l, t, trace, pos);
      trace.Finish();
      PaintPen(bmp, trace, Pen, box);
    }

    BrushFill fill(bmp, Brush, Pen.Mode, trace.Keys(), box);
    if (fill.Active()) {
      const i64 xa = std::max<i64>(left, 0), xb = std::min<i64>(right, bmp.Width());
      const i64 ya = std::max<i64>(top, 0), yb = std::min<i64>(bottom, bmp.Height());
      for (i64 y = ya; y < yb; ++y) fill.Span(y, xa, xb);
    }
  }
  Changed(box.ToRect());
}

void TCanvas::FillRect(const TRect& r) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    TBitmap& bmp = target_;
    // A background fill: always a plain store, whatever pen mode a previous
    // outline left behind.
    static const std::vector<std::uint64_t> kNoPen;
    BrushFill fill(bmp, Brush, pmCopy, kNoPen, box);
    if (!fill.Active()) return;
    const i64 xa = std::max<i64>(r.Left, 0), xb = std::min<i64>(r.Right, bmp.Width());
    const i64 ya = std::max<i64>(r.Top, 0), yb = std::min<i64>(r.Bottom, bmp.Height());
    for (i64 y = ya; y < yb; ++y) fill.Span(y, xa, xb);
  }
  Changed(box.ToRect());
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    TBitmap& bmp = target_;
    const std::size_t n = points.size();
    if (n == 0 || bmp.Width() == 0 || bmp.Height() == 0) return;

    PenTrace trace(bmp, Pen);
    if (Pen.Style != psClear && n >= 2) {
      std::uint64_t pos = 0;
      for (std::size_t k = 0; k < n; ++k) {
        const TPoint& a = points[k];
        const TPoint& b = points[(k + 1) % n];
        WalkSegment(a.X, a.Y, b.X, b.Y, trace, pos);
      }
      trace.Finish();
      PaintPen(bmp, trace, Pen, box);
    }

    // Even-odd fill sampled at pixel centres (x + 1/2, y + 1/2). Vertices are
    // integers, so a centre row never passes through one; a pixel belongs to
    // a span when its centre lies in [left crossing, right crossing). Pixel x
    // is right of crossing X when x >= ceil(X - 1/2), computed exactly.
    BrushFill fill(bmp, Brush, Pen.Mode, trace.Keys(), box);
    if (fill.Active() && n >= 3) {
      i64 minY = points[0].Y, maxY = points[0].Y;
      for (const TPoint& p : points) {
        minY = std::min<i64>(minY, p.Y);
        maxY = std::max<i64>(maxY, p.Y);
      }
      const i64 ya = std::max<i64>(minY, 0), yb = std::min<i64>(maxY, bmp.Height());
      std::vector<i64> cuts;
      for (i64 y = ya; y < yb; ++y) {
        cuts.clear();
        for (std::size_t k = 0; k < n; ++k) {
          i64 xa = points[k].X, ya0 = points[k].Y;
          i64 xb = points[(k + 1) % n].X, yb0 = points[(k + 1) % n].Y;
          if (ya0 == yb0) continue;
          if (ya0 > yb0) {
            std::swap(xa, xb);
            std::swap(ya0, yb0);
          }
          if (y < ya0 || y >= yb0) continue;
          // X - 1/2 = ((2 xa - 1)(yb - ya) + (2 y + 1 - 2 ya)(xb - xa)) / (2 (yb - ya))
          const Wide num = Wide{2 * xa - 1} * (yb0 - ya0) + Wide{2 * y + 1 - 2 * ya0} * (xb - xa);
          const Wide den = Wide{2} * (yb0 - ya0);
          cuts.push_back(CeilDiv(num, den));
        }
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t k = 0; k + 1 < cuts.size(); k += 2) {
          const i64 xa = std::max<i64>(cuts[k], 0);
          const i64 xb = std::min<i64>(cuts[k + 1], bmp.Width());
          fill.Span(y, xa, xb);
        }
      }
    }
  }
  Changed(box.ToRect());
}

TColor TCanvas::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= target_.Width() || y >= target_.Height()) return -1;
  return target_.Pixel(x, y);
}

void TCanvas::SetPixel(int x, int y, TColor c) {
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (x < 0 || y < 0 || x >= target_.Width() || y >= target_.Height()) return;
    target_.SetPixel(x, y, c);
  }
  Changed(Rect(x, y, x + 1, y + 1));
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& source) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    TBitmap& bmp = target_;
    const i64 dw = i64{dest.Right} - dest.Left, dh = i64{dest.Bottom} - dest.Top;
    const i64 sw = source.Width(), sh = source.Height();
    if (dw <= 0 || dh <= 0 || sw == 0 || sh == 0) return;
    const i64 xa = std::max<i64>(dest.Left, 0), xb = std::min<i64>(dest.Right, bmp.Width());
    const i64 ya = std::max<i64>(dest.Top, 0), yb = std::min<i64>(dest.Bottom, bmp.Height());
    if (xa >= xb || ya >= yb) return;

    // Drawing a bitmap stretched onto itself reads from a snapshot.
    TBitmap snapshot;
    const TBitmap* src = &source;
    if (&source == &bmp) {
      snapshot.Assign(source);
      src = &snapshot;
    }

    // Destination pixel d takes the source pixel under its centre:
    // (2 d + 1) * s / (2 * dest size), in unsigned 64 bits, which holds
    // (2^33) * (2^31) without overflow.
    const auto nearest = [](i64 d, i64 s, i64 size) {
      return static_cast<i64>((static_cast<std::uint64_t>(2 * d + 1) * static_cast<std::uint64_t>(s)) /
                              (2 * static_cast<std::uint64_t>(size)));
    };
    std::vector<std::size_t> column(static_cast<std::size_t>(xb - xa));
    for (i64 x = xa; x < xb; ++x)
      column[static_cast<std::size_t>(x - xa)] =
          static_cast<std::size_t>(nearest(x - dest.Left, sw, dw)) * kBytesPerPixel;

    const std::size_t rowBytes = column.size() * kBytesPerPixel;
    // At the source's own width every destination pixel takes the source
    // pixel of its own column (2 d + 1) * s / (2 s) = d: a row is one copy.
    // That is how a picture reaches a full-size surface.
    const bool sameWidth = dw == sw;
    i64 previousSource = -1;
    const std::uint8_t* previousRow = nullptr;
    for (i64 y = ya; y < yb; ++y) {
      const i64 sy = nearest(y - dest.Top, sh, dh);
      std::uint8_t* out = bmp.ScanLine(static_cast<int>(y)) + xa * kBytesPerPixel;
      if (sy == previousSource) {
        // An enlarged row repeats the one just built.
        std::memcpy(out, previousRow, rowBytes);
      } else if (sameWidth) {
        std::memcpy(out, src->ScanLine(static_cast<int>(sy)) + column[0], rowBytes);
      } else {
        const std::uint8_t* in = src->ScanLine(static_cast<int>(sy));
        std::uint8_t* o = out;
        for (std::size_t off : column) {
          o[0] = in[off];
          o[1] = in[off + 1];
          o[2] = in[off + 2];
          o += kBytesPerPixel;
        }
      }
      previousSource = sy;
      previousRow = out;
    }
    box.AddSpan(ya, xa, xb - 1);
    box.AddSpan(yb - 1, xa, xb - 1);
  }
  Changed(box.ToRect());
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    CopyBlock(target_, source, 0, 0, x, y, source.Width(), source.Height(), box);
  }
  Changed(box.ToRect());
}

void TCanvas::CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect) {
  TouchedBox box;
  {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    const i64 w = std::min(i64{dest.Right} - dest.Left, i64{sourceRect.Right} - sourceRect.Left);
    const i64 h = std::min(i64{dest.Bottom} - dest.Top, i64{sourceRect.Bottom} - sourceRect.Top);
    CopyBlock(target_, source.Target(), sourceRect.Left, sourceRect.Top, dest.Left, dest.Top, w, h, box);
  }
  Changed(box.ToRect());
}

// ---------------------------------------------------------------- TBitmap

#ifdef PLANORA_MAPPED_PIXELS
namespace {
// A photo's bitmap is tens of megabytes, written once in full right after
// it is made. Zeroing it first would be a pass over all of it for nothing,
// and every 4 KB page's first write is a trap into the kernel: a 20-megapixel
// bitmap takes 15 000 of them. Such bitmaps get a mapping of their own,
// which the system hands out already zeroed, aligned to 2 MB and marked for
// transparent huge pages where the system offers them on request: then the
// same bitmap costs about 30 faults.
constexpr std::size_t kMapFrom = std::size_t{1} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace
#endif

void TBitmap::TPixelMemory::operator()(std::uint8_t* p) const {
#ifdef PLANORA_MAPPED_PIXELS
  if (Mapped != 0) {
    ::munmap(p, Mapped);
    return;
  }
#endif
  std::free(p);
}

std::unique_ptr<std::uint8_t[], TBitmap::TPixelMemory> TBitmap::AllocatePixels(std::size_t bytes) {
#ifdef PLANORA_MAPPED_PIXELS
  if (bytes >= kMapFrom) {
    // Whole small pages: the last part short of a huge page stays in small
    // pages rather than taking (and counting) a whole huge one.
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t length = (bytes + page - 1) / page * page;
    // One huge page more than needed, so that an aligned start exists; the
    // parts before and after it go back at once (nothing was touched yet).
    void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    auto* base = static_cast<std::uint8_t*>(raw);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(base);
    std::uint8_t* start = base + ((kHugePage - at % kHugePage) % kHugePage);
    if (start > base) ::munmap(base, static_cast<std::size_t>(start - base));
    const std::size_t tail = static_cast<std::size_t>(base + length + kHugePage - (start + length));
    if (tail > 0) ::munmap(start + length, tail);
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or exhausted, small ones serve.
    ::madvise(start, length, MADV_HUGEPAGE);
#endif
    return std::unique_ptr<std::uint8_t[], TPixelMemory>(start, TPixelMemory{length});
  }
#endif
  // calloc, not new + fill: the allocator knows when its memory is zero already.
  auto* p = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
  if (p == nullptr) throw std::bad_alloc();
  return std::unique_ptr<std::uint8_t[], TPixelMemory>(p, TPixelMemory{0});
}

TBitmap::TBitmap() : data_(AllocatePixels(kTrailingBytes)), canvas_(*this) {}

TBitmap::TBitmap(int width, int height) : TBitmap() { SetSize(width, height); }

void TBitmap::SetSize(int w, int h) {
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (w == width_ && h == height_) return;
  // Rows are padded to whole 32-bit words, as device-independent bitmaps are.
  const i64 stride = (i64{w} * kBytesPerPixel + 3) / 4 * 4;
  if (stride > std::numeric_limits<int>::max()) throw std::length_error("bitmap too wide");
  auto data = AllocatePixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h) + kTrailingBytes);
  const std::size_t keepBytes = static_cast<std::size_t>(std::min(w, width_)) * kBytesPerPixel;
  const int keepRows = std::min(h, height_);
  for (int y = 0; y < keepRows && keepBytes > 0; ++y)
    std::memcpy(data.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride), ScanLine(y),
                keepBytes);
  data_.swap(data);
  width_ = w;
  height_ = h;
  stride_ = static_cast<int>(stride);
}

TColor TBitmap::Pixel(int x, int y) const {
  assert(x >= 0 && x < width_ && y >= 0 && y < height_);
  const std::uint8_t* p = ScanLine(y) + static_cast<std::size_t>(x) * kBytesPerPixel;
  return RGBColor(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor c) {
  assert(x >= 0 && x < width_ && y >= 0 && y < height_);
  StorePixel(ScanLine(y) + static_cast<std::size_t>(x) * kBytesPerPixel, c, pmCopy);
}

void TBitmap::Fill(TColor c) {
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* p = ScanLine(y);
    for (int x = 0; x < width_; ++x, p += kBytesPerPixel) StorePixel(p, c, pmCopy);
  }
}

void TBitmap::Assign(const TBitmap& other) {
  if (&other == this) return;
  const std::size_t bytes =
      static_cast<std::size_t>(other.stride_) * static_cast<std::size_t>(other.height_) + kTrailingBytes;
  auto data = AllocatePixels(bytes);
  std::memcpy(data.get(), other.data_.get(), bytes);
  data_.swap(data);
  width_ = other.width_;
  height_ = other.height_;
  stride_ = other.stride_;
}

void TBitmap::Swap(TBitmap& other) {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(stride_, other.stride_);
  data_.swap(other.data_);
}

bool operator==(const TBitmap& a, const TBitmap& b) {
  if (a.width_ != b.width_ || a.height_ != b.height_) return false;
  const std::size_t bytes = static_cast<std::size_t>(a.width_) * kBytesPerPixel;
  for (int y = 0; y < a.height_; ++y)
    if (bytes > 0 && std::memcmp(a.ScanLine(y), b.ScanLine(y), bytes) != 0) return false;
  return true;
}

}  // namespace planora
