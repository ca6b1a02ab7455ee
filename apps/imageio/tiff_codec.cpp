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
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
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

namespace {

// libtiff reads through these from the descriptor already open, never by
// reopening the path (which could be a FIFO, or another file by now), and
// never maps the file: a strip beyond the end of a mapped file makes it
// report a negative byte count as a huge unsigned one.
tmsize_t TiffRead(thandle_t h, void* buffer, tmsize_t size) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(h));
  tmsize_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, static_cast<std::size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}
tmsize_t TiffNoWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(h));
  if (offset > static_cast<toff_t>(INT64_MAX)) return static_cast<toff_t>(-1);
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
  return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}
int TiffClose(thandle_t) { return 0; }  // the descriptor belongs to ReadPhoto
toff_t TiffSize(thandle_t h) {
  struct stat st {};
  return ::fstat(static_cast<int>(reinterpret_cast<std::intptr_t>(h)), &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}
int TiffNoMap(thandle_t, void**, toff_t*) { return 0; }
void TiffNoUnmap(thandle_t, void*, toff_t) {}

struct TRgbaImageEnd {
  TIFFRGBAImage* Image;
  ~TRgbaImageEnd() { TIFFRGBAImageEnd(Image); }
};

// The RGBA reader's rows for one band at most this large: the picture is
// decoded band by band, so memory follows the data the file really holds.
constexpr std::size_t kBandBytes = 16 << 20;

}  // namespace

TPhoto DecodeTiff(const std::string& path, TInput& input, const TReadLimits& limits, int& orientation,
                  TBitmap* into) {
  // libtiff jumps about in the file; a pipe cannot do that.
  if (!input.Regular())
    FailRead(path, "is a TIFF in a pipe or FIFO; TIFF is read only from a regular file (save it to one first)");
  if (::lseek(input.Fd(), 0, SEEK_SET) != 0) FailRead(path, "cannot be read: it cannot be positioned");
  TTiffState state;
  auto options = MakeOptions(state);
  if (!options) FailRead(path, "cannot be read: out of memory");
  std::unique_ptr<TIFF, TTiffCloser> tif(TIFFClientOpenExt(
      path.c_str(), "rm", reinterpret_cast<thandle_t>(static_cast<std::intptr_t>(input.Fd())), TiffRead, TiffNoWrite,
      TiffSeek, TiffClose, TiffSize, TiffNoMap, TiffNoUnmap, options.get()));
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
  TRaster target{photo, into};
  std::uint32_t iccSize = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) &&
      IsRgbProfile(static_cast<const std::uint8_t*>(icc), iccSize)) {
    const auto* p = static_cast<const std::uint8_t*>(icc);
    photo.Icc.assign(p, p + iccSize);
  }

  TIFFRGBAImage image{};
  if (!TIFFRGBAImageBegin(&image, tif.get(), 1, reason))
    FailRead(path, std::string("is a kind of TIFF not supported: ") + reason);
  TRgbaImageEnd end{&image};
  // Asking for the file's own orientation makes libtiff hand the rows over
  // as stored; ReadPhoto then turns them like an EXIF orientation (libtiff
  // itself only flips and cannot do the quarter turns).
  image.req_orientation = static_cast<std::uint16_t>(orientation);

  // Bands of whole strips or tiles where they are small, so that none is
  // decoded twice.
  std::uint32_t band = 0;
  if (TIFFIsTiled(tif.get())) TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &band);
  else TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &band);
  const std::uint32_t maxBand = static_cast<std::uint32_t>(std::max<std::size_t>(1, kBandBytes / (4 * std::size_t{width})));
  if (band == 0 || band > maxBand) band = maxBand;
  band = std::min(band, height);

  AllocatePixels(target, static_cast<int>(width), static_cast<int>(height));
  std::vector<std::uint32_t> raster;
  for (std::uint32_t row = 0; row < height; row += band) {
    const std::uint32_t rows = std::min(band, height - row);
    raster.resize(static_cast<std::size_t>(width) * rows);
    image.row_offset = static_cast<int>(row);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, raster.data(), width, rows)) {
      // libtiff's own words for a short read carry its internal numbers
      // (scanline 4294967295, a negative count shown unsigned).
      if (Reason(state).find("Read error") != std::string::npos)
        FailRead(path, "is truncated: the file ends before the data of its picture does");
      FailRead(path, "is damaged or truncated (" + Reason(state) + ")");
    }
    const std::uint32_t* in = raster.data();
    for (std::uint32_t r = 0; r < rows; ++r) {
      std::uint8_t* out = PixelRow(target, static_cast<int>(row + r));
      for (std::uint32_t x = 0; x < width; ++x, ++in, out += 3) {
        const std::uint32_t abgr = *in;
        // The reader hands out premultiplied alpha, so "over white" adds the
        // uncovered part of white.
        const unsigned a = TIFFGetA(abgr), white = 255u - a;
        out[0] = static_cast<std::uint8_t>(std::min(255u, TIFFGetB(abgr) + white));
        out[1] = static_cast<std::uint8_t>(std::min(255u, TIFFGetG(abgr) + white));
        out[2] = static_cast<std::uint8_t>(std::min(255u, TIFFGetR(abgr) + white));
      }
    }
  }
  return photo;
}

void EncodeTiff(const std::string& path, int fd, const TImage& photo) {
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
