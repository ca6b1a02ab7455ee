// The live preview of the straightening view, without Qt: a reduced copy of
// the photo made once when it is opened, and the straightened picture at
// the preview's screen size drawn from it for any corners, quickly enough
// to follow the pointer while a corner is dragged.
//
// The camera steps are the batch tool's (solve, estimate the focal length,
// then the known focal length, the photo's EXIF or the known proportions
// where the corners cannot tell it), so the focal ratio and proportions the
// view shows are those the export uses. The pixels come from the reduced
// copy, on the row-wise resampler, so they are a preview: the export draws
// from the full photo through the batch tool's own code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "plot/glib2.h"

namespace planora {

// The photo reduced for previews, drawn on a surface whose window 1 spans
// the full photo's world units (pixels from its centre, y down), as the
// plug-in's own preview pane does.
struct TPreviewSource {
  int PhotoWidth = 0, PhotoHeight = 0;
  std::unique_ptr<TBitmap> Picture;       // the reduced copy
  // It halved, again and again, down to 512 pixels or less: the object-only
  // preview samples the copy nearest its own scale, so that each preview
  // pixel costs a sample or two rather than a dozen.
  std::vector<std::unique_ptr<TBitmap>> Halves;
  std::unique_ptr<TPlottFlaeche> Surface;  // the same pixels, window 1 in full-photo units
};

// Averages the photo (packed BGR rows, `stride` bytes apart) down so that
// its longer side is at most `longSide` pixels; a smaller photo is copied
// as it is. Each reduced pixel is the mean of the photo pixels it covers,
// so fine texture does not alias into false patterns.
std::unique_ptr<TPreviewSource> MakePreviewSource(const std::uint8_t* bgr, int width, int height, std::size_t stride,
                                                  int longSide = 2048);

struct TPreviewSettings {
  bool ObjectFrame = false;  // the marked rectangle alone instead of the whole photo
  int Crop = 90;             // whole photo: share of the output the rectangle fills
  bool Nearest = false;
  std::optional<double> KnownFocalRatio;  // given by the user: always used
  std::optional<double> ExifFocalRatio;   // the photo's: used where the corners are loose
  std::optional<double> Aspect;           // known proportions, width over height
  bool AspectNamed = false;               // a sheet's name: either orientation
};

struct TPreviewResult {
  bool Ok = false;
  std::string Problem;  // why there is no picture, in words for the user
  std::unique_ptr<TBitmap> Image;
  double FocalRatio = 0;
  std::string FocalSource;  // "corners", "exif", "given", "proportions", "diagonal"
  // The corners look like a photographed rectangle; false only where the
  // corners alone decided the focal length (a known one needs no right angle).
  bool Plausible = true;
  double Aspect = 0;  // width over height of the straightened rectangle
};

// The photo pixel (column, row; pixel centres at whole numbers) in world
// units of a photo of width x height, as the batch tool's surfaces convert.
void PhotoPixelToWorld(int width, int height, double px, double py, double& x, double& y);

// The straightened picture fitted inside maxWidth x maxHeight for corners
// in photo pixels (any order). Never throws for bad corners: the result
// then says why in Problem.
TPreviewResult RenderPreview(const TPreviewSource& source, const double pixelCorners[4][2],
                             const TPreviewSettings& settings, int maxWidth, int maxHeight);

// "1.414 : 1 ≈ A4", "1 : 1.333 ≈ 3:4", "1.234 : 1": the proportions as the
// longer side over the shorter, in the object's orientation, with the
// common sheet or screen they match within a per cent.
std::string ProportionsText(double aspect);

}  // namespace planora
