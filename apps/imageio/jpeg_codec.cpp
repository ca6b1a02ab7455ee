// JPEG through the libjpeg API (libjpeg-turbo).
//
// libjpeg reports errors by calling error_exit, which by default prints and
// calls exit(). Here it longjmps back to the function that set the jump
// point. That function never holds an object with a destructor across a
// libjpeg call (the longjmp would skip it); the decompressor, the error
// manager and the photo all live in the caller's frame.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// jpeglib.h needs FILE and size_t declared first; jerror.h needs jpeglib.h.
#include <jpeglib.h>
#include <jerror.h>

#include "apps/imageio/codecs.h"
#include "platform/atomicfile.h"

namespace planora::imageio {
namespace {

struct TJpegError {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
  int Errno;  // errno when a write to the file failed
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  err->Errno = errno;
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

// libjpeg only warns about damaged entropy data and a file that ends early,
// and goes on with grey blocks. A photo that is partly grey would be
// corrected and saved without anyone noticing, so those warnings end the
// reading. Warnings about unusual but intact files are let through.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
      JpegErrorExit(cinfo);
      break;
    default:
      cinfo->err->num_warnings++;
  }
}

void InitErrorManager(TJpegError& err) {
  jpeg_std_error(&err.Pub);
  err.Pub.error_exit = JpegErrorExit;
  err.Pub.emit_message = JpegEmitMessage;
  err.Message[0] = '\0';
  err.Errno = 0;
}

constexpr std::size_t kExifHeaderSize = 6;  // "Exif\0\0"

// A progressive photo from a camera or an editor has about ten scans; each
// scan makes the decoder go over the whole picture again, so a file that
// repeats a tiny scan thousands of times costs minutes for nothing.
constexpr int kMaxScans = 256;

struct TScanCounter {
  jpeg_progress_mgr Pub;
  bool TooMany = false;
};

void CountScans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    reinterpret_cast<TScanCounter*>(cinfo->progress)->TooMany = true;
    std::snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->Message, JMSG_LENGTH_MAX,
                  "it has more than %d scans, far more than any photo needs", kMaxScans);
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->Jump, 1);
  }
}

// The file is pulled through TInput as libjpeg asks for it.
struct TJpegSource {
  jpeg_source_mgr Pub;
  TInput* Input;
  JOCTET Buffer[65536];
  bool EndSeen;  // the end of the file was reached (and an end marker given)
};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  const std::ptrdiff_t n = src->Input->Read(src->Buffer, sizeof src->Buffer);
  if (n < 0) {
    std::snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->Message, JMSG_LENGTH_MAX, "%s",
                  src->Input->Error().c_str());
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->Jump, 2);
  }
  if (n == 0) {
    // Some writers leave out the end marker. Without it libjpeg cannot tell
    // "all data is here" from "the file was cut", so one is given: a file
    // that really ends early then runs into it in the middle of the entropy
    // data, which is an error (JWRN_HIT_MARKER above).
    src->Buffer[0] = 0xFF;
    src->Buffer[1] = JPEG_EOI;
    src->Pub.next_input_byte = src->Buffer;
    src->Pub.bytes_in_buffer = 2;
    src->EndSeen = true;
    return TRUE;
  }
  src->Pub.next_input_byte = src->Buffer;
  src->Pub.bytes_in_buffer = static_cast<std::size_t>(n);
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  while (count > 0) {
    if (src->Pub.bytes_in_buffer == 0) FillInput(cinfo);
    const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(count), src->Pub.bytes_in_buffer);
    src->Pub.next_input_byte += step;
    src->Pub.bytes_in_buffer -= step;
    count -= static_cast<long>(step);
  }
}

void TermSource(j_decompress_ptr) {}

