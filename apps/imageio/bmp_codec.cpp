// BMP: uncompressed 24- and 32-bit, read and written with our own code.
//
// The fourth byte of a 32-bit BMP is ignored even when a header calls it
// alpha: many writers leave it zero, and honouring it would turn their
// photos white.
#include <algorithm>
#include <bit>
#include <cstring>

#include "apps/imageio/codecs.h"

namespace planora::imageio {
namespace {

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) { return U16(p) | (U16(p + 2) << 16); }

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
constexpr std::size_t kFileHeader = 14, kInfoHeader = 40;

// One channel of a BITFIELDS pixel, scaled to 8 bits.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;
  explicit TChannel(std::uint32_t mask) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Max = mask >> Shift;
  }
  std::uint8_t operator()(std::uint32_t pixel) const {
    if (Max == 0) return 0;
    const std::uint64_t v = (pixel & Mask) >> Shift;
    return static_cast<std::uint8_t>((v * 255 + Max / 2) / Max);
  }
};

}  // namespace

TPhoto DecodeBmp(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into) {
  // Enough for every header kind this reads and the masks behind a 40-byte one.
  std::uint8_t b[kFileHeader + kInfoHeader + 12] = {};
  std::size_t size = 0;
  while (size < sizeof b) {
    const std::ptrdiff_t n = input.Read(b + size, sizeof b - size);
    if (n < 0) FailRead(path, input.Error());
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  if (size < kFileHeader + 16) FailRead(path, "is damaged or truncated (the BMP header is incomplete)");
  const std::uint32_t offset = U32(b + 10), headerSize = U32(b + 14);
  std::int64_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = kRgb;
  if (headerSize == 12) {  // the old OS/2 header: unsigned 16-bit sizes
    width = U16(b + 18);
    height = U16(b + 20);
    bits = U16(b + 24);
  } else if (headerSize >= kInfoHeader && size >= kFileHeader + kInfoHeader) {
    width = static_cast<std::int32_t>(U32(b + 18));
    height = static_cast<std::int32_t>(U32(b + 22));
    bits = U16(b + 28);
    compression = U32(b + 30);
  } else {
    FailRead(path, "is damaged or truncated (unknown BMP header size " + std::to_string(headerSize) + ")");
  }
  const bool bitFields = bits == 32 && (compression == kBitFields || compression == kAlphaBitFields);
  if (!(bits == 24 && compression == kRgb) && !(bits == 32 && (compression == kRgb || bitFields)))
    FailRead(path, "is a kind of BMP not supported (" + std::to_string(bits) +
                       " bits per pixel, compression " + std::to_string(compression) +
                       "); only uncompressed 24- and 32-bit BMP files are read");
  // A negative height means the rows are stored top-down.
  const bool topDown = height < 0;
  if (topDown) height = -height;
  CheckSize(path, width, height, limits);
  input.AllowFor(width, height, 4);

  // The masks follow a 40-byte header and are part of the longer ones, at
  // the same place either way.
  std::uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  if (bitFields) {
    if (size < kFileHeader + kInfoHeader + 12) FailRead(path, "is damaged or truncated (the BMP colour masks are missing)");
    for (int i = 0; i < 3; ++i) masks[i] = U32(b + kFileHeader + kInfoHeader + 4 * i);
  }
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);

  const std::uint64_t bytesPerPixel = bits / 8;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  const std::uint64_t used = static_cast<std::uint64_t>(width) * bytesPerPixel;
  if (offset < std::min<std::uint64_t>(size, kFileHeader + headerSize))
    FailRead(path, "is damaged (its pixel data would start inside the BMP header)");
  // The last row's padding is often left out; its pixels must be there.
  const std::uint64_t needed = offset + stride * (height - 1) + used;
  if (input.Regular() && needed > static_cast<std::uint64_t>(input.Size()))
    FailRead(path, "is damaged or truncated (the BMP pixel data ends early)");

  // The header bytes read beyond the header may be pixels already.
  std::vector<std::uint8_t> pending;
  if (offset < size) pending.assign(b + offset, b + size);
  for (std::uint64_t skip = offset > size ? offset - size : 0; skip > 0;) {
    std::uint8_t junk[4096];
    const std::ptrdiff_t n = input.Read(junk, static_cast<std::size_t>(std::min<std::uint64_t>(skip, sizeof junk)));
    if (n <= 0) FailRead(path, n < 0 ? input.Error() : "is damaged or truncated (the BMP pixel data ends early)");
    skip -= static_cast<std::uint64_t>(n);
  }
  const auto readBytes = [&](std::uint8_t* out, std::size_t n) {
    const std::size_t fromPending = std::min(n, pending.size());
    if (fromPending > 0) {  // an empty vector's data() may be null, which memcpy must not get
      std::memcpy(out, pending.data(), fromPending);
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(fromPending));
    }
    if (!input.ReadExactly(out + fromPending, n - fromPending))
      FailRead(path, !input.Error().empty() ? input.Error() : "is damaged or truncated (the BMP pixel data ends early)");
  };

  TPhoto photo;
  TRaster raster{photo, into};
  AllocatePixels(raster, static_cast<int>(width), static_cast<int>(height));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(stride));
  // Rows go in as stored, so memory follows the data; a bottom-up file is
  // turned over at the end.
  for (std::int64_t stored = 0; stored < height; ++stored) {
    readBytes(row.data(), static_cast<std::size_t>(stored + 1 < height ? stride : used));
    const std::uint8_t* in = row.data();
    std::uint8_t* out = PixelRow(raster, static_cast<int>(stored));
    if (bits == 24) {
      std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
    } else if (!bitFields) {
      for (std::int64_t x = 0; x < width; ++x, in += 4, out += 3) std::memcpy(out, in, 3);
    } else {
      for (std::int64_t x = 0; x < width; ++x, in += 4, out += 3) {
        const std::uint32_t pixel = U32(in);
        out[0] = blue(pixel);
        out[1] = green(pixel);
        out[2] = red(pixel);
      }
    }
  }
  if (!topDown) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (std::int64_t y = 0; y < height / 2; ++y)
      std::swap_ranges(PixelRow(raster, static_cast<int>(y)), PixelRow(raster, static_cast<int>(y)) + rowBytes,
                       PixelRow(raster, static_cast<int>(height - 1 - y)));
  }
  return photo;
}

