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
bool ReadNumber(const TBytes& data, std::size_t& pos, std::int64_t& value) {
  for (;;) {
    while (pos < data.size() && std::isspace(data[pos])) ++pos;
    if (pos < data.size() && data[pos] == '#') {
      while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
      continue;
    }
    break;
  }
  if (pos >= data.size() || !std::isdigit(data[pos])) return false;
  value = 0;
  for (; pos < data.size() && std::isdigit(data[pos]); ++pos) {
    value = value * 10 + (data[pos] - '0');
    if (value > (std::int64_t{1} << 40)) value = std::int64_t{1} << 40;
  }
  return true;
}

}  // namespace

TPhoto DecodeNetpbm(const std::string& path, const TBytes& data, const TReadLimits& limits) {
  const bool colour = data[1] == '6';
  std::size_t pos = 2;
  std::int64_t width = 0, height = 0, maxval = 0;
  if (!ReadNumber(data, pos, width) || !ReadNumber(data, pos, height) || !ReadNumber(data, pos, maxval))
    FailRead(path, "is damaged or truncated (incomplete PPM/PGM header)");
  CheckSize(path, width, height, limits);
  if (maxval < 1 || maxval > 65535)
    FailRead(path, "is damaged (PPM/PGM maximum value " + std::to_string(maxval) + " is outside 1..65535)");
  // Exactly one white-space character separates the header from the samples.
  if (pos >= data.size() || !std::isspace(data[pos]))
    FailRead(path, "is damaged or truncated (no pixel data after the PPM/PGM header)");
  ++pos;

  const std::size_t channels = colour ? 3 : 1, sampleBytes = maxval > 255 ? 2 : 1;
  const std::uint64_t needed =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * channels * sampleBytes;
  if (needed > data.size() - pos) FailRead(path, "is damaged or truncated (the pixel data ends early)");

  TPhoto photo;
  AllocatePixels(photo, static_cast<int>(width), static_cast<int>(height));
  const std::uint8_t* in = data.data() + pos;
  const std::uint32_t max = static_cast<std::uint32_t>(maxval);
  const auto next = [&]() -> std::uint8_t {
    std::uint32_t v = *in++;
    if (sampleBytes == 2) v = (v << 8) | *in++;
    if (max == 255) return static_cast<std::uint8_t>(v);
    if (v > max) v = max;  // out-of-range samples are clipped rather than wrapped
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  };
  std::uint8_t* out = photo.Pixels.data();
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t i = 0; i < pixels; ++i, out += 3) {
    if (colour) {
      out[2] = next();
      out[1] = next();
      out[0] = next();
    } else {
      out[0] = out[1] = out[2] = next();
    }
  }
  return photo;
}

void EncodePpm(const std::string&, std::FILE* file, const TPhoto& photo) {
  if (std::fprintf(file, "P6\n%d %d\n255\n", photo.Width, photo.Height) < 0) return;  // the caller sees ferror
  const std::size_t stride = static_cast<std::size_t>(photo.Width) * 3;
  std::vector<std::uint8_t> row(stride);
  for (int y = 0; y < photo.Height; ++y) {
    RgbRow(photo, y, row.data());
    if (std::fwrite(row.data(), 1, stride, file) != stride) return;
  }
}

}  // namespace planora::imageio