bool RunDecode(jpeg_decompress_struct& cinfo, TJpegError& err, jpeg_progress_mgr* progress, TJpegSource& source,
               TRaster& raster, const std::string& path, const TReadLimits& limits) {
  TPhoto& photo = raster.Photo;
  if (setjmp(err.Jump)) return false;
  jpeg_create_decompress(&cinfo);
  cinfo.progress = progress;
  source.Pub.init_source = InitSource;
  source.Pub.fill_input_buffer = FillInput;
  source.Pub.skip_input_data = SkipInput;
  source.Pub.resync_to_restart = jpeg_resync_to_restart;
  source.Pub.term_source = TermSource;
  source.Pub.bytes_in_buffer = 0;
  source.Pub.next_input_byte = nullptr;
  cinfo.src = &source.Pub;
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  CheckSize(path, cinfo.image_width, cinfo.image_height, limits);
  source.Input->AllowFor(cinfo.image_width, cinfo.image_height, cinfo.num_components);

  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > kExifHeaderSize &&
        std::memcmp(m->data, "Exif\0\0", kExifHeaderSize) == 0) {
      photo.Exif.assign(m->data + kExifHeaderSize, m->data + m->data_length);
      break;
    }
  }
  JOCTET* icc = nullptr;
  unsigned int iccSize = 0;
  if (jpeg_read_icc_profile(&cinfo, &icc, &iccSize)) {
    // A block of its own so that the guard is gone before the next libjpeg call.
    std::unique_ptr<JOCTET, decltype(&std::free)> guard(icc, &std::free);
    if (IsRgbProfile(icc, iccSize)) photo.Icc.assign(icc, icc + iccSize);
  }

  // CMYK (mostly from print work) cannot be turned into RGB by libjpeg.
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  AllocatePixels(raster, width, static_cast<int>(cinfo.output_height));
  JSAMPARRAY cmykRow = nullptr;
  if (cmyk) {
    cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                         static_cast<JDIMENSION>(width) * 4, 1);
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    std::uint8_t* out = PixelRow(raster, static_cast<int>(cinfo.output_scanline));
    if (!cmyk) {
      JSAMPROW row = out;
      jpeg_read_scanlines(&cinfo, &row, 1);
      continue;
    }
    jpeg_read_scanlines(&cinfo, cmykRow, 1);
    // Photoshop (which writes an Adobe marker) stores CMYK inverted. Without
    // a colour-managed conversion this naive one is what viewers show.
    const bool inverted = cinfo.saw_Adobe_marker;
    const JSAMPLE* in = cmykRow[0];
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
      const unsigned c = inverted ? in[0] : 255u - in[0], m = inverted ? in[1] : 255u - in[1];
      const unsigned y = inverted ? in[2] : 255u - in[2], k = inverted ? in[3] : 255u - in[3];
      out[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
      out[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
      out[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

// Largest EXIF block one APP1 segment holds: the segment length counts
// itself (2 bytes) and the "Exif\0\0" header.
constexpr std::size_t kMaxExifSize = 65535 - 2 - kExifHeaderSize;

bool RunEncode(jpeg_compress_struct& cinfo, TJpegError& err, std::FILE* file, const TImage& photo,
               const TWriteOptions& options) {
  const int quality = options.JpegQuality;
  if (setjmp(err.Jump)) return false;
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(photo.Width);
  cinfo.image_height = static_cast<JDIMENSION>(photo.Height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  // Optimal Huffman tables need a first pass over all the picture's
  // coefficients, held in memory meanwhile: at 20 megapixels that is over
  // 100 MB and a second or so, for a file about a tenth smaller with the
  // same pixels. Hence off unless asked for.
  cinfo.optimize_coding = options.OptimizeJpegCoding ? TRUE : FALSE;
  // At high quality the halved colour resolution of 4:2:0 is the largest
  // loss left, visible on the coloured edges a corrected poster is full of.
  if (quality >= 90) {
    for (int i = 0; i < cinfo.num_components; ++i) {
      cinfo.comp_info[i].h_samp_factor = 1;
      cinfo.comp_info[i].v_samp_factor = 1;
    }
  }
  // A camera file has EXIF instead of JFIF, and readers look for APP1 right
  // after the start of the image.
  const bool exif = !photo.Exif.empty() && photo.Exif.size() <= kMaxExifSize;
  if (exif) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (exif) {
    // Byte by byte, because a buffer with the header in front would be an
    // object the longjmp could skip.
    jpeg_write_m_header(&cinfo, JPEG_APP0 + 1, static_cast<unsigned int>(photo.Exif.size() + kExifHeaderSize));
    for (std::size_t i = 0; i < kExifHeaderSize; ++i) jpeg_write_m_byte(&cinfo, "Exif\0\0"[i]);
    for (std::uint8_t b : photo.Exif) jpeg_write_m_byte(&cinfo, b);
  }
  if (!photo.Icc.empty())
    jpeg_write_icc_profile(&cinfo, photo.Icc.data(), static_cast<unsigned int>(photo.Icc.size()));
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg's row type is not const, but it only reads input rows.
    JSAMPROW row = const_cast<std::uint8_t*>(photo.Row(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

}  // namespace

TPhoto DecodeJpeg(const std::string& path, TInput& input, const TReadLimits& limits, TBitmap* into) {
  jpeg_decompress_struct cinfo{};
  TJpegError err;
  InitErrorManager(err);
  cinfo.err = &err.Pub;
  struct TGuard {
    jpeg_decompress_struct& Info;
    ~TGuard() { jpeg_destroy_decompress(&Info); }
  } guard{cinfo};
  auto source = std::make_unique<TJpegSource>();
  source->Input = &input;
  source->EndSeen = false;
  TPhoto photo;
  TRaster raster{photo, into};
  TScanCounter counter{};
  counter.Pub.progress_monitor = CountScans;
  if (!RunDecode(cinfo, err, &counter.Pub, *source, raster, path, limits)) {
    if (counter.TooMany)
      FailRead(path, "is refused: it has more than " + std::to_string(kMaxScans) +
                         " progressive scans, far more than any photo needs");
    if (!input.Error().empty()) FailRead(path, input.Error());
    FailRead(path, std::string("is damaged or truncated (") + err.Message + ")");
  }
  CompletePixels(raster);
  return photo;
}

void EncodeJpeg(const std::string& path, std::FILE* file, const TImage& photo, const TWriteOptions& options) {
  jpeg_compress_struct cinfo{};
  TJpegError err;
  InitErrorManager(err);
  cinfo.err = &err.Pub;
  struct TGuard {
    jpeg_compress_struct& Info;
    ~TGuard() { jpeg_destroy_compress(&Info); }
  } guard{cinfo};
  if (!RunEncode(cinfo, err, file, photo, options)) {
    if (err.Pub.msg_code == JERR_FILE_WRITE && err.Errno != 0) FailWrite(path, WriteErrorText(err.Errno));
    FailWrite(path, err.Message);
  }
}

}  // namespace planora::imageio
