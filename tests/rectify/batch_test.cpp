// planora-rectify's run, through RunBatch as the program calls it: the
// worked examples, agreement with the window's own surface path, the ways of
// giving corners, and every kind of bad input with its message and exit code.
#include "apps/rectify/batch.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
#include "apps/imageio/metadata.h"
#include "apps/imageio/photo_bitmap.h"
#include "engine/camera.h"
#include "engine/rectify.h"
#include "engine/fingerprint.h"
#include "engine/settings.h"
#include "platform/inifiles.h"
#include "plot/glib2.h"
#include "tests/support/picture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_ui.h"
#include "tools/scene.h"

namespace planora {
namespace {

namespace fs = std::filesystem;

// The worked example: a 10 : 7 rectangle photographed with focal length 3500 on 4000 x 3000.
const std::vector<double> kTurned = {1032.7, -530.3, -667.6, -609.0, -614.9, 470.4, 933.5, 775.1};

class BatchTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetDecimalSeparator(); }
  std::string Path(const std::string& name) const { return dir_.Path(name); }

  // A photo of smooth gradients and a grid, so that a shifted sample shows.
  std::string Photo(const std::string& name, int w, int h) {
    TPhoto p;
    p.Width = w;
    p.Height = h;
    p.Pixels.resize(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* q = &p.Pixels[(static_cast<std::size_t>(y) * w + x) * 3];
        q[0] = static_cast<std::uint8_t>(x * 7 + y);
        q[1] = static_cast<std::uint8_t>(y * 5);
        q[2] = (x % 16 == 0 || y % 16 == 0) ? 20 : 230;
      }
    WritePhoto(Path(name), p);
    return Path(name);
  }

  int Run(TBatchOptions o) {
    out_.str("");
    err_.str("");
    return RunBatch(o, out_, err_, false);
  }
  // Automatic corners, the object alone `longSide` pixels long, the report
  // on standard output.
  static TBatchOptions AutoObject(const std::string& in, const std::string& out, int longSide) {
    TBatchOptions o;
    o.Input = in;
    o.Output = out;
    o.Auto = true;
    o.Frame = "object";
    o.LongSide = longSide;
    o.Report = "-";
    return o;
  }
  TBatchOptions Options(const std::string& in, const std::string& out, const std::vector<double>& corners) {
    TBatchOptions o;
    o.Input = in;
    o.Output = out;
    o.Corners = corners;
    return o;
  }
  std::string Field(const std::string& key) const {
    const std::string json = out_.str();
    const std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return "";
    const std::size_t from = at + key.size() + 4;
    if (json[from] == '"') return json.substr(from, json.find('"', from + 1) + 1 - from);
    return json.substr(from, json.find_first_of(",\n", from) - from);
  }
  std::vector<std::string> Files() const {
    const std::set<std::string> names = dir_.Entries();
    return {names.begin(), names.end()};
  }

  test::TTempDir dir_{"planora-batch"};
  std::ostringstream out_, err_;
};

TEST_F(BatchTest, WorkedExamplesThroughTheReport) {
  const std::string in = Photo("big.ppm", 4000, 3000);
  TBatchOptions o = Options(in, Path("out.bmp"), kTurned);
  o.Report = "-";
  SetDecimalSeparator(',');
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_ratio_text"), "\"0,700\"");
  EXPECT_EQ(Field("plausible"), "true");
  EXPECT_NEAR(std::stod(Field("aspect_ratio")), 1.4285, 5e-5);
  EXPECT_EQ(Field("width"), "4000");
  EXPECT_EQ(Field("crop"), "90");
  EXPECT_EQ(err_.str(), "");

  // The marker rectangle: focal ratio 1 and the axis-parallel frame, 90 % of the output.
  o.Corners = std::vector<double>{1600, -1200, -1600, -1200, -1600, 1200, 1600, 1200};
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_ratio_text"), "\"1,000\"");
  EXPECT_EQ(Field("output_scale"), "1.125");
  EXPECT_NE(out_.str().find("\"axis_u\": [1, 0, 0]"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("\"a\": [1800, -1350]"), std::string::npos) << out_.str();

  // Turned about the horizontal axis only: a warning, focal ratio 1, and the run still succeeds.
  o.Corners = std::vector<double>{917, -620, -917, -620, -837, 566, 837, 566};
  ASSERT_EQ(Run(o), kExitOk);
  EXPECT_EQ(Field("plausible"), "false");
  EXPECT_EQ(Field("focal_ratio"), "1");
  EXPECT_NE(err_.str().find("warning: the corners do not look like a photographed rectangle"), std::string::npos);

  // The mirror order is sorted into the marker's order: never a mirrored result.
  o.Corners = std::vector<double>{-1600, -1200, 1600, -1200, 1600, 1200, -1600, 1200};
  ASSERT_EQ(Run(o), kExitOk);
  EXPECT_NE(out_.str().find("\"axis_u\": [1, 0, 0]"), std::string::npos) << out_.str();
}

