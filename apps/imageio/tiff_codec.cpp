// TIFF through libtiff.
//
// libtiff's errors go to handlers given with the open options, so messages
// land in the per-file state instead of on stderr, and nothing global is
// touched. Its RGBA reader covers the many TIFF flavours (strips, tiles,
// palette, grey, 16 bit, YCbCr, associated and unassociated alpha) at the
// cost of 4 bytes per pixel while reading.
//
// EXIF is not carried in either direction: in TIFF it is a sub-directory
// woven into the file's own structure, not a block that can be copied, and
// the formats the corrected photos go out in (JPEG, PNG) keep it anyway.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

#include "apps/imageio/codecs.h"
#include "platform/atomicfile.h"

namespace planora::imageio {
namespace {

struct TTiffState {
  char Message[512] = "";
  int Errno = 0;  // errno when the first error was reported: a failed write's cause
};

int TiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* state = static_cast<TTiffState*>(user);
  const int error = errno;
  if (state->Message[0] == '\0') {
    state->Errno = error;  // the first error is the cause; later ones follow from it
    char text[400];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(state->Message, sizeof state->Message, "%s%s%s", module != nullptr ? module : "",
                  module != nullptr ? ": " : "", text);
  }
  return 1;  // handled: do not call the global handler as well
}

// libtiff reports a few failures only through its global handler; those
// still need some words.
std::string Reason(const TTiffState& state) {
  return state.Message[0] != '\0' ? std::string(state.Message) : std::string("libtiff failed");
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TOptionsDeleter {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TTiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

std::unique_ptr<TIFFOpenOptions, TOptionsDeleter> MakeOptions(TTiffState& state) {
  std::unique_ptr<TIFFOpenOptions, TOptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (options) {
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffError, &state);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarning, &state);
  }
  return options;
}

}  // namespace

TPhoto DecodeTiff(const std::string& path, const TReadLimits& limits, int& orientation) {
  TTiffState state;
  auto options = MakeOptions(state);
  if (!options) FailRead(path, "cannot be read: out of memory");
  std::unique_ptr<TIFF, TTiffCloser> tif(TIFFOpenExt(path.c_str(), "r", options.get()));
  if (!tif) FailRead(path, "is damaged or not a readable TIFF (" + Reason(state) + ")");

  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  CheckSize(path, width, height, limits);
  char reason[1024] = "";
  if (!TIFFRGBAImageOK(tif.get(), reason)) FailRead(path, std::string("is a kind of TIFF not supported: ") + reason);

  std::uint16_t tagOrientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &tagOrientation);
  orientation = tagOrientation >= 1 && tagOrientation <= 8 ? tagOrientation : ORIENTATION_TOPLEFT;

  TPhoto photo;
  std::uint32_t iccSize = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) &&
      IsRgbProfile(static_cast<const std::uint8_t*>(icc), iccSize)) {
    const auto* p = static_cast<const std::uint8_t*>(icc);
    photo.Icc.assign(p, p + iccSize);
  }

  // Asking for the file's own orientation makes libtiff hand the rows over
  // as stored; ReadPhoto then turns them like an EXIF orientation (libtiff
  // itself only flips and cannot do the quarter turns).
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), orientation, 1))
    FailRead(path, "is damaged or truncated (" + Reason(state) + ")");

  AllocatePixels(photo, static_cast<int>(width), static_cast<int>(height));
  std::uint8_t* out = photo.Pixels.data();
  for (const std::uint32_t abgr : raster) {
    // The reader hands out premultiplied alpha, so "over white" adds the
    // uncovered part of white.
    const unsigned a = TIFFGetA(abgr), white = 255u - a;
    out[0] = static_cast<std::uint8_t>(std::min(255u, TIFFGetB(abgr) + white));
    out[1] = static_cast<std::uint8_t>(std::min(255u, TIFFGetG(abgr) + white));
    out[2] = static_cast<std::uint8_t>(std::min(255u, TIFFGetR(abgr) + white));
    out += 3;
  }
  return photo;
}

void EncodeTiff(const std::string& path, int fd, const TPhoto& photo) {
  TTiffState state;
  auto options = MakeOptions(state);
  if (!options) FailWrite(path, "out of memory");
  // TIFFClose closes the descriptor it was given; the caller still needs
  // its own for fsync and the rename.
  const int copy = ::dup(fd);
  if (copy < 0) FailWrite(path, "cannot duplicate the file descriptor");
  std::unique_ptr<TIFF, TTiffCloser> tif(TIFFFdOpenExt(copy, path.c_str(), "w", options.get()));
  if (!tif) {
    ::close(copy);
    FailWrite(path, Reason(state));
  }
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(photo.Width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(photo.Height));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  // Deflate with the horizontal predictor: lossless, and every TIFF reader
  // of the last twenty years has it.
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  if (!photo.Icc.empty())
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(photo.Icc.size()), photo.Icc.data());

  // libtiff says "Write error at scanline 103"; the system's reason is
  // what the user can act on (a full disk, above all).
  const auto fail = [&] {
    if (state.Errno != 0) FailWrite(path, WriteErrorText(state.Errno));
    FailWrite(path, Reason(state));
  };
  const std::size_t stride = static_cast<std::size_t>(photo.Width) * 3;
  std::vector<std::uint8_t> row(stride);
  errno = 0;
  for (int y = 0; y < photo.Height; ++y) {
    RgbRow(photo, y, row.data());
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) fail();
  }
  if (!TIFFWriteDirectory(t)) fail();
  tif.reset();  // closes the copy of the descriptor
  if (state.Message[0] != '\0') fail();
}

}  // namespace planora::imageio
