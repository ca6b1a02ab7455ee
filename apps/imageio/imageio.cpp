// The format dispatch, the size checks, the EXIF orientation, the open
// file the decoders pull from and the writing (through platform/atomicfile)
// that all formats share.
#include "apps/imageio/imageio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "apps/imageio/codecs.h"
#include "apps/imageio/metadata.h"
#include "platform/atomicfile.h"
#include "platform/sysutils.h"

namespace planora {
namespace imageio {

void FailRead(const std::string& path, const std::string& what) {
  throw EInOutError("\"" + path + "\" " + what);
}

void FailWrite(const std::string& path, const std::string& what) {
  throw EInOutError("Cannot write \"" + path + "\": " + what);
}

namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

std::string LimitText(std::int64_t maxPixels) {
  if (maxPixels > 0 && maxPixels % 1'000'000 == 0) return std::to_string(maxPixels / 1'000'000) + " megapixels";
  return std::to_string(maxPixels) + " pixels";
}

}  // namespace

void CheckSize(const std::string& path, std::int64_t width, std::int64_t height, const TReadLimits& limits) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width <= 0 || height <= 0) FailRead(path, "is damaged: its header declares a size of " + size);
  // Each side alone must fit an int, and then the product cannot overflow.
  constexpr std::int64_t kMaxSide = 0x7FFFFFFF;
  if (width > kMaxSide || height > kMaxSide || width * height > limits.MaxPixels)
    FailRead(path, "is " + size + ", more than this program handles (" + LimitText(limits.MaxPixels) + ")");
}

void AllocatePixels(TRaster& raster, int width, int height) {
  TPhoto& photo = raster.Photo;
  photo.Width = width;
  photo.Height = height;
  photo.Pixels.clear();
  if (raster.Into != nullptr) {
    // Fresh memory: a bitmap's new pixels are taken only when written.
    raster.Into->SetSize(0, 0);
    raster.Into->SetSize(width, height);
    return;
  }
  photo.Pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
}

std::uint8_t* PixelRow(TRaster& raster, int y) {
  if (raster.Into != nullptr) return raster.Into->ScanLine(y);
  TPhoto& photo = raster.Photo;
  const std::size_t stride = static_cast<std::size_t>(photo.Width) * 3;
  const std::size_t needed = (static_cast<std::size_t>(y) + 1) * stride;
  // Within the reserved capacity: no reallocation, the rows stay where they are.
  if (photo.Pixels.size() < needed) photo.Pixels.resize(needed);
  return photo.Pixels.data() + static_cast<std::size_t>(y) * stride;
}

void CompletePixels(TRaster& raster) {
  if (raster.Photo.Height > 0) PixelRow(raster, raster.Photo.Height - 1);
}

namespace {
// Metadata before the picture's size is known (EXIF, a profile, XMP): a
// camera writes well under a megabyte of it.
constexpr std::int64_t kMetadataAllowance = 64 << 20;
constexpr std::size_t kReadAhead = 64 << 10;
}  // namespace

TInput::TInput(std::string path, int fd, bool regular, std::int64_t size)
    : path_(std::move(path)), fd_(fd), regular_(regular), size_(size), buffer_(kReadAhead),
      limit_(kMetadataAllowance) {}

void TInput::AllowFor(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel) {
  // Compressed data can exceed the raw pixels a little (noise at top
  // quality, many scans); twice the raw size and the metadata allowance
  // cover every real file.
  limit_ = consumed_ + kMetadataAllowance + 2 * width * height * bytesPerPixel;
}

bool TInput::Fill() {
  if (eof_) return false;
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == buffer_.size()) {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    } else {
      buffer_.resize(buffer_.size() * 2);
    }
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = "cannot be read: " + ErrnoText(errno);
      eof_ = true;
      return false;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(n);
    return true;
  }
}

std::ptrdiff_t TInput::Read(void* out, std::size_t n) {
  if (!error_.empty()) return -1;
  if (begin_ == end_ && !Fill()) return error_.empty() ? 0 : -1;
  n = std::min(n, end_ - begin_);
  if (consumed_ + static_cast<std::int64_t>(n) > limit_) {
    error_ = "holds far more data than a photo of its size needs (" + std::to_string(limit_ >> 20) +
             " MB read); it is damaged or not a photo";
    return -1;
  }
  std::memcpy(out, buffer_.data() + begin_, n);
  begin_ += n;
  consumed_ += static_cast<std::int64_t>(n);
  return static_cast<std::ptrdiff_t>(n);
}