TEST_F(BatchTest, TheWholePictureAtFullCropComesBackUnchanged) {
  // Every column and row of the photo reaches the full-size surface: none is
  // dropped in the middle, and the last ones are not left black.
  for (const auto& [w, h] : {std::pair{7, 5}, std::pair{64, 48}, std::pair{301, 203}}) {
    const std::string in = Photo("whole.ppm", w, h);
    const double x = w / 2.0, y = h / 2.0;
    TBatchOptions o = Options(in, Path("back.ppm"), {x, -y, -x, -y, -x, y, x, y});
    o.Crop = 100;
    o.Nearest = true;
    ASSERT_EQ(Run(o), kExitOk) << err_.str();
    EXPECT_TRUE(ReadPhoto(Path("back.ppm")).Pixels == ReadPhoto(in).Pixels) << w << " x " << h;
    fs::remove(Path("back.ppm"));
  }
}

TEST_F(BatchTest, ACornerBehindTheCameraIsNotPlausible) {
  // Three corners of the marker rectangle and a fourth near the centre: the
  // parallelogram rule puts corner a behind the camera.
  const std::string in = Photo("in.ppm", 400, 300);
  TBatchOptions o = Options(in, Path("out.ppm"), {160, -120, -160, -120, -160, 120, -1, -1});
  o.Report = "-";
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("plausible"), "false");
  EXPECT_EQ(err_.str().rfind("planora-rectify: warning: the corners do not look like a photographed rectangle", 0),
            0u)
      << err_.str();
}

