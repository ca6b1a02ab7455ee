#include "apps/imageio/metadata.h"

#include <cmath>
#include <exiv2/exiv2.hpp>
#include <limits>
#include <mutex>

namespace planora {

namespace {

using TBytes = std::vector<std::uint8_t>;

// Exiv2 reports what it finds odd in a block on standard error; a damaged
// block is handled here, and the tool's own messages are what users read.
void QuietLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

// Whether the block looks like TIFF at all: Exiv2 expects its caller to
// have checked ("no checks are performed").
bool LooksLikeTiff(const TBytes& exif) {
  if (exif.size() < 8 || exif.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  return (exif[0] == 'I' && exif[1] == 'I' && exif[2] == 42 && exif[3] == 0) ||
         (exif[0] == 'M' && exif[1] == 'M' && exif[2] == 0 && exif[3] == 42);
}

bool Decode(const TBytes& exif, Exiv2::ExifData& data, Exiv2::ByteOrder& order) {
  QuietLibrary();
  if (!LooksLikeTiff(exif)) return false;
  try {
    order = Exiv2::ExifParser::decode(data, exif.data(), static_cast<std::uint32_t>(exif.size()));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// A finite positive number from the first component of a tag, if present.
std::optional<double> Positive(const Exiv2::ExifData& data, const char* key) {
  const auto it = data.findKey(Exiv2::ExifKey(key));
  if (it == data.end() || it->count() < 1) return std::nullopt;
  const double v = it->toFloat(0);
  if (!std::isfinite(v) || !(v > 0)) return std::nullopt;
  return v;
}

// A focal ratio outside this range is no lens anyone photographs a sheet
// with: a fisheye or a telescope at most; beyond it the tag is wrong.
bool PlausibleRatio(double r) { return std::isfinite(r) && r > 0.1 && r < 30.0; }

}  // namespace

int ExifOrientation(const TBytes& exif) {
  Exiv2::ExifData data;
  Exiv2::ByteOrder order;
  if (!Decode(exif, data, order)) return 1;
  const auto it = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (it == data.end() || it->count() < 1 || it->typeId() != Exiv2::unsignedShort) return 1;
  const long v = it->toLong(0);
  return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
}

void ResetExifOrientation(TBytes& exif) {
  Exiv2::ExifData data;
  Exiv2::ByteOrder order;
  if (!Decode(exif, data, order)) return;
  const auto it = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (it == data.end()) return;
  try {
    // Same type, same count: the library patches the value where it is.
    Exiv2::UShortValue one;
    one.value_.push_back(1);
    for (long i = 1; i < it->count(); ++i) one.value_.push_back(static_cast<std::uint16_t>(it->toLong(i)));
    it->setValue(&one);
    Exiv2::Blob blob;
    TBytes patched = exif;
    const Exiv2::WriteMethod method = Exiv2::ExifParser::encode(
        blob, patched.data(), static_cast<std::uint32_t>(patched.size()), order, data);
    if (method == Exiv2::wmNonIntrusive) {
      exif.swap(patched);
    } else if (!blob.empty()) {
      exif.assign(blob.begin(), blob.end());
    }
  } catch (const std::exception&) {
    // A block the library cannot write back stays as it was.
  }
}

std::optional<double> ExifFocalRatio(const TBytes& exif, int width, int height) {
  Exiv2::ExifData data;
  Exiv2::ByteOrder order;
  if (!Decode(exif, data, order) || width < 1 || height < 1) return std::nullopt;
  try {
    const std::optional<double> focal = Positive(data, "Exif.Photo.FocalLength");
    const std::optional<double> xres = Positive(data, "Exif.Photo.FocalPlaneXResolution");
    const std::optional<double> yres = Positive(data, "Exif.Photo.FocalPlaneYResolution");
    if (focal && (xres || yres)) {
      // Pixels per unit of the sensor; the unit in millimetres.
      double unit = 25.4;  // inches, the default
      const auto u = data.findKey(Exiv2::ExifKey("Exif.Photo.FocalPlaneResolutionUnit"));
      if (u != data.end() && u->count() >= 1) {
        switch (u->toLong(0)) {
          case 3: unit = 10.0; break;    // centimetres
          case 4: unit = 1.0; break;     // millimetres
          case 5: unit = 0.001; break;   // micrometres
          default: break;
        }
      }
      const double perMm = xres && yres ? (*xres + *yres) / 2 / unit : (xres ? *xres : *yres) / unit;
      // The resolution holds for the picture as the camera recorded it; a
      // resized copy has fewer pixels per millimetre of sensor.
      double recordedDiagonal = std::hypot(double(width), double(height));
      const std::optional<double> pw = Positive(data, "Exif.Photo.PixelXDimension");
      const std::optional<double> ph = Positive(data, "Exif.Photo.PixelYDimension");
      if (pw && ph) recordedDiagonal = std::hypot(*pw, *ph);
      const double ratio = *focal * perMm / recordedDiagonal;
      if (PlausibleRatio(ratio)) return ratio;
    }
    if (const auto f35 = Positive(data, "Exif.Photo.FocalLengthIn35mmFilm")) {
      const double ratio = *f35 / std::hypot(36.0, 24.0);
      if (PlausibleRatio(ratio)) return ratio;
    }
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

void SetExifFocalLength(TBytes& exif, double millimetres, double pixelsPerMillimetre, int width, int height) {
  Exiv2::ExifData data;
  Exiv2::ByteOrder order = Exiv2::littleEndian;
  if (!exif.empty() && !Decode(exif, data, order)) data.clear();
  // Rationals with a fixed denominator: enough for any test's precision.
  const auto rational = [](double v) {
    return Exiv2::Rational(static_cast<std::int32_t>(std::lround(v * 10000)), 10000);
  };
  data["Exif.Photo.FocalLength"] = rational(millimetres);
  // Per centimetre: millimetres are a unit of DNG's only.
  data["Exif.Photo.FocalPlaneXResolution"] = rational(pixelsPerMillimetre * 10);
  data["Exif.Photo.FocalPlaneYResolution"] = rational(pixelsPerMillimetre * 10);
  data["Exif.Photo.FocalPlaneResolutionUnit"] = std::uint16_t{3};
  data["Exif.Photo.PixelXDimension"] = static_cast<std::uint32_t>(width);
  data["Exif.Photo.PixelYDimension"] = static_cast<std::uint32_t>(height);
  const double diagonalMm = std::hypot(double(width), double(height)) / pixelsPerMillimetre;
  data["Exif.Photo.FocalLengthIn35mmFilm"] =
      static_cast<std::uint16_t>(std::lround(millimetres * std::hypot(36.0, 24.0) / diagonalMm));
  Exiv2::Blob blob;
  Exiv2::ExifParser::encode(blob, order, data);
  exif.assign(blob.begin(), blob.end());
}

}  // namespace planora
