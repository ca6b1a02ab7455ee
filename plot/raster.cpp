// TPlottFlaeche: pixel access for the resampling. A pixel cursor is moved by
// a scan over the bitmap (in world coordinates) or placed directly; reads and
// writes go straight to the bitmap's row memory, with the last row addresses
// cached so that a run along one row fetches its address once.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/sysutils.h"
#include "plot/glib2.h"
#include "plot/blend.h"

namespace planora {

namespace {

// Pixel x of a row: bytes blue, green, red. Indexed in size_t so that every
// column of any width is reachable.
inline std::uint8_t* PixelAt(std::uint8_t* row, std::int64_t x) {
  return row + static_cast<std::size_t>(x) * 3;
}

inline TColor ReadPixel(const std::uint8_t* p) {
  return static_cast<TColor>(p[2]) + 256 * static_cast<TColor>(p[1]) + 65536 * static_cast<TColor>(p[0]);
}

inline void StorePixel(std::uint8_t* p, TColor v) {
  p[2] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  p[0] = static_cast<std::uint8_t>((v >> 16) & 0xFF);
}

}  // namespace

void TPlottFlaeche::BeginScan(double& X, double& Y, int Window, std::int32_t Step) {
  Win(Window);  // an invalid window number leaves the cursor where it was
  BlockSize = Step;
  const std::int32_t h = (Step - 1) / 2;
  CursorX = ScanMinX + h;
  CursorY = ScanMinY + h;
  PixelToWorld(CursorX, CursorY, X, Y, Window);
}

bool TPlottFlaeche::NextScan(double& X, double& Y, int Window) {
  Win(Window);
  bool result = true;
  const std::int32_t h = (BlockSize - 1) / 2;
  // Sums in 64 bits: a huge step must end the row, not wrap round.
  const std::int64_t nextX = static_cast<std::int64_t>(CursorX) + BlockSize;
  if (nextX > ScanMaxX) {
    CursorX = ScanMinX + h;
    const std::int64_t nextY = static_cast<std::int64_t>(CursorY) + BlockSize;
    if (nextY > ScanMaxY) {
      CursorY = ScanMinY + h;
      result = false;
    } else {
      CursorY = static_cast<std::int32_t>(nextY);
    }
  } else {
    CursorX = static_cast<std::int32_t>(nextX);
  }
  PixelToWorld(CursorX, CursorY, X, Y, Window);
  return result;
}

bool TPlottFlaeche::SelectPixel(std::int32_t Px, std::int32_t Py) {
  if (Px > MaxX || Px < 0 || Py > MaxY || Py < 0) return false;
  CursorX = Px;
  CursorY = Py;
  BlockSize = 1;
  return true;
}

TColor TPlottFlaeche::GetPixel() {
  if (CursorY != RowAIndex) {
    RowA = Bitmap->ScanLine(CursorY);
    RowAIndex = CursorY;
  }
  return ReadPixel(PixelAt(RowA, CursorX));
}

TColor TPlottFlaeche::GetPixelInterpolated(int Window, double X, double Y) {
  const PlotWindow& w = Win(Window);

  const double fx = (X - w.XOffset) * w.XScale;
  const std::int64_t ix = Floor(fx);
  if (ix + 1 > MaxX || ix < 0) return NoSourceColor;
  const double wx = fx - static_cast<double>(ix);
  const double ux = 1 - wx;

  // fy counts pixels upwards from the bottom row.
  const double fy = (Y - w.YOffset) * w.YScale;
  const std::int64_t k = Floor(fy);
  const std::int64_t rL = static_cast<std::int64_t>(MaxY) - k;
  const std::int64_t rU = rL - 1;
  if (rL > MaxY || rU < 0) return NoSourceColor;
  const double wy = fy - static_cast<double>(k);
  const double uy = 1 - wy;

  // Two caches: the resampling walks along a pair of rows, and each of the
  // two keeps its address for the whole run.
  if (rL != RowAIndex) {
    RowA = Bitmap->ScanLine(static_cast<int>(rL));
    RowAIndex = static_cast<std::int32_t>(rL);
  }
  const TColor c1 = ReadPixel(PixelAt(RowA, ix));
  const TColor c3 = ReadPixel(PixelAt(RowA, ix + 1));
  if (rU != RowBIndex) {
    RowB = Bitmap->ScanLine(static_cast<int>(rU));
    RowBIndex = static_cast<std::int32_t>(rU);
  }
  const TColor c2 = ReadPixel(PixelAt(RowB, ix));
  const TColor c4 = ReadPixel(PixelAt(RowB, ix + 1));

  const double w1 = ux * uy;
  const double w2 = ux * wy;
  const double w3 = wx * uy;
  const double w4 = wx * wy;

  const std::int32_t red = BlendChannel(c1 & 255, c2 & 255, c3 & 255, c4 & 255, w1, w2, w3, w4);
  const std::int32_t green = BlendChannel((c1 & 65280) >> 8, (c2 & 65280) >> 8, (c3 & 65280) >> 8,
                                          (c4 & 65280) >> 8, w1, w2, w3, w4);
  const std::int32_t blue = BlendChannel((c1 & 16711680) >> 16, (c2 & 16711680) >> 16, (c3 & 16711680) >> 16,
                                         (c4 & 16711680) >> 16, w1, w2, w3, w4);
  return red + 256 * green + 65536 * blue;
}

void TPlottFlaeche::PutPixel(TColor Colour) {
  TCanvas& canvas = Bitmap->Canvas();
  TCanvasLock lock(canvas);
  const bool andMode = Options[AndMode];

  if (BlockSize == 1) {
    DirtyLeft = DirtyRight = CursorX;
    DirtyTop = DirtyBottom = CursorY;
    if (CursorY != RowAIndex) {
      RowAIndex = CursorY;
      RowA = Bitmap->ScanLine(CursorY);
    }
    std::uint8_t* p = PixelAt(RowA, CursorX);
    const TColor v = andMode ? (Colour & ReadPixel(p)) : Colour;
    StorePixel(p, v);
  } else {
    // The block is centred on the cursor (left and upper half the smaller for
    // even sizes) and cut to the bitmap.
    const std::int64_t h = (BlockSize - 1) / 2;
    std::int64_t x0 = static_cast<std::int64_t>(CursorX) - h;
    std::int64_t x1 = x0 + BlockSize - 1;
    std::int64_t y0 = static_cast<std::int64_t>(CursorY) - h;
    std::int64_t y1 = y0 + BlockSize - 1;
    x0 = std::max<std::int64_t>(x0, 0);
    x1 = std::min<std::int64_t>(x1, MaxX);
    y0 = std::max<std::int64_t>(y0, 0);
    y1 = std::min<std::int64_t>(y1, MaxY);
    DirtyLeft = static_cast<std::int32_t>(x0);
    DirtyRight = static_cast<std::int32_t>(x1);
    DirtyTop = static_cast<std::int32_t>(y0);
    DirtyBottom = static_cast<std::int32_t>(y1);
    for (std::int64_t y = y0; y <= y1; ++y) {
      RowA = Bitmap->ScanLine(static_cast<int>(y));
      RowAIndex = -1;
      for (std::int64_t x = x0; x <= x1; ++x) {
        std::uint8_t* p = PixelAt(RowA, x);
        StorePixel(p, andMode ? (Colour & ReadPixel(p)) : Colour);
      }
    }
  }
  DirtyWidth = DirtyRight - DirtyLeft + 1;
  DirtyHeight = DirtyBottom - DirtyTop + 1;

  // Only the changed pixels go to the screen; the marker is not redrawn, so
  // bulk writers switch screen updates off and repaint once at the end.
  if (!Options[NoScreenUpdate] && PaintBox != nullptr) {
    const TRect dirty{DirtyLeft, DirtyTop, DirtyRight + 1, DirtyBottom + 1};
    PaintBox->Canvas().CopyRect(dirty, canvas, dirty);
  }
}

}  // namespace planora