TEST_F(BatchTest, CornersAreCheckedAsGivenAndEachFaultIsNamed) {
  const std::string in = Photo("in.ppm", 400, 300);
  const auto fails = [&](const std::vector<double>& c) {
    EXPECT_EQ(Run(Options(in, Path("out.ppm"), c)), kExitCorners);
    return err_.str();
  };
  // The fourth corner given is the one outside, whatever place sorting would give it.
  EXPECT_NE(fails({-150, -100, 150, -100, 150, 100, -150, 200}).find("corner d (-150, 200) lies outside"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(fails({100, -100, -100, -100, -100.5, -100, 100, 100}).find("corners b (-100, -100) and c (-100.5, -100)"),
            std::string::npos)
      << err_.str();
  // Four distinct corners whose two rightmost are opposite: a concave outline, named as such.
  const std::string concave = fails({128, 93, 126, -40, -32, 33, 139, -140});
  EXPECT_NE(concave.find("concave quadrilateral"), std::string::npos) << concave;
  EXPECT_EQ(concave.find("in a line"), std::string::npos) << concave;
  EXPECT_FALSE(fs::exists(Path("out.ppm")));
}

TEST_F(BatchTest, VersionQualityNoteAndUnreadableSettings) {
  TBatchOptions v = ParseBatchArguments({"--version"});
  EXPECT_TRUE(v.Version);
  EXPECT_EQ(BatchVersion().rfind("planora-rectify ", 0), 0u);
  EXPECT_THROW(ParseBatchArguments({"--version=1"}), EUsageError);

  const std::string in = Photo("in.ppm", 120, 90);
  TBatchOptions o = ParseBatchArguments({"--quality", "50", "--corners", "50,-35,-45,-30,-40,38,48,30", in, Path("q.png")});
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_NE(err_.str().find("planora-rectify: note: --quality applies to JPEG output only"), std::string::npos)
      << err_.str();
  o.Output = Path("q.JPG");
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(err_.str(), "");

  // A settings file of this picture with a corner that is not a number: the key is named.
  const TPhoto photo = ReadPhoto(in);
  const std::unique_ptr<TBitmap> picture = PhotoBitmap(photo);
  {
    TIniFile ini(Path("p.ini"));
    ini.WriteInteger("Planroa", "Inhash", Fingerprint(*picture));
    const auto& keys = SettingsCornerKeys;
    for (int k = 0; k < 8; ++k) ini.WriteString("Planroa", keys[k], k == 3 ? "-3o" : "10");
  }
  TBatchOptions s;
  s.Input = in;
  s.Output = Path("s.ppm");
  s.SettingsFile = Path("p.ini");
  EXPECT_EQ(Run(s), kExitUsage);
  EXPECT_NE(err_.str().find("\"Selection_b1\": \"-3o\""), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("s.ppm")));
}

TEST_F(BatchTest, SamePixelsAsTheWindowsSurfacePathWhateverTheCornerOrder) {
  const int w = 301, h = 203;
  const std::string in = Photo("in.png", w, h);
  const std::vector<double> c = {120.5, -80.25, -130, -70, -110.75, 90, 140, 60.5};
  TBatchOptions o = Options(in, Path("out.ppm"), c);
  o.Crop = 70;
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  const TPhoto got = ReadPhoto(Path("out.ppm"));

  // The window's way: the picture copied onto the full-size surfaces, the per-pixel pass.
  const TPhoto photo = ReadPhoto(in);
  const std::unique_ptr<TBitmap> picture = PhotoBitmap(photo);
  TPlottFlaeche source, result;
  for (TPlottFlaeche* s : {&source, &result}) {
    test::InitPictureSurface(*s, w, h);
    s->DrawPictureFullSize(*picture);
  }
  TCameraSolver cam;
  const double q[8] = {c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]};
  ASSERT_TRUE(test::SetUpCorners(cam, q, w, h).Ready());
  test::TTestUi ui;
  ui.nearest = [](int) { return false; };
  Rectify({&cam, &source, &result, false, 70, w, h, nullptr, true, 1}, ui);
  TPhoto window;
  SetPhotoPixels(window, *result.Bitmap);
  const std::vector<std::uint8_t>& want = window.Pixels;
  EXPECT_TRUE(got.Pixels == want);

  // Corners in any order, or as pixel positions, give the same picture.
  o.Corners = std::vector<double>{c[4], c[5], c[0], c[1], c[6], c[7], c[2], c[3]};
  o.Output = Path("shuffled.ppm");
  ASSERT_EQ(Run(o), kExitOk);
  EXPECT_TRUE(ReadPhoto(Path("shuffled.ppm")).Pixels == want);
  std::vector<double> px(8);
  for (int k = 0; k < 4; ++k) {
    px[2 * k] = (c[2 * k] + w / 2.0) * (w - 1) / w;
    px[2 * k + 1] = (c[2 * k + 1] + h / 2.0) * (h - 1) / h;
  }
  o.Corners = px;
  o.PixelCorners = true;
  o.Output = Path("pixels.ppm");
  o.Report = "-";
  ASSERT_EQ(Run(o), kExitOk);
  const TPhoto viaPixels = ReadPhoto(Path("pixels.ppm"));
  std::size_t differ = 0;
  for (std::size_t i = 0; i < want.size(); ++i) differ += viaPixels.Pixels[i] != want[i];
  EXPECT_LT(differ, want.size() / 100);  // the same corners up to the last bits of the conversion
}

TEST_F(BatchTest, SettingsFileGivesTheMarkerOfItsOwnPicture) {
  const std::string in = Photo("in.ppm", 120, 90);
  const TPhoto photo = ReadPhoto(in);
  const std::unique_ptr<TBitmap> picture = PhotoBitmap(photo);
  const std::vector<double> c = {50, -35, -45, -30, -40, 38, 48, 30};
  {
    TIniFile ini(Path("p.ini"));
    ini.WriteInteger("Planroa", "Inhash", Fingerprint(*picture));
    const auto& keys = SettingsCornerKeys;
    for (int k = 0; k < 8; ++k) ini.WriteFloat("Planroa", keys[k], c[k]);
    ini.WriteInteger("Planroa", "Original_Groesse", 250);  // held to 100
    ini.UpdateFile();
  }
  TBatchOptions o;
  o.Input = in;
  o.Output = Path("a.ppm");
  o.SettingsFile = Path("p.ini");
  o.Report = "-";
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("crop"), "100");
  EXPECT_NE(out_.str().find("\"b\": [-45, -30]"), std::string::npos) << out_.str();
  TBatchOptions direct = Options(in, Path("b.ppm"), c);
  direct.Crop = 100;
  ASSERT_EQ(Run(direct), kExitOk);
  EXPECT_TRUE(ReadPhoto(Path("a.ppm")).Pixels == ReadPhoto(Path("b.ppm")).Pixels);

  // Another picture: its marker is not used; without corners of its own the run stops.
  const std::string other = Photo("other.ppm", 121, 90);
  o.Input = other;
  EXPECT_EQ(Run(o), kExitUsage);
  EXPECT_NE(err_.str().find("holds the marker of another picture"), std::string::npos) << err_.str();
  o.Corners = c;
  o.Crop = 80;
  EXPECT_EQ(Run(o), kExitOk);
  EXPECT_EQ(Field("crop"), "80");
}