bool TInput::ReadExactly(void* out, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(out);
  while (n > 0) {
    const std::ptrdiff_t got = Read(p, n);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

const std::uint8_t* TInput::Peek(std::size_t& n) {
  while (end_ - begin_ < n && Fill()) {
  }
  n = std::min(n, end_ - begin_);
  return buffer_.data() + begin_;
}

void RgbRow(const TImage& image, int y, std::uint8_t* out) {
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 3;
  const std::uint8_t* in = image.Row(y);
  for (std::size_t i = 0; i < stride; i += 3) {
    out[i] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = in[i];
  }
}

bool IsRgbProfile(const std::uint8_t* data, std::size_t size) {
  return data != nullptr && size >= 128 && std::memcmp(data + 36, "acsp", 4) == 0 &&
         std::memcmp(data + 16, "RGB ", 4) == 0;
}

namespace {

// ---------------------------------------------------------------------------
// EXIF orientation

// Turns stored pixels into what a viewer shows for an EXIF orientation:
// 2 mirrored, 3 upside down, 4 flipped, 5 transposed, 6 to be turned 90°
// clockwise, 7 transversed, 8 to be turned 90° counter-clockwise. Each shown
// pixel (x, y) takes the stored pixel (x0 + xx*x + xy*y, y0 + yx*x + yy*y).
// The stored picture is w x h pixels at src (rows srcStride bytes apart),
// the shown one goes to dst (rows dstStride apart).
void Orient(const std::uint8_t* src, std::int64_t srcStride, std::int64_t w, std::int64_t h, int orientation,
            std::uint8_t* dst, std::int64_t dstStride) {
  const bool swap = orientation >= 5;
  const std::int64_t outW = swap ? h : w, outH = swap ? w : h;
  std::int64_t x0 = 0, y0 = 0, xx = 0, xy = 0, yx = 0, yy = 0;
  switch (orientation) {
    case 2: x0 = w - 1, xx = -1, yy = 1; break;
    case 3: x0 = w - 1, y0 = h - 1, xx = -1, yy = -1; break;
    case 4: y0 = h - 1, xx = 1, yy = -1; break;
    case 5: xy = 1, yx = 1; break;
    case 6: y0 = h - 1, xy = 1, yx = -1; break;
    case 7: x0 = w - 1, y0 = h - 1, xy = -1, yx = -1; break;
    case 8: x0 = w - 1, xy = -1, yx = 1; break;
  }
  // Square tiles keep the column-wise reads of a quarter turn in cache.
  constexpr std::int64_t kTile = 64;
  for (std::int64_t ty = 0; ty < outH; ty += kTile) {
    for (std::int64_t tx = 0; tx < outW; tx += kTile) {
      const std::int64_t yEnd = std::min(outH, ty + kTile), xEnd = std::min(outW, tx + kTile);
      for (std::int64_t y = ty; y < yEnd; ++y) {
        std::uint8_t* out = dst + y * dstStride + tx * 3;
        for (std::int64_t x = tx; x < xEnd; ++x, out += 3) {
          const std::int64_t sx = x0 + xx * x + xy * y, sy = y0 + yx * x + yy * y;
          const std::uint8_t* p = src + sy * srcStride + sx * 3;
          out[0] = p[0];
          out[1] = p[1];
          out[2] = p[2];
        }
      }
    }
  }
}

bool Turns(int orientation) { return orientation >= 2 && orientation <= 8; }

void ApplyOrientation(TPhoto& photo, int orientation) {
  if (!Turns(orientation)) return;
  const std::int64_t w = photo.Width, h = photo.Height;
  const std::int64_t outW = orientation >= 5 ? h : w, outH = orientation >= 5 ? w : h;
  TBytes out(photo.Pixels.size());
  Orient(photo.Pixels.data(), w * 3, w, h, orientation, out.data(), outW * 3);
  photo.Pixels = std::move(out);
  photo.Width = static_cast<int>(outW);
  photo.Height = static_cast<int>(outH);
}

void ApplyOrientation(TPhoto& photo, TBitmap& bitmap, int orientation) {
  if (!Turns(orientation)) return;
  TBitmap stored;
  stored.Swap(bitmap);
  const bool swap = orientation >= 5;
  bitmap.SetSize(swap ? stored.Height() : stored.Width(), swap ? stored.Width() : stored.Height());
  Orient(stored.ScanLine(0), stored.BytesPerRow(), stored.Width(), stored.Height(), orientation, bitmap.ScanLine(0),
         bitmap.BytesPerRow());
  photo.Width = bitmap.Width();
  photo.Height = bitmap.Height();
}

// ---------------------------------------------------------------------------
// Reading

enum class TFormat { Jpeg, Png, Tiff, Bmp, Netpbm, PlainNetpbm, Unknown };

TFormat Sniff(const std::uint8_t* b, std::size_t n) {
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return TFormat::Jpeg;
  if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return TFormat::Png;
  // Classic TIFF is 42, BigTIFF 43; libtiff reads both.
  if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
                 (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43))))
    return TFormat::Tiff;
  if (n >= 2 && b[0] == 'B' && b[1] == 'M') return TFormat::Bmp;
  if (n >= 3 && b[0] == 'P' && std::strchr(" \t\r\n#", b[2]) != nullptr && b[2] != 0) {
    if (b[1] == '5' || b[1] == '6') return TFormat::Netpbm;
    if (b[1] == '2' || b[1] == '3') return TFormat::PlainNetpbm;
  }
  return TFormat::Unknown;
}

