// Private to the photo library: the per-format decoders and encoders and the
// checks they share. imageio.cpp picks the codec, applies the orientation and
// owns the temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"

namespace planora::imageio {

using TBytes = std::vector<std::uint8_t>;

// "'path' <what>" as an EInOutError.
[[noreturn]] void FailRead(const std::string& path, const std::string& what);
// "cannot write 'path': <what>" as an EInOutError.
[[noreturn]] void FailWrite(const std::string& path, const std::string& what);

// Refuses a declared size that is zero, negative or over the limit. Every
// decoder calls it on the header's numbers before it allocates pixels.
void CheckSize(const std::string& path, std::int64_t width, std::int64_t height, const TReadLimits& limits);

// Sizes photo.Pixels for width x height after CheckSize has passed.
void AllocatePixels(TPhoto& photo, int width, int height);

// Keeps an ICC profile only when it describes RGB data (see TPhoto::Icc).
bool IsRgbProfile(const std::uint8_t* data, std::size_t size);

// Row y of the photo (B, G, R) in the order the file formats store: R, G, B.
void RgbRow(const TPhoto& photo, int y, std::uint8_t* out);

// The decoders take the whole file. TIFF is the exception: libtiff reads
// from the path itself, and its own Orientation tag plays the part that the
// EXIF tag plays elsewhere, so it is handed back separately.
TPhoto DecodeJpeg(const std::string& path, const TBytes& data, const TReadLimits& limits);
TPhoto DecodePng(const std::string& path, const TBytes& data, const TReadLimits& limits);
TPhoto DecodeTiff(const std::string& path, const TReadLimits& limits, int& orientation);
TPhoto DecodeBmp(const std::string& path, const TBytes& data, const TReadLimits& limits);
TPhoto DecodeNetpbm(const std::string& path, const TBytes& data, const TReadLimits& limits);

// The encoders write to an open temporary file; `path` is the target, for
// messages. They throw through FailWrite. EncodeTiff works on the descriptor
// because libtiff seeks and keeps its own buffers; it leaves fd open.
void EncodeJpeg(const std::string& path, std::FILE* file, const TPhoto& photo, int quality);
void EncodePng(const std::string& path, std::FILE* file, const TPhoto& photo);
void EncodeTiff(const std::string& path, int fd, const TPhoto& photo);
void EncodeBmp(const std::string& path, std::FILE* file, const TPhoto& photo);
void EncodePpm(const std::string& path, std::FILE* file, const TPhoto& photo);

}  // namespace planora::imageio