TEST_F(BatchTest, BadInputGivesItsMessageAndLeavesNothingBehind) {
  const std::string in = Photo("in.jpg", 64, 48);
  const std::string old = Path("old.jpg");
  { std::ofstream(old) << "keep me"; }
  const std::vector<double> good = {20, -15, -20, -15, -20, 15, 20, 15};
  std::ofstream(Path("bad.jpg"), std::ios::binary) << "\xFF\xD8\xFF\xE0 this is not a JPEG";
  std::ofstream(Path("huge.ppm"), std::ios::binary) << "P6\n100000 100000\n255\n";  // 10 gigapixels claimed
  fs::create_directory(Path("folder.jpg"));
  const std::vector<std::string> before = Files();

  struct Case {
    std::string name;
    TBatchOptions options;
    int code;
    std::string message;
  };
  std::vector<Case> cases = {
      {"missing file", Options(Path("none.jpg"), Path("o.jpg"), good), kExitUsage, "does not exist"},
      {"corrupt JPEG", Options(Path("bad.jpg"), Path("o.jpg"), good), kExitUsage, "bad.jpg"},
      {"absurd size", Options(Path("huge.ppm"), Path("o.jpg"), good), kExitUsage, "more than this program handles"},
      {"corner outside", Options(in, Path("o.jpg"), {20, -15, -20, -15, -20, 15, 40, 15}), kExitCorners,
       "corner d (40, 15) lies outside the picture"},
      {"corners in a line", Options(in, Path("o.jpg"), {20, 0, 0, 0, -20, 0, 10, 10}), kExitCorners,
       "do not outline a usable quadrilateral"},
      {"missing folder", Options(in, Path("no/such/o.jpg"), good), kExitUsage, "does not exist"},
      {"unknown format", Options(in, Path("o.gif"), good), kExitUsage, "unknown output format"},
      {"output is a folder", Options(in, Path("folder.jpg"), good), kExitUsage, "it is a folder"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.options), c.code) << c.name << ": " << err_.str();
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.name << ": " << err_.str();
    EXPECT_EQ(err_.str().rfind("planora-rectify: ", 0), 0u) << c.name;
  }
  EXPECT_EQ(Files(), before);
  std::ifstream kept(old);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");

  // A folder that refuses new files: the old output stays as it was.
  fs::create_directory(Path("ro"));
  { std::ofstream(Path("ro/out.jpg")) << "old result"; }
  fs::permissions(Path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(Path("ro").c_str(), W_OK) != 0) {  // root may write anyway
    EXPECT_EQ(Run(Options(in, Path("ro/out.jpg"), good)), kExitUsage);
    EXPECT_NE(err_.str().find("cannot create a file"), std::string::npos) << err_.str();
  }
  fs::permissions(Path("ro"), fs::perms::owner_all);
  std::ifstream again(Path("ro/out.jpg"));
  std::getline(again, text);
  EXPECT_EQ(text, "old result");
}

// Corners (world units) of a w x h rectangle tilted by `pitch` about the
// horizontal axis and `yaw` about the vertical one, centred `distance` in
// front of a camera of focal length f pixels.
std::vector<double> Photographed(double w, double h, double pitch, double yaw, double distance, double f) {
  const double local[4][2] = {{w / 2, -h / 2}, {-w / 2, -h / 2}, {-w / 2, h / 2}, {w / 2, h / 2}};
  std::vector<double> c;
  for (const auto& p : local) {
    const double x1 = p[0] * std::cos(yaw), z1 = -p[0] * std::sin(yaw);
    const double y2 = p[1] * std::cos(pitch) - z1 * std::sin(pitch);
    const double z2 = p[1] * std::sin(pitch) + z1 * std::cos(pitch) + distance;
    c.push_back(f * x1 / z2);
    c.push_back(f * y2 / z2);
  }
  return c;
}

