// What the photo library reads from and writes into a photo's EXIF block,
// through Exiv2: the orientation a viewer applies, and the focal length the
// camera solver can use where the corners cannot tell it.
//
// Every function takes the raw TIFF-structured block as TPhoto keeps it
// (no "Exif\0\0" header). A damaged block is no error here: it is simply a
// block without the value asked for, since the pixels are what matters.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace planora {

// IFD0's Orientation, 1..8; 1 when there is none or it is unusable.
int ExifOrientation(const std::vector<std::uint8_t>& exif);

// Makes the block say orientation 1, so that a photo turned on reading is
// not turned again by whoever reads the written copy. Changed in place
// where the value fits (the rest of the block byte for byte as it was);
// left alone when it has no orientation or cannot be parsed.
void ResetExifOrientation(std::vector<std::uint8_t>& exif);

// The focal length over the picture diagonal, for a picture of width x
// height pixels (as stored or as turned: the diagonal is the same). From
// FocalLength and the focal plane resolution, scaled when the picture was
// resized from the size the camera recorded; else from
// FocalLengthIn35mmFilm, which cameras round to whole millimetres. Empty
// when the block holds neither or the value is not a plausible lens.
std::optional<double> ExifFocalRatio(const std::vector<std::uint8_t>& exif, int width, int height);

// Writes FocalLength (mm), the focal plane resolution (pixels per mm, the
// same in x and y), the recorded pixel size and, rounded, the 35 mm
// equivalent into the block, creating one when it is empty. For test
// photos made by our renderer.
void SetExifFocalLength(std::vector<std::uint8_t>& exif, double millimetres, double pixelsPerMillimetre, int width,
                        int height);

}  // namespace planora
