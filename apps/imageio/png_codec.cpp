// PNG through libpng.
//
// libpng reports errors through a callback that must not return; it
// longjmps back to the jump point in RunDecode / RunEncode. As in the JPEG
// code, those functions hold no object with a destructor across a libpng
// call: buffers and results live in the caller's frame.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "apps/imageio/codecs.h"
#include "platform/atomicfile.h"

namespace planora::imageio {
namespace {

struct TPngState {
  char Message[256] = "";
  // Reading: the open file.
  TInput* Input = nullptr;
  // Writing: the target stream and the errno of a failed write.
  std::FILE* File = nullptr;
  int Errno = 0;
};

TPngState& State(png_structp png) { return *static_cast<TPngState*>(png_get_error_ptr(png)); }

void PngError(png_structp png, png_const_charp message) {
  std::snprintf(State(png).Message, sizeof State(png).Message, "%s", message);
  png_longjmp(png, 1);
}

// Warnings are about chunks libpng skips (a bad ancillary chunk, an odd
// profile); the image itself is fine.
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, png_size_t length) {
  TPngState& s = State(png);
  if (!s.Input->ReadExactly(out, length))
    png_error(png, s.Input->Error().empty() ? "the file ends early" : s.Input->Error().c_str());
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  TPngState& s = State(png);
  if (std::fwrite(data, 1, length, s.File) != length) {
    s.Errno = errno;
    png_error(png, "write failed");
  }
}

void PngFlush(png_structp png) {
  TPngState& s = State(png);
  if (std::fflush(s.File) != 0) {
    s.Errno = errno;
    png_error(png, "write failed");
  }
}

// Straight (not premultiplied) alpha over white, rounded.
inline std::uint8_t OverWhite(unsigned c, unsigned a) {
  return static_cast<std::uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

void CompositeRow(const std::uint8_t* bgra, std::uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x, bgra += 4, bgr += 3) {
    bgr[0] = OverWhite(bgra[0], bgra[3]);
    bgr[1] = OverWhite(bgra[1], bgra[3]);
    bgr[2] = OverWhite(bgra[2], bgra[3]);
  }
}

bool RunDecode(png_structp png, png_infop info, TRaster& raster, TBytes& scratch, const std::string& path,
               const TReadLimits& limits) {
  TPhoto& photo = raster.Photo;
  if (setjmp(png_jmpbuf(png))) return false;
  // libpng's own limit (a million pixels a side) would refuse large photos
  // with a message of its own; TReadLimits is the one that counts.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  CheckSize(path, width, height, limits);
  // Up to 16-bit RGBA before filtering; compressed data is rarely larger.
  State(png).Input->AllowFor(width, height, 8);
  const int colorType = png_get_color_type(png, info);

  png_set_expand(png);  // palette and low-bit grey to 8 bits, tRNS to alpha
  png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if (channels != 3 && channels != 4) png_error(png, "unexpected channel count");

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  AllocatePixels(raster, w, h);
  if (channels == 3) {
    // Rows are committed as the first pass reaches them.
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < h; ++y) png_read_row(png, PixelRow(raster, y), nullptr);
  } else if (passes == 1) {
    scratch.resize(static_cast<std::size_t>(w) * 4);
    for (int y = 0; y < h; ++y) {
      png_read_row(png, scratch.data(), nullptr);
      CompositeRow(scratch.data(), PixelRow(raster, y), w);
    }
  } else {
    CompletePixels(raster);
    // Interlaced passes each fill part of every row, so all rows are needed.
    scratch.resize(static_cast<std::size_t>(w) * h * 4);
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < h; ++y) png_read_row(png, scratch.data() + static_cast<std::size_t>(y) * w * 4, nullptr);
    for (int y = 0; y < h; ++y)
      CompositeRow(scratch.data() + static_cast<std::size_t>(y) * w * 4, PixelRow(raster, y), w);
  }
  // eXIf may come after the image data.
  png_read_end(png, info);

  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileSize = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && IsRgbProfile(profile, profileSize))
    photo.Icc.assign(profile, profile + profileSize);
  png_bytep exif = nullptr;
  png_uint_32 exifSize = 0;
  if (png_get_eXIf_1(png, info, &exifSize, &exif) && exifSize > 0) photo.Exif.assign(exif, exif + exifSize);
  return true;
}

bool RunEncode(png_structp png, png_infop info, const TImage& photo) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, nullptr, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(photo.Width), static_cast<png_uint_32>(photo.Height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // libpng copies both and only reads them; the non-const pointers are its API.
  // A profile libpng finds inconsistent (one a JPEG carried, say, that is
  // only a header) is dropped with a warning, not made a reason to fail.
  png_set_benign_errors(png, 1);
  if (!photo.Icc.empty())
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, photo.Icc.data(),
                 static_cast<png_uint_32>(photo.Icc.size()));
  if (!photo.Exif.empty())
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(photo.Exif.size()),
                   const_cast<png_bytep>(photo.Exif.data()));
  png_write_info(png, info);
  png_set_bgr(png);
  // libpng's row type is not const, but it only reads rows it writes.
  for (int y = 0; y < photo.Height; ++y) png_write_row(png, const_cast<std::uint8_t*>(photo.Row(y)));
  png_write_end(png, info);
  return true;
}

}  // namespace

TPhoto DecodePng(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into) {
  // The size is checked straight from IHDR, which must come first, so that a
  // file cut off right after it still gets the message about its size.
  std::size_t n = 24;
  const std::uint8_t* head = input.Peek(n);
  if (n >= 24 && std::memcmp(head + 12, "IHDR", 4) == 0) {
    const auto be32 = [&](std::size_t at) {
      return (std::uint32_t{head[at]} << 24) | (std::uint32_t{head[at + 1]} << 16) |
             (std::uint32_t{head[at + 2]} << 8) | head[at + 3];
    };
    CheckSize(path, be32(16), be32(20), limits);
  }
  TPngState state;
  state.Input = &input;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (png == nullptr) FailRead(path, "cannot be read: out of memory");
  png_infop info = png_create_info_struct(png);
  struct TGuard {
    png_structp& Png;
    png_infop& Info;
    ~TGuard() { png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr); }
  } guard{png, info};
  if (info == nullptr) FailRead(path, "cannot be read: out of memory");
  png_set_read_fn(png, nullptr, PngRead);
  TPhoto photo;
  TRaster raster{photo, into};
  TBytes scratch;
  if (!RunDecode(png, info, raster, scratch, path, limits)) {
    if (!input.Error().empty()) FailRead(path, input.Error());
    FailRead(path, std::string("is damaged or truncated (") + state.Message + ")");
  }
  CompletePixels(raster);
  return photo;
}

void EncodePng(const std::string& path, std::FILE* file, const TImage& photo) {
  TPngState state;
  state.File = file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (png == nullptr) FailWrite(path, "out of memory");
  png_infop info = png_create_info_struct(png);
  struct TGuard {
    png_structp& Png;
    png_infop& Info;
    ~TGuard() { png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr); }
  } guard{png, info};
  if (info == nullptr) FailWrite(path, "out of memory");
  if (!RunEncode(png, info, photo)) {
    if (state.Errno != 0) FailWrite(path, WriteErrorText(state.Errno));
    FailWrite(path, state.Message);
  }
}

}  // namespace planora::imageio
