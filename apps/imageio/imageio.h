// Reading and writing photos for the batch tool and the desktop program:
// JPEG, PNG, TIFF, BMP and binary PPM/PGM, always as 8-bit BGR pixels.
//
// A photo comes out as a viewer shows it: its EXIF orientation is applied on
// reading, and the EXIF block it keeps says "orientation 1" so that writing it
// back does not turn the picture a second time. Metadata a correction can
// keep (EXIF, the ICC colour profile) travels with the pixels.
//
// Every failure is an EInOutError whose message names the file and says what
// is wrong, in words a user can act on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/limits.h"

namespace planora {

class TBitmap;

struct TPhoto {
  int Width = 0;
  int Height = 0;
  // 3 bytes per pixel in the order B, G, R; rows top-down, no padding.
  std::vector<std::uint8_t> Pixels;
  // The raw TIFF-structured EXIF block (starting "II*\0" or "MM\0*"), without
  // the "Exif\0\0" header JPEG puts in front of it; empty when there is none.
  // Its orientation tag, if any, already says 1.
  std::vector<std::uint8_t> Exif;
  // The ICC colour profile of the pixels; empty when there is none. Only a
  // profile for RGB data is kept, because the pixels are always RGB: the
  // profile of a grey or CMYK original no longer describes them.
  std::vector<std::uint8_t> Icc;
};

struct TReadLimits {
  // A photo whose header declares more pixels than this is refused before
  // any pixel memory is taken: a damaged or hostile header must not be able
  // to make the program allocate gigabytes.
  std::int64_t MaxPixels = MaxPicturePixels;
};

struct TWriteOptions {
  int JpegQuality = 95;  // 1..100, used for JPEG only
  // Huffman tables fitted to the picture: the same pixels in a JPEG file
  // about a tenth smaller, for a second pass over the picture and memory
  // for all its coefficients (about 5 bytes a pixel at quality 90 and up).
  bool OptimizeJpegCoding = false;
};

// The formats ReadPhoto reads, as an open dialog's filter.
inline constexpr const char* PhotoOpenFilter =
    "Photos (*.jpg *.jpeg *.png *.tif *.tiff *.bmp *.ppm *.pgm);;All files (*)";

// Reads a JPEG, PNG, TIFF, BMP (24/32-bit uncompressed), PPM (P6) or PGM (P5)
// photo. The format is recognised from the file's first bytes, never from its
// name. Alpha is composited over white, because a transparent area has to
// become some colour and a photo of a document reads best on white. Grey
// photos come out with three equal channels; 16-bit samples are rounded to 8.
TPhoto ReadPhoto(const std::string& path, const TReadLimits& limits = {});

// The same, with the pixels put straight into `bitmap` (resized to the
// photo; its old pixels are gone) instead of into the photo, which comes
// back with its size and metadata and no Pixels. For a picture whose next
// stop is a bitmap this saves a full-size buffer and a copy of it.
TPhoto ReadPhoto(const std::string& path, TBitmap& bitmap, const TReadLimits& limits = {});

// Writes the photo in the format its extension names (.jpg/.jpeg, .png,
// .tif/.tiff, .bmp, .ppm, in any case). EXIF and ICC go into JPEG and PNG;
// TIFF gets the ICC profile only. The file is written by the rule of
// platform/atomicfile.h: a failure leaves the target as it was and no
// half-written file behind; a device or FIFO is written into, not replaced.
void WritePhoto(const std::string& path, const TPhoto& photo, const TWriteOptions& options = {});

// The same for the pixels of a bitmap, with the metadata of `metadata`
// (its EXIF and ICC profile; its size and Pixels are not looked at):
// encoded from the bitmap's rows, without a copy of the picture.
void WritePhoto(const std::string& path, const TBitmap& bitmap, const TPhoto& metadata,
                const TWriteOptions& options = {});

// Why a photo cannot be written to path, in words (its name has no known
// format, its folder is missing, it is read-only, a folder, a link of
// another user ...), or "" when it can be tried: checked before any work.
std::string PhotoTargetProblem(const std::string& path);

// Any file (a report, say) written by the same rule: see platform/atomicfile.h.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace planora