TEST_F(BatchTest, KnownFocalLengthAndProportionsAndWhichOneDecides) {
  const std::string in = Photo("p.ppm", 1200, 900);
  const double diagonal = 1500, f = 1260;  // focal ratio 0.84
  // An A4 sheet in portrait, tilted about the horizontal axis only: the
  // corners cannot tell the focal length.
  const std::vector<double> level = Photographed(210, 297, 0.6, 0, 520, f);
  TBatchOptions o = Options(in, Path("out.bmp"), level);
  o.Report = "-";
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"diagonal\"");
  EXPECT_EQ(Field("focal_ratio_estimate"), "null");
  EXPECT_EQ(Field("focal_ratio_uncertainty"), "null");
  const double fallbackAspect = std::stod(Field("aspect_measured"));
  EXPECT_GT(std::abs(fallbackAspect / (210.0 / 297) - 1), 0.03);

  o.FocalRatio = f / diagonal;
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"given\"");
  EXPECT_NEAR(std::stod(Field("aspect_measured")), 210.0 / 297, 1e-9);
  EXPECT_EQ(err_.str(), "");  // no warning: the right angle at b is not needed
  o.FocalRatio.reset();
  o.Focal35mm = 0.84 * 43.26661530556787;
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_NEAR(std::stod(Field("focal_ratio")), 0.84, 1e-9);

  // The photo's own EXIF focal length where the corners cannot tell it; a
  // given one still wins.
  {
    TPhoto tagged = ReadPhoto(in);
    SetExifFocalLength(tagged.Exif, 12.6, 100, 1200, 900);
    WritePhoto(Path("tagged.png"), tagged);
  }
  o.Input = Path("tagged.png");
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"given\"");
  o.Focal35mm.reset();
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"exif\"");
  EXPECT_NEAR(std::stod(Field("focal_ratio_exif")), 0.84, 1e-6);
  EXPECT_NEAR(std::stod(Field("aspect_measured")), 210.0 / 297, 1e-6);
  o.Input = in;

  // The proportions alone: the focal length solved from them.
  o.Aspect = ParseAspect("a4");
  o.AspectNamed = true;
  o.AspectText = "a4";
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"proportions\"");
  EXPECT_NEAR(std::stod(Field("focal_ratio")), 0.84, 1e-6);
  EXPECT_NEAR(std::stod(Field("aspect_used")), 210.0 / 297, 1e-12);

  // Turned about both axes the corners decide, and the given proportions,
  // named in the other orientation, are still imposed exactly.
  o.Corners = Photographed(210, 297, 0.5, 0.55, 520, f);
  o.Aspect = ParseAspect("297:210");
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("focal_source"), "\"corners\"");
  EXPECT_NEAR(std::stod(Field("focal_ratio_estimate")), 0.84, 1e-6);
  const double uncertainty = std::stod(Field("focal_ratio_uncertainty"));
  EXPECT_GT(uncertainty, 0);
  EXPECT_LT(uncertainty, 0.03 * 0.84);
  EXPECT_NEAR(std::stod(Field("aspect_used")), 210.0 / 297, 1e-12);
  EXPECT_NEAR(std::stod(Field("aspect_ratio")), 210.0 / 297, 1e-9);
  // The output's corners have the proportions too.
  const std::string a = out_.str().substr(out_.str().find("\"output_corners\""));
  double c[4][2];
  ASSERT_EQ(std::sscanf(a.c_str(), "\"output_corners\": {\"a\": [%lf, %lf], \"b\": [%lf, %lf], \"c\": [%lf, %lf], \"d\": [%lf, %lf]",
                        &c[0][0], &c[0][1], &c[1][0], &c[1][1], &c[2][0], &c[2][1], &c[3][0], &c[3][1]),
            8);
  EXPECT_NEAR((c[0][0] - c[1][0]) / (c[2][1] - c[1][1]), 210.0 / 297, 1e-6);
}

