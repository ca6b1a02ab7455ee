#include "apps/planora/view/live_preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "apps/rectify/batch.h"
#include "engine/camera.h"
#include "engine/object_frame.h"
#include "engine/rectify.h"
#include "engine/setup.h"

namespace planora {

namespace {

// A preview pass shows nothing of its own while it runs: it is over in a
// few milliseconds, and the view repaints once with its result.
class TQuietUi : public TRectifyUi {
 public:
  explicit TQuietUi(bool nearest) : nearest_(nearest) {}
  void BeginRun() override {}
  void EndRun() override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  bool NearestOnly() override { return nearest_; }
  void CornersUsed(const double[4][2]) override {}
  void PreviewShownChanged(bool) override {}

 private:
  bool nearest_;
};

// The largest size of proportions `aspect` inside maxW x maxH, at least 1 x 1.
void FitInside(double aspect, int maxW, int maxH, int& w, int& h) {
  const double fw = std::min<double>(maxW, maxH * aspect);
  w = std::max(1, static_cast<int>(std::lround(fw)));
  h = std::max(1, static_cast<int>(std::lround(fw / aspect)));
  w = std::min(w, maxW);
  h = std::min(h, maxH);
}

}  // namespace

std::unique_ptr<TPreviewSource> MakePreviewSource(const std::uint8_t* bgr, int width, int height, std::size_t stride,
                                                  int longSide) {
  auto s = std::make_unique<TPreviewSource>();
  s->PhotoWidth = width;
  s->PhotoHeight = height;
  const double f = std::max(1.0, static_cast<double>(std::max(width, height)) / std::max(2, longSide));
  const int sw = std::max(2, static_cast<int>(std::lround(width / f)));
  const int sh = std::max(2, static_cast<int>(std::lround(height / f)));
  s->Picture = std::make_unique<TBitmap>(sw, sh);
  // Column spans once; rows are summed into one line of totals, then divided.
  std::vector<int> x0(sw), x1(sw);
  for (int x = 0; x < sw; ++x) {
    x0[x] = std::min(width - 1, static_cast<int>(std::floor(static_cast<double>(x) * width / sw)));
    x1[x] = std::max(x0[x] + 1, std::min(width, static_cast<int>(std::floor(static_cast<double>(x + 1) * width / sw))));
  }
  std::vector<std::uint32_t> sum(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < sh; ++y) {
    const int y0 = std::min(height - 1, static_cast<int>(std::floor(static_cast<double>(y) * height / sh)));
    const int y1 = std::max(y0 + 1, std::min(height, static_cast<int>(std::floor(static_cast<double>(y + 1) * height / sh))));
    std::fill(sum.begin(), sum.end(), 0u);
    for (int r = y0; r < y1; ++r) {
      const std::uint8_t* row = bgr + static_cast<std::size_t>(r) * stride;
      for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += row[i];
    }
    std::uint8_t* out = s->Picture->ScanLine(y);
    for (int x = 0; x < sw; ++x) {
      const std::uint32_t n = static_cast<std::uint32_t>((x1[x] - x0[x]) * (y1 - y0));
      for (int c = 0; c < 3; ++c) {
        std::uint32_t t = 0;
        for (int k = x0[x]; k < x1[x]; ++k) t += sum[static_cast<std::size_t>(k) * 3 + c];
        out[x * 3 + c] = static_cast<std::uint8_t>((t + n / 2) / n);
      }
    }
  }
  const TBitmap* last = s->Picture.get();
  while (std::max(last->Width(), last->Height()) > 512 && std::min(last->Width(), last->Height()) >= 4) {
    auto half = std::make_unique<TBitmap>(last->Width() / 2, last->Height() / 2);
    for (int y = 0; y < half->Height(); ++y) {
      const std::uint8_t* a = last->ScanLine(2 * y);
      const std::uint8_t* b = last->ScanLine(2 * y + 1);
      std::uint8_t* out = half->ScanLine(y);
      for (int i = 0; i < half->Width() * 3; ++i) {
        const int x = (i / 3) * 6 + i % 3;
        out[i] = static_cast<std::uint8_t>((a[x] + a[x + 3] + b[x] + b[x + 3] + 2) / 4);
      }
    }
    last = half.get();
    s->Halves.push_back(std::move(half));
  }
  s->Surface = std::make_unique<TPlottFlaeche>();
  s->Surface->InitOffscreen(sw, sh);
  DefinePictureWindow(*s->Surface, width, height);
  s->Surface->DrawPictureFullSize(*s->Picture);
  return s;
}

void PhotoPixelToWorld(int width, int height, double px, double py, double& x, double& y) {
  // Window 1 of a surface of the photo's size, computed as DefineWindow
  // does (extended precision, one rounding) without making that surface.
  const long double w = width, h = height;
  const double xScale = static_cast<double>(static_cast<long double>(width - 1) / w);
  const double yScale = static_cast<double>(static_cast<long double>(height - 1) / -h);
  const double xOffset = -width / 2.0, yOffset = height / 2.0;
  x = px / xScale + xOffset;
  y = ((height - 1) - py) / yScale + yOffset;
}

namespace {

// The inverse of PhotoPixelToWorld.
void WorldToPhotoPixel(int width, int height, double x, double y, double& px, double& py) {
  const long double w = width, h = height;
  const double xScale = static_cast<double>(static_cast<long double>(width - 1) / w);
  const double yScale = static_cast<double>(static_cast<long double>(height - 1) / -h);
  px = (x + width / 2.0) * xScale;
  py = (height - 1) - (y - height / 2.0) * yScale;
}

}  // namespace

TPreviewResult RenderPreview(const TPreviewSource& source, const double pixelCorners[4][2],
                             const TPreviewSettings& settings, int maxWidth, int maxHeight) {
  TPreviewResult r;
  const int W = source.PhotoWidth, H = source.PhotoHeight;
  if (maxWidth < 1 || maxHeight < 1) {
    r.Problem = "The preview has no room.";
    return r;
  }
  double corners[4][2];
  for (int k = 0; k < 4; ++k) PhotoPixelToWorld(W, H, pixelCorners[k][0], pixelCorners[k][1], corners[k][0], corners[k][1]);
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (std::hypot(corners[i][0] - corners[j][0], corners[i][1] - corners[j][1]) < 1.0) {
        r.Problem = "Two corners lie on top of each other: move them apart.";
        return r;
      }
    }
  }
  SortCornersLikeMarker(corners);
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (corners[i][0] == corners[j][0] && corners[i][1] == corners[j][1]) {
        r.Problem = "The corners outline a concave shape, which no photo of a rectangle is.";
        return r;
      }
    }
  }

  TFocalKnowledge known;
  known.FocalRatio = settings.KnownFocalRatio;
  known.ExifRatio = settings.ExifFocalRatio;
  known.Aspect = settings.Aspect;
  known.AspectNamed = settings.AspectNamed;
  // The batch tool's set-up, so that the preview shows what Export writes.
  TCameraSolver cam;
  TFocalChoice focal;
  const TCameraSetUp setUp = SetUpCamera(cam, W, H, corners, known, focal);
  if (!setUp.Solved) {
    r.Problem = "The corners do not outline a usable shape (three in a line, or two too close).";
    return r;
  }
  r.FocalSource = focal.Source;
  r.Aspect = focal.AspectUsed;
  r.FocalRatio = cam.FocalRatio;
  r.Plausible = setUp.Plausible || !(r.FocalSource == "corners" || r.FocalSource == "diagonal");
  if (!focal.AspectImposed) {
    r.Problem = "The marked rectangle cannot be given the known proportions.";
    return r;
  }
  if (!setUp.FrameValid) {
    r.Problem = "No camera fits these corners with this focal length.";
    return r;
  }

  try {
    if (settings.ObjectFrame) {
      if (!(r.Aspect > 0) || !std::isfinite(r.Aspect)) {
        r.Problem = "The proportions of the marked rectangle cannot be worked out; give them under Known proportions.";
        return r;
      }
      // Upper left, upper right, lower right, lower left (b, a, d, c), in
      // the reduced copy's pixels.
      const int order[4] = {1, 0, 3, 2};
      double photo[4][2];
      double longest = 0;  // the object's longest side in photo pixels
      for (int k = 0; k < 4; ++k) {
        const int c = order[k];
        WorldToPhotoPixel(W, H, corners[c][0], corners[c][1], photo[k][0], photo[k][1]);
      }
      for (int k = 0; k < 4; ++k) {
        longest = std::max(longest, std::hypot(photo[k][0] - photo[(k + 1) % 4][0], photo[k][1] - photo[(k + 1) % 4][1]));
      }
      int w = 0, h = 0;
      FitInside(r.Aspect, maxWidth, maxHeight, w, h);
      // The largest copy on which the object has no more pixels than the
      // preview: one bilinear sample per preview pixel then, where a larger
      // copy would cost a dozen averaged ones for a difference no one sees
      // at this size.
      const TBitmap* pic = source.Picture.get();
      for (const auto& half : source.Halves) {
        if (longest * pic->Width() / W <= std::max(w, h)) break;
        pic = half.get();
      }
      const double fx = static_cast<double>(pic->Width()) / W, fy = static_cast<double>(pic->Height()) / H;
      double px[4][2];
      for (int k = 0; k < 4; ++k) {
        px[k][0] = (photo[k][0] + 0.5) * fx - 0.5;
        px[k][1] = (photo[k][1] + 0.5) * fy - 0.5;
      }
      r.Image = std::make_unique<TBitmap>(w, h);
      // Every pixel maps its footprint through a division: the object's
      // pass is worth the other cores, unlike the whole photo's.
      RectifyObject(*pic, px, *r.Image, settings.Nearest, 0);
    } else {
      int w = 0, h = 0;
      FitInside(static_cast<double>(W) / H, maxWidth, maxHeight, w, h);
      TPlottFlaeche target;
      target.InitOffscreen(std::max(w, 2), std::max(h, 2));
      DefinePictureWindow(target, W, H);
      TQuietUi ui(settings.Nearest);
      // One thread: waking a second costs more than a pane's pixels take.
      TRectifyJob job{&cam, source.Surface.get(), &target, false, settings.Crop, W, H, nullptr, false, 1};
      Rectify(job, ui);
      r.Image = std::move(target.Bitmap);
    }
  } catch (const Exception& e) {
    r.Problem = e.Message();
    r.Image.reset();
    return r;
  }
  r.Ok = true;
  return r;
}

std::string ProportionsText(double aspect) {
  if (!(aspect > 0) || !std::isfinite(aspect)) return "—";
  const double longer = aspect >= 1 ? aspect : 1 / aspect;
  char text[64];
  if (aspect >= 1) {
    std::snprintf(text, sizeof text, "%.3f : 1", longer);
  } else {
    std::snprintf(text, sizeof text, "1 : %.3f", longer);
  }
  struct TKnown {
    double Ratio;  // longer over shorter
    const char* Name;
  };
  static const TKnown known[] = {{1.0, "square"},          {std::sqrt(2.0), "A4"},    {11.0 / 8.5, "Letter"},
                                 {14.0 / 8.5, "Legal"},    {4.0 / 3.0, "4:3"},      {3.0 / 2.0, "3:2"},
                                 {16.0 / 9.0, "16:9"},     {5.0 / 4.0, "5:4"}};
  for (const TKnown& k : known) {
    if (std::abs(longer / k.Ratio - 1.0) <= 0.01) return std::string(text) + " \u2248 " + k.Name;
  }
  return text;
}

}  // namespace planora