struct TFdCloser {
  int Fd;
  ~TFdCloser() { ::close(Fd); }
};

}  // namespace
}  // namespace imageio

namespace imageio {
namespace {

TPhoto Read(const std::string& path, const TReadLimits& limits, TBitmap* into) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) FailRead(path, "does not exist");
    FailRead(path, "cannot be opened: " + ErrnoText(error));
  }
  TFdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) FailRead(path, "cannot be read: " + ErrnoText(errno));
  if (S_ISDIR(st.st_mode)) FailRead(path, "is a folder, not a photo");
  // A pipe is read once, in order; a device such as /dev/zero would never end.
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) FailRead(path, "is not a file");
  TInput input(path, fd, S_ISREG(st.st_mode), S_ISREG(st.st_mode) ? st.st_size : -1);
  std::size_t n = 16;
  const std::uint8_t* head = input.Peek(n);
  if (!input.Error().empty()) FailRead(path, input.Error());
  if (n == 0) FailRead(path, "is empty");
  TPhoto photo;
  int orientation = 1;
  switch (Sniff(head, n)) {
    case TFormat::Jpeg: photo = DecodeJpeg(path, input, limits, into); break;
    case TFormat::Png: photo = DecodePng(path, input, limits, into); break;
    case TFormat::Bmp: photo = DecodeBmp(path, input, limits, into); break;
    case TFormat::Netpbm: photo = DecodeNetpbm(path, input, limits, into); break;
    case TFormat::Tiff: photo = DecodeTiff(path, input, limits, orientation, into); break;
    case TFormat::PlainNetpbm:
      FailRead(path, "is a plain-text PPM/PGM; only the binary kinds (P6, P5) are supported");
    case TFormat::Unknown:
      FailRead(path, "is not a supported photo (JPEG, PNG, TIFF, BMP, PPM or PGM)");
  }
  // In JPEG and PNG the orientation lives in the EXIF block; the kept block
  // must say 1 afterwards, or writing it back would turn the photo again.
  if (!photo.Exif.empty()) {
    const int tagged = ExifOrientation(photo.Exif);
    if (tagged != 1) {
      orientation = tagged;
      ResetExifOrientation(photo.Exif);
    }
  }
  if (into != nullptr) {
    ApplyOrientation(photo, *into, orientation);
  } else {
    ApplyOrientation(photo, orientation);
  }
  return photo;
}

}  // namespace
}  // namespace imageio

TPhoto ReadPhoto(const std::string& path, const TReadLimits& limits) { return imageio::Read(path, limits, nullptr); }

TPhoto ReadPhoto(const std::string& path, TBitmap& bitmap, const TReadLimits& limits) {
  return imageio::Read(path, limits, &bitmap);
}

namespace imageio {
namespace {

// ---------------------------------------------------------------------------
// Writing

enum class TOutFormat { Jpeg, Png, Tiff, Bmp, Ppm };

bool FormatFromName(const std::string& path, TOutFormat& format) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "jpg" || ext == "jpeg") format = TOutFormat::Jpeg;
  else if (ext == "png") format = TOutFormat::Png;
  else if (ext == "tif" || ext == "tiff") format = TOutFormat::Tiff;
  else if (ext == "bmp") format = TOutFormat::Bmp;
  else if (ext == "ppm") format = TOutFormat::Ppm;
  else return false;
  return true;
}


struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Runs a FILE*-based encoder on a duplicate of the temporary file's
// descriptor, so that closing the stream leaves the descriptor for fsync.
template <typename Encode>
void EncodeThroughStream(const std::string& path, int fd, Encode encode) {
  const int copy = ::dup(fd);
  if (copy < 0) FailWrite(path, WriteErrorText(errno));
  std::unique_ptr<std::FILE, TFileCloser> file(::fdopen(copy, "wb"));
  if (!file) {
    const int error = errno;
    ::close(copy);
    FailWrite(path, ErrnoText(error));
  }
  errno = 0;  // so that a failure without a cause of its own is not blamed on an old one
  encode(file.get());
  if (std::fflush(file.get()) != 0 || std::ferror(file.get()))
    FailWrite(path, WriteErrorText(errno != 0 ? errno : EIO));
  std::FILE* f = file.release();
  if (std::fclose(f) != 0) FailWrite(path, WriteErrorText(errno));
}

}  // namespace
}  // namespace imageio

namespace imageio {
namespace {

void Write(const std::string& path, const TImage& photo, const TWriteOptions& options) {
  TOutFormat format{};
  if (!FormatFromName(path, format)) FailWrite(path, "unknown output format, use .jpg, .png, .tif, .bmp or .ppm");
  if (format == TOutFormat::Jpeg && (options.JpegQuality < 1 || options.JpegQuality > 100))
    FailWrite(path, "JPEG quality " + std::to_string(options.JpegQuality) + " is outside 1..100");

  TAtomicFile file(path, "");
  const int fd = file.Descriptor();
  switch (format) {
    case TOutFormat::Jpeg:
      EncodeThroughStream(path, fd, [&](std::FILE* f) { EncodeJpeg(path, f, photo, options); });
      break;
    case TOutFormat::Png:
      EncodeThroughStream(path, fd, [&](std::FILE* f) { EncodePng(path, f, photo); });
      break;
    case TOutFormat::Bmp:
      EncodeThroughStream(path, fd, [&](std::FILE* f) { EncodeBmp(path, f, photo); });
      break;
    case TOutFormat::Ppm:
      EncodeThroughStream(path, fd, [&](std::FILE* f) { EncodePpm(path, f, photo); });
      break;
    case TOutFormat::Tiff:
      // libtiff goes back to the header once the data is written.
      if (!file.Seekable()) FailWrite(path, "a TIFF file can only be written to a regular file, not a pipe");
      EncodeTiff(path, fd, photo);
      break;
  }
  file.Commit();
}

}  // namespace
}  // namespace imageio

void WritePhoto(const std::string& path, const TPhoto& photo, const TWriteOptions& options) {
  using namespace imageio;
  TOutFormat format{};
  if (!FormatFromName(path, format)) FailWrite(path, "unknown output format, use .jpg, .png, .tif, .bmp or .ppm");
  if (photo.Width <= 0 || photo.Height <= 0 ||
      photo.Pixels.size() != static_cast<std::size_t>(photo.Width) * static_cast<std::size_t>(photo.Height) * 3)
    FailWrite(path, "the photo is empty or its pixels do not match its size of " + std::to_string(photo.Width) +
                        " x " + std::to_string(photo.Height));
  Write(path, TImage{photo.Width, photo.Height, photo.Pixels.data(), static_cast<std::size_t>(photo.Width) * 3,
                     photo.Exif, photo.Icc},
        options);
}

void WritePhoto(const std::string& path, const TBitmap& bitmap, const TPhoto& metadata, const TWriteOptions& options) {
  using namespace imageio;
  TOutFormat format{};
  if (!FormatFromName(path, format)) FailWrite(path, "unknown output format, use .jpg, .png, .tif, .bmp or .ppm");
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0) FailWrite(path, "the picture is empty");
  Write(path, TImage{bitmap.Width(), bitmap.Height(), bitmap.ScanLine(0), static_cast<std::size_t>(bitmap.BytesPerRow()),
                     metadata.Exif, metadata.Icc},
        options);
}

std::string PhotoTargetProblem(const std::string& path) {
  using namespace imageio;
  TOutFormat format{};
  if (!FormatFromName(path, format)) return "unknown output format, use .jpg, .png, .tif, .bmp or .ppm";
  return WriteTargetProblem(path);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) { ReplaceFileAtomically(path, bytes, ""); }

}  // namespace planora