TEST_F(BatchTest, ObjectFrameHasTheProportionsAndTheSizeAskedFor) {
  const std::string in = Photo("p.png", 1200, 900);
  const double f = 1260;
  TBatchOptions o = Options(in, Path("sheet.png"), Photographed(210, 297, 0.6, 0, 520, f));
  o.Report = "-";
  o.Frame = "object";
  o.Aspect = ParseAspect("a4");
  o.AspectNamed = true;
  o.AspectText = "a4";
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("frame"), "\"object\"");
  TPhoto sheet = ReadPhoto(Path("sheet.png"));
  EXPECT_EQ(std::to_string(sheet.Width), Field("output_width"));
  // Proportions within a pixel, at the resolution of the sheet's near edge:
  // its top (tilted towards the camera) is as wide in the output as in the photo.
  EXPECT_LE(std::abs(sheet.Height - sheet.Width * 297.0 / 210), 1.0);
  const std::vector<double>& c = *o.Corners;
  ASSERT_GT(c[0] - c[2], c[6] - c[4]);
  EXPECT_NEAR(sheet.Width, c[0] - c[2], 2);

  o.LongSide = 500;
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  sheet = ReadPhoto(Path("sheet.png"));
  EXPECT_EQ(sheet.Height, 500);
  EXPECT_EQ(sheet.Width, 354);  // 500 * 210 / 297 = 353.5: to even
  o.LongSide.reset();
  o.Size = std::make_pair(300, 300);
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  sheet = ReadPhoto(Path("sheet.png"));
  EXPECT_EQ(sheet.Height, 300);
  EXPECT_EQ(sheet.Width, 212);
  o.Size = std::make_pair(100000, 100000);
  EXPECT_EQ(Run(o), kExitCorners);
  EXPECT_NE(err_.str().find("give a smaller one with --size or --long-side"), std::string::npos) << err_.str();

  // --frame photo is the default, and the photo frame ignores nothing new.
  TBatchOptions p = Options(in, Path("a.png"), Photographed(210, 297, 0.5, 0.55, 520, f));
  ASSERT_EQ(Run(p), kExitOk) << err_.str();
  p.Frame = "photo";
  p.Output = Path("b.png");
  ASSERT_EQ(Run(p), kExitOk) << err_.str();
  std::ifstream a(Path("a.png"), std::ios::binary), b(Path("b.png"), std::ios::binary);
  EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));
}

