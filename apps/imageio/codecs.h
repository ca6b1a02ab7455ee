// Private to the photo library: the per-format decoders and encoders and the
// checks they share. imageio.cpp opens the file, picks the codec, applies
// the orientation and writes through platform/atomicfile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
#include "platform/graphics.h"

namespace planora::imageio {

using TBytes = std::vector<std::uint8_t>;

// "'path' <what>" as an EInOutError.
[[noreturn]] void FailRead(const std::string& path, const std::string& what);
// "cannot write 'path': <what>" as an EInOutError.
[[noreturn]] void FailWrite(const std::string& path, const std::string& what);

// Refuses a declared size that is zero, negative or over the limit. Every
// decoder calls it on the header's numbers before it allocates pixels.
void CheckSize(const std::string& path, std::int64_t width, std::int64_t height, const TReadLimits& limits);

// Where a decoder puts its rows: the photo's own Pixels, or, when Into is
// set, straight into the rows of that bitmap (the photo then keeps its size
// and metadata only), so that a picture on its way to a surface is not
// copied from one full-size buffer into another.
struct TRaster {
  TPhoto& Photo;
  TBitmap* Into = nullptr;
};

// Sets the photo's size after CheckSize has passed. Memory is only reserved
// here; rows are committed as they arrive (PixelRow), so a file that
// declares a huge picture and holds little costs about what it holds (a
// big bitmap's pages, too, are only taken when written).
void AllocatePixels(TRaster& raster, int width, int height);
// Row y of the picture, its memory committed (with all rows above it).
std::uint8_t* PixelRow(TRaster& raster, int y);
// Commits the rest of the rows: when a decoder is done, every row exists.
void CompletePixels(TRaster& raster);

// Rows to encode, from a photo's pixels or a bitmap's padded rows, and the
// metadata that goes with them.
struct TImage {
  int Width, Height;
  const std::uint8_t* Base;
  std::size_t Stride;
  const TBytes& Exif;
  const TBytes& Icc;
  const std::uint8_t* Row(int y) const { return Base + static_cast<std::size_t>(y) * Stride; }
};

// The open photo file, read once and in order whatever it is (a regular
// file, a pipe, a FIFO), through a read-ahead buffer. The decoders pull
// from it as they need data; nothing holds the whole file.
//
// The bytes read are limited: before the header is known to what a photo's
// metadata can need, after it to what a picture of the declared size can
// need (AllowFor), so an endless pipe or a sparse file of gigabytes ends
// with a message instead of running for minutes.
class TInput {
 public:
  TInput(std::string path, int fd, bool regular, std::int64_t size);
  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }
  bool Regular() const { return regular_; }
  std::int64_t Size() const { return size_; }  // of a regular file; -1 otherwise
  // Up to n bytes; 0 at the end of the file. A read error or the limit
  // gives -1 and Error() says which.
  std::ptrdiff_t Read(void* out, std::size_t n);
  // Exactly n bytes or false (the file ended, an error, the limit).
  bool ReadExactly(void* out, std::size_t n);
  // The first bytes, for recognising the format; they are read again.
  const std::uint8_t* Peek(std::size_t& n);
  // The declared picture is known: width x height at most `bytesPerPixel`
  // bytes each, plus what the format's structure may add.
  void AllowFor(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel);
  const std::string& Error() const { return error_; }
  std::int64_t Consumed() const { return consumed_; }

 private:
  bool Fill();
  std::string path_;
  int fd_;
  bool regular_;
  std::int64_t size_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  std::int64_t consumed_ = 0;
  std::int64_t limit_;
  std::string error_;
};

// Keeps an ICC profile only when it describes RGB data (see TPhoto::Icc).
bool IsRgbProfile(const std::uint8_t* data, std::size_t size);

// Row y of the picture (B, G, R) in the order the file formats store: R, G, B.
void RgbRow(const TImage& image, int y, std::uint8_t* out);

// The decoders read from the open file and put the rows where `into`
// says (see TRaster; nullptr: into the photo). TIFF is read where libtiff asks,
// so only from a regular file, and its own Orientation tag plays the part
// that the EXIF tag plays elsewhere, so it is handed back separately.
TPhoto DecodeJpeg(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into);
TPhoto DecodePng(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into);
TPhoto DecodeTiff(const std::string& path, TInput& input, const TReadLimits& limits, int& orientation,
                  TBitmap* into);
TPhoto DecodeBmp(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into);
TPhoto DecodeNetpbm(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into);

// The encoders write to an open temporary file; `path` is the target, for
// messages. They throw through FailWrite. EncodeTiff works on the descriptor
// because libtiff seeks and keeps its own buffers; it leaves fd open.
void EncodeJpeg(const std::string& path, std::FILE* file, const TImage& photo, const TWriteOptions& options);
void EncodePng(const std::string& path, std::FILE* file, const TImage& photo);
void EncodeTiff(const std::string& path, int fd, const TImage& photo);
void EncodeBmp(const std::string& path, std::FILE* file, const TImage& photo);
void EncodePpm(const std::string& path, std::FILE* file, const TImage& photo);

}  // namespace planora::imageio
