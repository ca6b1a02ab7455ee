#include "plugin/plgint.h"

#include <cstring>
#include <functional>

namespace planora {

THostRecord HostRecord{};
std::string PluginErrorMessage = DefaultPluginErrorMessage;

void CheckHost(bool Ok) {
  if (!Ok) throw EPluginException(PluginErrorMessage);
}

std::int32_t HostImageWidth() { return CheckedSub(HostRecord.ImageRect.Right, HostRecord.ImageRect.Left); }

std::int32_t HostImageHeight() { return CheckedSub(HostRecord.ImageRect.Bottom, HostRecord.ImageRect.Top); }

void ShowHostText(const std::string& Text, bool Flag) {
  // c_str() of an empty text is a pointer to a zero byte: hosts never see NULL.
  if (HostRecord.ShowText) HostRecord.ShowText(Text.c_str(), Flag ? -1 : 0);
}

void NotifyHostClose() {
  if (HostRecord.NotifyClose) HostRecord.NotifyClose();
}

bool GetHostImage(TBitmap& Bitmap) {
  const std::int32_t width = HostImageWidth();
  const std::int32_t height = HostImageHeight();
  if (!HostRecord.GetImage || width <= 0 || height <= 0) return false;
  Bitmap.SetSize(width, height);
  // The host gets a copy of the description: whatever it does to the fields,
  // the plug-in's bitmap stays consistent.
  TPluginBitmap view = PluginBitmapView(Bitmap);
  return HostRecord.GetImage(&view) != 0;
}

bool PutHostImage(TBitmap& Bitmap) {
  if (!HostRecord.PutImage) return false;
  TPluginBitmap view = PluginBitmapView(Bitmap);
  return HostRecord.PutImage(&view) != 0;
}

std::string ReadIniFileName() {
  if (!HostRecord.GetIniFileName) return {};
  char buffer[256] = {};
  const char* path = HostRecord.GetIniFileName(buffer, 255);
  if (!path) return {};
  // A text in our buffer is read no further than the buffer, terminated or not.
  std::less_equal<const char*> le;
  const char* end = buffer + sizeof buffer;
  if (le(buffer, path) && !le(end, path)) return std::string(path, strnlen(path, end - path));
  return std::string(path);
}

TPluginBitmap PluginBitmapView(TBitmap& Bitmap) {
  TPluginBitmap view{};
  view.Width = Bitmap.Width();
  view.Height = Bitmap.Height();
  view.BytesPerRow = Bitmap.BytesPerRow();
  view.BitsPerPixel = TBitmap::BitsPerPixel;
  view.Bits = Bitmap.Height() > 0 ? Bitmap.ScanLine(0) : nullptr;
  return view;
}

namespace {

// Whether b describes rows that can be read (or written) at its depth.
bool RowsHoldTogether(const TPluginBitmap& b) {
  if (b.Width < 0 || b.Height < 0) return false;
  if (b.BitsPerPixel != 8 && b.BitsPerPixel != 24 && b.BitsPerPixel != 32) return false;
  if (b.Width == 0 || b.Height == 0) return true;
  const std::int64_t needed = std::int64_t{b.Width} * (b.BitsPerPixel / 8);
  return b.Bits != nullptr && b.BytesPerRow >= needed;
}

std::uint8_t* Row(const TPluginBitmap& b, int y) { return b.Bits + static_cast<std::ptrdiff_t>(y) * b.BytesPerRow; }

}  // namespace

bool CopyFromPluginBitmap(const TPluginBitmap& Source, TBitmap& Dest) {
  if (!RowsHoldTogether(Source)) return false;
  if (Source.BitsPerPixel == 8 && (Source.PaletteSize <= 0 || Source.Palette == nullptr)) return false;
  Dest.SetSize(Source.Width, Source.Height);
  const int w = Source.Width;
  for (int y = 0; y < Source.Height && w > 0; ++y) {
    const std::uint8_t* in = Row(Source, y);
    std::uint8_t* out = Dest.ScanLine(y);
    switch (Source.BitsPerPixel) {
      case 24:
        // memmove: the source may be a view of Dest itself.
        std::memmove(out, in, static_cast<std::size_t>(w) * 3);
        break;
      case 32:
        for (int x = 0; x < w; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
        break;
      case 8:
        for (int x = 0; x < w; ++x) {
          TPluginPaletteEntry c{};
          if (in[x] < Source.PaletteSize) c = Source.Palette[in[x]];
          out[3 * x] = c.Blue;
          out[3 * x + 1] = c.Green;
          out[3 * x + 2] = c.Red;
        }
        break;
    }
  }
  return true;
}

bool CopyToPluginBitmap(const TBitmap& Source, TPluginBitmap& Dest) {
  if (!RowsHoldTogether(Dest) || Dest.BitsPerPixel == 8) return false;
  if (Dest.Width != Source.Width() || Dest.Height != Source.Height()) return false;
  const int w = Source.Width();
  for (int y = 0; y < Source.Height() && w > 0; ++y) {
    const std::uint8_t* in = Source.ScanLine(y);
    std::uint8_t* out = Row(Dest, y);
    if (Dest.BitsPerPixel == 24) {
      std::memmove(out, in, static_cast<std::size_t>(w) * 3);
    } else {
      for (int x = 0; x < w; ++x) {
        std::memcpy(out + 4 * x, in + 3 * x, 3);
        out[4 * x + 3] = 0;
      }
    }
  }
  return true;
}

}  // namespace planora