TEST_F(BatchTest, AutomaticCornersOrExitThreeWhenThereIsNoObject) {
  TBatchOptions o = AutoObject("resources/samples/poster.jpg", Path("poster.png"), 200);
  ASSERT_EQ(Run(o), kExitOk) << err_.str();
  EXPECT_EQ(Field("corners_source"), "\"auto\"");
  EXPECT_GT(std::stod(Field("confidence")), 0.5);
  EXPECT_EQ(Field("focal_source"), "\"corners\"");
  EXPECT_NEAR(std::stod(Field("focal_ratio")), 0.9, 0.005);  // the truth the sample was rendered with
  EXPECT_NEAR(std::stod(Field("aspect_measured")), 10.0 / 7, 0.01);

  o.Input = Photo("flat.png", 300, 200);
  o.Output = Path("flat-out.png");
  EXPECT_EQ(Run(o), kExitCorners);
  EXPECT_NE(err_.str().find("--auto found no object to straighten"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(o.Output));
}

TEST_F(BatchTest, GeneratedPhotosTiltedAboutOneAxis) {
  // Automatic corners and the EXIF focal length: the true proportions; the
  // true corners and the true proportions: the true focal length.
  for (std::uint32_t seed = 1100; seed < 1104; ++seed) {
    SCOPED_TRACE(seed);
    scene::TSceneOptions so;
    so.Seed = seed;
    so.OneAxis = true;
    so.Occlusion = false;  // the benchmark's photos: 960 x 720
    scene::TScene s = scene::Render(so);
    WritePhoto(Path("tilted.jpg"), s.Photo);
    TBatchOptions o = AutoObject(Path("tilted.jpg"), Path("out.png"), 100);
    ASSERT_EQ(Run(o), kExitOk) << err_.str();
    EXPECT_EQ(Field("focal_source"), "\"exif\"");
    EXPECT_NEAR(std::stod(Field("aspect_measured")) / s.AspectRatio, 1.0, 0.003);

    s.Photo.Exif.clear();
    WritePhoto(Path("bare.png"), s.Photo);
    o.Input = Path("bare.png");
    o.Auto = false;
    o.Corners = std::vector<double>{};
    for (const auto& c : s.PixelCorners) o.Corners->insert(o.Corners->end(), {c[0], c[1]});
    o.PixelCorners = true;
    o.Aspect = s.AspectRatio;
    o.AspectText = "W:H";
    ASSERT_EQ(Run(o), kExitOk) << err_.str();
    EXPECT_EQ(Field("focal_source"), "\"proportions\"");
    EXPECT_NEAR(std::stod(Field("focal_ratio")) / s.FocalRatio, 1.0, 0.01);
    const TPhoto out = ReadPhoto(o.Output);
    EXPECT_LE(std::abs(out.Width - out.Height * s.AspectRatio), 1.0);
  }
}

TEST_F(BatchTest, ARunNeverWritesOverItsOwnFilesAndChecksTheOutputFirst) {
  const std::string in = Photo("in.ppm", 64, 48);
  const std::vector<double> good = {20, -15, -20, -15, -20, 15, 20, 15};
  ASSERT_EQ(::symlink("in.ppm", Path("alias.ppm").c_str()), 0);
  std::ifstream original(in, std::ios::binary);
  const std::string photoBytes((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());

  struct Case {
    std::string name, input, output, report, message;
  };
  const std::vector<Case> cases = {
      {"input as output", in, in, "", "the input \"" + in + "\" and the output"},
      {"output through a link to the input", in, Path("alias.ppm"), "", "are the same file"},
      {"input written by another name", in, Path("sub/../in.ppm"), "", "are the same file"},
      {"report over the output", in, Path("o.png"), Path("o.png"), "the output \"" + Path("o.png") + "\" and the report"},
      {"report over the input", in, Path("o.png"), Path("./in.ppm"), "the input \"" + in + "\" and the report"},
      // Refused before the photo is read, so the message is about the output.
      {"unknown format first", Path("missing.ppm"), Path("o.gif"), "", "unknown output format"},
      {"missing folder first", Path("missing.ppm"), Path("none/o.png"), "", "the folder"},
      {"unwritable report first", Path("missing.ppm"), Path("o.png"), Path("none/r.json"), "Cannot write the report"},
  };
  fs::create_directory(Path("sub"));
  for (const Case& c : cases) {
    TBatchOptions o = Options(c.input, c.output, good);
    o.Report = c.report;
    EXPECT_EQ(Run(o), kExitUsage) << c.name << ": " << err_.str();
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.name << ": " << err_.str();
  }
  std::ifstream after(in, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), photoBytes);
  EXPECT_FALSE(fs::exists(Path("o.png")));

  // A protected output is not replaced, even by root who could.
  { std::ofstream(Path("kept.png")) << "protected"; }
  fs::permissions(Path("kept.png"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Run(Options(in, Path("kept.png"), good)), kExitUsage);
  EXPECT_NE(err_.str().find("read-only"), std::string::npos) << err_.str();
  std::ifstream kept(Path("kept.png"));
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "protected");

  // A report to a FIFO goes into the FIFO; the FIFO stays.
  ASSERT_EQ(::mkfifo(Path("report.fifo").c_str(), 0600), 0);
  const int reader = ::open(Path("report.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  TBatchOptions o = Options(in, Path("o.ppm"), good);
  o.Report = Path("report.fifo");
  EXPECT_EQ(Run(o), kExitOk) << err_.str();
  char json[64] = {};
  EXPECT_GT(::read(reader, json, sizeof json), 0);
  ::close(reader);
  EXPECT_EQ(json[0], '{');
  EXPECT_TRUE(fs::is_fifo(Path("report.fifo")));
}

TEST_F(BatchTest, SettingsThatAreNoSettingsFileSayWhatTheyAre) {
  const std::string in = Photo("in.ppm", 64, 48);
  const std::string other = Photo("other.jpg", 32, 32);
  fs::create_directory(Path("folder.ini"));
  { std::ofstream(Path("notes.ini")) << "[Other]\nx=1\n"; }
  ASSERT_EQ(::mkfifo(Path("pipe.ini").c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Path("folder.ini"), "it is a folder"},
      {other, "holds binary data"},
      {"/dev/zero", "not a regular file"},
      {Path("notes.ini"), "no [Planroa] section"},
      {Path("pipe.ini"), "not a regular file"},  // read at once, never waited on
  };
  for (const auto& [settings, words] : cases) {
    TBatchOptions o;
    o.Input = in;
    o.Output = Path("o.ppm");
    o.SettingsFile = settings;
    EXPECT_EQ(Run(o), kExitUsage) << settings;
    EXPECT_NE(err_.str().find("the settings file \"" + settings + "\": " ), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(words), std::string::npos) << err_.str();
  }
  EXPECT_FALSE(fs::exists(Path("o.ppm")));
}

TEST(BatchArguments, OptionsAndTheirMistakes) {
  const TBatchOptions o = ParseBatchArguments(
      {"--corners=1,2,3,4,5,6,7,8", "--crop", "55", "--nearest", "--quality", "80", "--report", "-", "a.jpg", "b.png"});
  EXPECT_EQ(o.Input, "a.jpg");
  EXPECT_EQ(o.Output, "b.png");
  ASSERT_TRUE(o.Corners.has_value());
  EXPECT_EQ((*o.Corners)[7], 8);
  EXPECT_EQ(*o.Crop, 55);
  EXPECT_TRUE(o.Nearest);
  EXPECT_EQ(o.Quality, 80);
  EXPECT_TRUE(ParseBatchArguments({"--help"}).Help);
  EXPECT_DOUBLE_EQ(ParseAspect("16:9"), 16.0 / 9);
  EXPECT_DOUBLE_EQ(ParseAspect("Letter"), 8.5 / 11);
  EXPECT_DOUBLE_EQ(ParseAspect("square"), 1.0);

  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--corners", "1,2,3,4,5,6,7,nan", "a", "b"}, "\"nan\" is not a finite number"},
      {{"--corners", "1,2,3,4,5,6,7", "a", "b"}, "needs eight numbers"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--crop", "0", "a", "b"}, "--crop must be a whole number from 1 to 100"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--crop", "1e2", "a", "b"}, "--crop must be"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--quality", "101", "a", "b"}, "--quality must be"},
      {{"--corners", "1,2,3,4,5,6,7,8", "a"}, "give the input photo and the output file"},
      {{"a", "b"}, "no corners"},
      {{"--auto", "--corners", "1,2,3,4,5,6,7,8", "a", "b"}, "--auto finds the corners itself"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--pixel-corners", "1,2,3,4,5,6,7,8", "a", "b"}, "give the corners once"},
      {{"--frobnicate", "a", "b"}, "unknown option --frobnicate"},
      {{"--crop"}, "--crop needs a value"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--focal-ratio", "0", "a", "b"}, "--focal-ratio must be a positive number"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--focal-35mm", "x", "a", "b"}, "--focal-35mm must be a positive number"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--focal-ratio", "1", "--focal-35mm", "50", "a", "b"}, "focal length once"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--aspect", "a9", "a", "b"}, "--aspect takes W:H"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--aspect", "4:0", "a", "b"}, "--aspect takes W:H"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--frame", "page", "a", "b"}, "--frame takes photo or object"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--long-side", "500", "a", "b"}, "need --frame object"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--frame", "object", "--size", "500", "a", "b"}, "--size takes WIDTHxHEIGHT"},
      {{"--corners", "1,2,3,4,5,6,7,8", "--frame", "object", "--size", "5x0", "a", "b"}, "--size height must be"},
  };
  for (const auto& [args, message] : bad) {
    try {
      ParseBatchArguments(args);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const EUsageError& e) {
      EXPECT_NE(e.Message().find(message), std::string::npos) << e.Message();
    }
  }
}

TEST(BatchCorners, SortedIntoTheMarkersOrder) {
  // a upper right, b upper left, c lower left, d lower right, from any of the 24 orders.
  const double want[4][2] = {{90, -50}, {-100, -60}, {-80, 70}, {95, 40}};
  int order[4] = {0, 1, 2, 3};
  do {
    double c[4][2];
    for (int k = 0; k < 4; ++k) {
      c[k][0] = want[order[k]][0];
      c[k][1] = want[order[k]][1];
    }
    SortCornersLikeMarker(c);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(c[k][0], want[k][0]) << k;
      EXPECT_EQ(c[k][1], want[k][1]) << k;
    }
  } while (std::next_permutation(order, order + 4));
}

}  // namespace
}  // namespace planora
