// Binary PPM (P6) and PGM (P5), read and written with our own code. Any
// maxval from 1 to 65535 is read; samples above 255 are two bytes, most
// significant first.
#include <cctype>
#include <cstdio>

#include "apps/imageio/codecs.h"

namespace planora::imageio {
namespace {

// Reads one header number, skipping white space and '#' comments before it.
// Values are capped far above anything valid so they cannot overflow.
bool ReadNumber(TInput& input, std::int64_t& value) {
  const auto peek = [&]() -> int {
    std::size_t n = 1;
    const std::uint8_t* p = input.Peek(n);
    return n == 1 ? *p : -1;
  };
  const auto skip = [&] {
    std::uint8_t c;
    input.Read(&c, 1);
  };
  for (;;) {
    while (peek() >= 0 && std::isspace(peek())) skip();
    if (peek() == '#') {
      while (peek() >= 0 && peek() != '\n' && peek() != '\r') skip();
      continue;
    }
    break;
  }
  if (peek() < 0 || !std::isdigit(peek())) return false;
  value = 0;
  for (; peek() >= 0 && std::isdigit(peek()); skip()) {
    value = value * 10 + (peek() - '0');
    if (value > (std::int64_t{1} << 40)) value = std::int64_t{1} << 40;
  }
  return true;
}

}  // namespace

TPhoto DecodeNetpbm(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into) {
  std::uint8_t magic[2];
  if (!input.ReadExactly(magic, 2)) FailRead(path, "is damaged or truncated (incomplete PPM/PGM header)");
  const bool colour = magic[1] == '6';
  std::int64_t width = 0, height = 0, maxval = 0;
  if (!ReadNumber(input, width) || !ReadNumber(input, height) || !ReadNumber(input, maxval))
    FailRead(path, "is damaged or truncated (incomplete PPM/PGM header)");
  CheckSize(path, width, height, limits);
  if (maxval < 1 || maxval > 65535)
    FailRead(path, "is damaged (PPM/PGM maximum value " + std::to_string(maxval) + " is outside 1..65535)");
  // Exactly one white-space character separates the header from the samples.
  std::uint8_t separator = 0;
  if (!input.ReadExactly(&separator, 1) || !std::isspace(separator))
    FailRead(path, "is damaged or truncated (no pixel data after the PPM/PGM header)");

  const std::size_t channels = colour ? 3 : 1, sampleBytes = maxval > 255 ? 2 : 1;
  const std::uint64_t needed =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * channels * sampleBytes;
  if (input.Regular() && needed > static_cast<std::uint64_t>(input.Size() - input.Consumed()))
    FailRead(path, "is damaged or truncated (the pixel data ends early)");
  input.AllowFor(width, height, static_cast<std::int64_t>(channels * sampleBytes));

  TPhoto photo;
  TRaster raster{photo, into};
  AllocatePixels(raster, static_cast<int>(width), static_cast<int>(height));
  const std::uint32_t max = static_cast<std::uint32_t>(maxval);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * channels * sampleBytes);
  for (int y = 0; y < static_cast<int>(height); ++y) {
    if (!input.ReadExactly(row.data(), row.size()))
      FailRead(path, !input.Error().empty() ? input.Error() : "is damaged or truncated (the pixel data ends early)");
    const std::uint8_t* in = row.data();
    const auto next = [&]() -> std::uint8_t {
      std::uint32_t v = *in++;
      if (sampleBytes == 2) v = (v << 8) | *in++;
      if (max == 255) return static_cast<std::uint8_t>(v);
      if (v > max) v = max;  // out-of-range samples are clipped rather than wrapped
      return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    };
    std::uint8_t* out = PixelRow(raster, y);
    for (std::int64_t x = 0; x < width; ++x, out += 3) {
      if (colour) {
        out[2] = next();
        out[1] = next();
        out[0] = next();
      } else {
        out[0] = out[1] = out[2] = next();
      }
    }
  }
  return photo;
}

void EncodePpm(const std::string&, std::FILE* file, const TImage& photo) {
  if (std::fprintf(file, "P6\n%d %d\n255\n", photo.Width, photo.Height) < 0) return;  // the caller sees ferror
  const std::size_t stride = static_cast<std::size_t>(photo.Width) * 3;
  std::vector<std::uint8_t> row(stride);
  for (int y = 0; y < photo.Height; ++y) {
    RgbRow(photo, y, row.data());
    if (std::fwrite(row.data(), 1, stride, file) != stride) return;
  }
}

}  // namespace planora::imageio
