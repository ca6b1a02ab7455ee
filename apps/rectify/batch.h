// planora-rectify: straightens a photographed rectangle from the command
// line, exactly as the rectification window's "Pretty Print and Close" does
// (same surfaces, same camera steps, same resampling, so the same pixels).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/sysutils.h"

namespace planora {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // something unexpected (out of memory, a fault of ours)
inline constexpr int kExitUsage = 2;    // bad usage, unreadable input, unwritable output
inline constexpr int kExitCorners = 3;  // the corners cannot be rectified

struct TBatchOptions {
  std::string Input, Output;
  // Corners a, b, c, d as x, y pairs in world units (pixels from the picture
  // centre, x right, y down), or in photo pixels when PixelCorners is set.
  std::optional<std::vector<double>> Corners;
  bool PixelCorners = false;
  std::string SettingsFile;
  // Find the object and its corners in the photo (instead of the above).
  bool Auto = false;
  std::optional<int> Crop;  // 1..100; default 90 or the settings file's
  bool Nearest = false;
  int Quality = 95;
  bool QualityGiven = false;  // --quality was on the command line
  std::string Report;  // "" none, "-" standard output
  int Threads = 0;     // 0: one per core
  // A known focal length: focal length over the picture diagonal, or the
  // 35 mm film equivalent in millimetres. At most one of them.
  std::optional<double> FocalRatio;
  std::optional<double> Focal35mm;
  // Known proportions of the object, width over height, and how they were
  // written (a name such as "a4", or "W:H"). Either orientation fits: the
  // one the marked object shows is taken (see AspectNamed).
  std::optional<double> Aspect;
  std::string AspectText;
  // A name (a4, letter ...) rather than W:H: no orientation of its own.
  bool AspectNamed = false;
  // "photo": the whole photo redrawn (the window's result); "object": the
  // marked rectangle alone, sized by Size (fitted inside, proportions
  // kept), by LongSide, or at the resolution of its nearest part.
  std::string Frame = "photo";
  std::optional<std::pair<int, int>> Size;
  std::optional<int> LongSide;
  bool Help = false;
  bool Version = false;
  // Told the progress of the resampling, 0..100, from the thread that runs
  // the batch (a window shows it on a bar of its own); may be empty.
  std::function<void(int)> Progress;
};

// "planora-rectify 2.1.0": the tool's name and version.
std::string BatchVersion();

// Bad usage: the message says what is wrong; the tool adds where to look.
class EUsageError : public Exception {
 public:
  explicit EUsageError(const std::string& message) : Exception(message) {}
};

// The corners cannot be rectified: outside the picture, or no camera fits.
class ECornerError : public Exception {
 public:
  explicit ECornerError(const std::string& message) : Exception(message) {}
};

// Parses the arguments after the program name. EUsageError on bad usage.
TBatchOptions ParseBatchArguments(const std::vector<std::string>& args);

std::string BatchUsage();

// "a4", "letter", "16:9", "1.5:1", ... as width over height (the names in
// portrait, the ratios as written). EUsageError for anything else.
double ParseAspect(const std::string& text);

// The four corners put in the marker's order: a the upper of the two
// rightmost corners, then anticlockwise on the screen (b upper left, c lower
// left, d lower right). The corners are first put round their centre in
// order, so that corners given in any order outline the quadrilateral
// rather than a figure crossing itself.
void SortCornersLikeMarker(double corners[4][2]);

// The run: reads, rectifies and writes as the options say; messages and
// the progress bar go to err, a report to "-" goes to out. Returns the exit
// code; never throws.
int RunBatch(const TBatchOptions& options, std::ostream& out, std::ostream& err, bool progressBar);

}  // namespace planora
