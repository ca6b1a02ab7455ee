// Automatic corners on generated photos (random poses, grounds, light,
// blur, noise, a thumb over a corner) and on the bundled sample, against
// the truth they were made from; and photos with nothing to find.
#include "detect/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "apps/imageio/imageio.h"
#include "apps/imageio/photo_bitmap.h"
#include "tools/scene.h"

namespace planora {
namespace {

std::unique_ptr<TBitmap> ToBitmap(const TPhoto& p) { return PhotoBitmap(p); }

// The largest corner error under the best pairing of found and true corners.
double WorstError(const double found[4][2], const double truth[4][2]) {
  double best = HUGE_VAL;
  for (int start = 0; start < 4; ++start)
    for (int dir : {1, -1}) {
      double worst = 0;
      for (int k = 0; k < 4; ++k) {
        const int j = ((start + dir * k) % 4 + 4) % 4;
        worst = std::max(worst, std::hypot(found[j][0] - truth[k][0], found[j][1] - truth[k][1]));
      }
      best = std::min(best, worst);
    }
  return best;
}

TEST(Detect, GeneratedPhotosIncludingAThumbOverACorner) {
  int thumbs = 0;
  for (std::uint32_t seed = 1; seed <= 16; ++seed) {
    SCOPED_TRACE(seed);
    scene::TSceneOptions o;
    o.Seed = seed;
    o.Width = 640;
    o.Height = 480;
    const scene::TScene s = scene::Render(o);
    thumbs += s.Occluded;
    const TDetection d = DetectRectangle(*ToBitmap(s.Photo));
    ASSERT_TRUE(d.Found) << d.Reason;
    double truth[4][2];
    for (int k = 0; k < 4; ++k) truth[k][0] = s.PixelCorners[k][0], truth[k][1] = s.PixelCorners[k][1];
    EXPECT_LT(WorstError(d.Corners, truth), 1.0);
    EXPECT_GT(d.Confidence, 0.3);
  }
  EXPECT_GT(thumbs, 0);  // the hidden corner was really tried
}

TEST(Detect, TheBundledSampleWithinAPixel) {
  const TPhoto photo = ReadPhoto("resources/samples/poster.jpg");
  std::ifstream json("resources/samples/poster.json");
  std::stringstream text;
  text << json.rdbuf();
  const std::string j = text.str();
  // "pixel_corners": {"a": [x, y], "b": ...}
  double truth[4][2];
  std::size_t at = j.find("\"pixel_corners\"");
  ASSERT_NE(at, std::string::npos);
  for (int k = 0; k < 4; ++k) {
    at = j.find('[', at) + 1;
    truth[k][0] = std::stod(j.substr(at));
    at = j.find(',', at) + 1;
    truth[k][1] = std::stod(j.substr(at));
  }
  const TDetection d = DetectRectangle(*ToBitmap(photo));
  ASSERT_TRUE(d.Found) << d.Reason;
  EXPECT_LT(WorstError(d.Corners, truth), 1.0);
}

TEST(Detect, NothingToFindIsSaidSo) {
  // Even noise, a smooth gradient, and a photo too small to search.
  TBitmap noise(400, 300), gradient(400, 300), tiny(8, 8);
  std::mt19937 random(3);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400 * 3; ++x) {
      noise.ScanLine(y)[x] = static_cast<std::uint8_t>(100 + random() % 40);
      gradient.ScanLine(y)[x] = static_cast<std::uint8_t>(x / 6 + y / 4);
    }
  for (const TBitmap* b : {&noise, &gradient, &tiny}) {
    const TDetection d = DetectRectangle(*b);
    EXPECT_FALSE(d.Found);
    EXPECT_FALSE(d.Reason.empty());
  }
}

}  // namespace
}  // namespace planora
