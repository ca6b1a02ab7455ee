// Off-screen surfaces that are written in full next: made without the white
// fill, or over a picture that already holds their pixels, they end exactly
// as the filled surface with the picture drawn on it, in pixels and in state.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {
namespace {

std::unique_ptr<TBitmap> Picture(int w, int h) {
  auto p = std::make_unique<TBitmap>(w, h);
  std::mt19937 rng(static_cast<std::uint32_t>(w * 31 + h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p->SetPixel(x, y, static_cast<TColor>(rng() & 0xFFFFFF));
  return p;
}

void ExpectSameSurface(const TPlottFlaeche& a, const TPlottFlaeche& b) {
  EXPECT_TRUE(*a.Bitmap == *b.Bitmap);
  EXPECT_EQ(a.MaxX, b.MaxX);
  EXPECT_EQ(a.MaxY, b.MaxY);
  EXPECT_EQ(a.ScanMaxX, b.ScanMaxX);
  EXPECT_EQ(a.ScanMaxY, b.ScanMaxY);
  EXPECT_EQ(a.MarkerState, b.MarkerState);
  EXPECT_EQ(a.DirtyRight, b.DirtyRight);
  EXPECT_EQ(a.Options, b.Options);
  for (int n = 1; n <= 20; ++n) {
    EXPECT_EQ(a.Windows[n].XScale, b.Windows[n].XScale) << n;
    EXPECT_EQ(a.Windows[n].YOffset, b.Windows[n].YOffset) << n;
    EXPECT_EQ(a.Windows[n].Kind, b.Windows[n].Kind) << n;
  }
  // Later drawing starts from the same pen and brush.
  const TCanvas& ca = a.Bitmap->Canvas();
  const TCanvas& cb = b.Bitmap->Canvas();
  EXPECT_EQ(ca.Brush.Color, cb.Brush.Color);
  EXPECT_EQ(ca.Brush.Style, cb.Brush.Style);
  EXPECT_EQ(ca.Pen.Color, cb.Pen.Color);
  EXPECT_EQ(ca.Pen.Width, cb.Pen.Width);
  EXPECT_EQ(ca.Pen.Style, cb.Pen.Style);
}

TEST(OffscreenOverwrite, SurfacesWrittenInFullEndAsTheFilledOnes) {
  // A small one, and one whose bitmap has pages of its own.
  for (const auto& [w, h] : {std::pair{5, 4}, std::pair{900, 700}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    auto picture = Picture(w, h);
    TPlottFlaeche filled;
    filled.InitOffscreen(w, h);
    filled.DrawPictureFullSize(*picture);

    TPlottFlaeche unfilled;
    unfilled.InitOffscreen(3, 3);  // an earlier binding is replaced
    unfilled.InitOffscreenToOverwrite(w, h);
    unfilled.DrawPictureFullSize(*picture);
    ExpectSameSurface(unfilled, filled);

    TPlottFlaeche adopting;
    TBitmap* given = picture.get();
    adopting.InitOffscreen(std::move(picture));
    EXPECT_EQ(adopting.Bitmap.get(), given);  // the picture itself, not a copy
    ExpectSameSurface(adopting, filled);
  }
}

TEST(OffscreenOverwrite, ASurfaceOverNoPictureIsRefused) {
  TPlottFlaeche s;
  EXPECT_THROW(s.InitOffscreen(std::unique_ptr<TBitmap>()), EZeroDivide);
  EXPECT_THROW(s.InitOffscreen(std::make_unique<TBitmap>()), EZeroDivide);
  EXPECT_THROW(s.InitOffscreen(std::make_unique<TBitmap>(0, 5)), EZeroDivide);
}

}  // namespace
}  // namespace planora
