// Bitmaps and canvases: 24-bit top-down BGR rows, a canvas with pen and brush,
// not-xor drawing, GDI-style rectangles and polygons, single pixels, a
// nearest-pixel stretch and plain rectangle copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace planora {

// Colour value: red + 256 * green + 65536 * blue (red in the lowest byte).
using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clLime = 0x00FF00;
// The system button-face colour the windows use as background.
inline constexpr TColor clBtnFace = 0xF0F0F0;

inline constexpr std::uint8_t ColorRed(TColor c) { return static_cast<std::uint8_t>(c & 0xFF); }
inline constexpr std::uint8_t ColorGreen(TColor c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
inline constexpr std::uint8_t ColorBlue(TColor c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }
inline constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive, as everywhere in the canvas.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
enum TPenMode { pmCopy, pmNotXor };
enum TBrushStyle { bsSolid, bsClear, bsDiagCross };

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

class TBitmap;

// A canvas draws on one bitmap: the bitmap that owns it, or the screen image
// of a paint box. Every drawing call is clipped to the bitmap. After each
// drawing call OnChange reports the touched rectangle, so that a screen
// (a real window) can show it.
class TCanvas {
 public:
  explicit TCanvas(TBitmap& target) : target_(target) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TPen Pen;
  TBrush Brush;
  // Called with the rectangle a drawing call changed (already clipped).
  std::function<void(const TRect&)> OnChange;

  // The canvas lock brackets drawing so that no other user paints the
  // bitmap meanwhile; it may be taken several times by the same thread.
  void Lock();
  void Unlock();
  int LockCount() const { return lockCount_; }

  // Outline with the pen, interior with the brush; right and bottom edges
  // excluded: with a one-pixel pen, columns x1..x2-1 and rows y1..y2-1.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // The rectangle's pixels with the brush only (no outline), right and bottom excluded.
  void FillRect(const TRect& r);
  // Closed polygon: outline with the pen, interior (even-odd rule) with the brush.
  // Every pixel is touched at most once per call, also where the outline
  // crosses itself, so a not-xor polygon drawn twice leaves the bitmap as it was.
  void Polygon(const std::vector<TPoint>& points);

  TColor GetPixel(int x, int y) const;  // -1 outside the bitmap
  void SetPixel(int x, int y, TColor c);  // plain store, ignores the pen mode

  // Nearest-pixel stretch of the whole source into dest (right and bottom
  // excluded); whole rows and columns are repeated or dropped, no smoothing.
  void StretchDraw(const TRect& dest, const TBitmap& source);
  // Draws the source at (x, y), unscaled.
  void Draw(int x, int y, const TBitmap& source);
  // Plain copy of sourceRect of the source canvas's bitmap onto dest (same size
  // as sourceRect; the larger of the two is cut to the smaller).
  void CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect);

  TBitmap& Target() { return target_; }
  const TBitmap& Target() const { return target_; }

 private:
  // Reports r through OnChange; an empty rectangle is not reported.
  void Changed(const TRect& r);

  TBitmap& target_;
  // Held by Lock and, for the duration of each call, by every drawing call.
  std::recursive_mutex mutex_;
  int lockCount_ = 0;
};

// Holds a canvas lock for one scope, so that an exception raised while
// drawing (or by a handler called from there) never leaves the canvas locked.
class TCanvasLock {
 public:
  explicit TCanvasLock(TCanvas& canvas) : canvas_(canvas) { canvas_.Lock(); }
  ~TCanvasLock() { canvas_.Unlock(); }
  TCanvasLock(const TCanvasLock&) = delete;
  TCanvasLock& operator=(const TCanvasLock&) = delete;

 private:
  TCanvas& canvas_;
};

// 24 bits per pixel, rows top-down, each pixel blue, green, red. Rows are
// padded to a multiple of four bytes. Any width: every column is reachable.
class TBitmap {
 public:
  // Readable (zero) bytes after the last row, so that a pixel can be read
  // and written as one 32-bit word even at the very end of the bitmap.
  static constexpr int kTrailingBytes = 4;

  TBitmap();
  TBitmap(int width, int height);
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Resizing keeps the overlapping top-left part; new pixels are black.
  void SetWidth(int w) { SetSize(w, height_); }
  void SetHeight(int h) { SetSize(width_, h); }
  void SetSize(int w, int h);

  int BytesPerRow() const { return stride_; }
  static constexpr int BitsPerPixel = 24;
  // Address of row y (0 = top). The address stays valid while the size does not change.
  std::uint8_t* ScanLine(int y) { return data_.get() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* ScanLine(int y) const { return data_.get() + static_cast<std::size_t>(y) * stride_; }

  TColor Pixel(int x, int y) const;  // no range check beyond debug asserts
  void SetPixel(int x, int y, TColor c);
  void Fill(TColor c);
  // Copies size and pixels of another bitmap.
  void Assign(const TBitmap& other);
  // Exchanges size and pixels with another bitmap (each keeps its canvas).
  void Swap(TBitmap& other);

  TCanvas& Canvas() { return canvas_; }
  const TCanvas& Canvas() const { return canvas_; }

  friend bool operator==(const TBitmap& a, const TBitmap& b);

 private:
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  // Zeroed pixel memory (see AllocatePixels in graphics.cpp); the deleter
  // knows how it was obtained.
  struct TPixelMemory {
    std::size_t Mapped = 0;  // bytes of a mapping of its own; 0: from the heap
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t[], TPixelMemory> data_;
  // Fresh zeroed storage for `bytes` bytes, nothing copied into it.
  static std::unique_ptr<std::uint8_t[], TPixelMemory> AllocatePixels(std::size_t bytes);
  TCanvas canvas_;
};

}  // namespace planora