void EncodeBmp(const std::string& path, std::FILE* file, const TImage& photo) {
  const std::uint64_t stride = (static_cast<std::uint64_t>(photo.Width) * 3 + 3) / 4 * 4;
  const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(photo.Height);
  const std::uint64_t fileSize = kFileHeader + kInfoHeader + imageSize;
  if (fileSize > 0xFFFFFFFFu) FailWrite(path, "the photo is too large for a BMP file (4 GB at most)");

  std::uint8_t header[kFileHeader + kInfoHeader] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 2, static_cast<std::uint32_t>(fileSize));
  Put32(header + 10, kFileHeader + kInfoHeader);
  Put32(header + 14, kInfoHeader);
  Put32(header + 18, static_cast<std::uint32_t>(photo.Width));
  Put32(header + 22, static_cast<std::uint32_t>(photo.Height));  // positive: bottom-up, as every reader expects
  Put16(header + 26, 1);                                          // planes
  Put16(header + 28, 24);
  Put32(header + 30, kRgb);
  Put32(header + 34, static_cast<std::uint32_t>(imageSize));
  Put32(header + 38, 2835);  // 72 dpi in pixels per metre
  Put32(header + 42, 2835);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return;  // the caller sees ferror

  std::vector<std::uint8_t> row(stride, 0);
  const std::size_t used = static_cast<std::size_t>(photo.Width) * 3;
  for (int y = photo.Height - 1; y >= 0; --y) {
    std::memcpy(row.data(), photo.Row(y), used);
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return;
  }
}

}  // namespace planora::imageio
