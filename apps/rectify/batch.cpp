#include "apps/rectify/batch.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

#include "apps/imageio/imageio.h"
#include "apps/imageio/metadata.h"
#include "apps/rectify/report.h"
#include "detect/detect.h"
#include "engine/camera.h"
#include "engine/fingerprint.h"
#include "engine/object_frame.h"
#include "engine/rectify.h"
#include "engine/settings.h"
#include "engine/setup.h"
#include "platform/atomicfile.h"
#include "platform/inifiles.h"
#include "plot/glib2.h"

namespace planora {

namespace {

// The longest side of an object-only output, and its largest pixel count:
// beyond these a mistyped size would only exhaust the memory.
constexpr int kMaxObjectSide = 100000;
constexpr std::int64_t kMaxObjectPixels = 400'000'000;
const char* const kCornerNames = "abcd";

// ----------------------------------------------------------------- arguments

int ParseWhole(const std::string& option, const std::string& text, int low, int high) {
  std::int32_t value = 0;
  // Only plain decimal digits: "0x10" or "$10" would be a surprise here.
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || !TryStrToInt(text, value) || value < low || value > high) {
    throw EUsageError(option + " must be a whole number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

std::vector<double> ParseCorners(const std::string& option, const std::string& text) {
  std::vector<double> values;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double v = 0;
    if (!TryStrToFloat(item, v, '.') || !std::isfinite(v)) {
      throw EUsageError(option + ": \"" + item + "\" is not a finite number (use a point as decimal separator)");
    }
    values.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != 8) {
    throw EUsageError(option + " needs eight numbers AX,AY,BX,BY,CX,CY,DX,DY; got " + std::to_string(values.size()));
  }
  return values;
}

// A positive, finite number with a point as decimal separator.
double ParsePositive(const std::string& option, const std::string& text) {
  double v = 0;
  if (!TryStrToFloat(text, v, '.') || !std::isfinite(v) || !(v > 0)) {
    throw EUsageError(option + " must be a positive number (with a point as decimal separator), not \"" + text + "\"");
  }
  return v;
}

// ------------------------------------------------------------------ progress

// A progress bar on the terminal; silent when standard error is not one.
class TTerminalUi : public TRectifyUi {
 public:
  TTerminalUi(std::ostream& err, bool show, bool nearest, std::function<void(int)> progress = {})
      : err_(err), show_(show), nearest_(nearest), progress_(std::move(progress)) {}
  void BeginRun() override { Draw(0); }
  void EndRun() override {
    if (show_ && drawn_ >= 0) err_ << "\n" << std::flush;
  }
  void SetProgress(int position) override {
    if (progress_) progress_(position);
    Draw(position);
  }
  void ProcessMessages() override {}
  bool NearestOnly() override { return nearest_; }
  void CornersUsed(const double[4][2]) override {}
  void PreviewShownChanged(bool) override {}

 private:
  void Draw(int position) {
    if (!show_ || position == drawn_) return;
    drawn_ = position;
    constexpr int kWidth = 40;
    const int filled = position * kWidth / 100;
    err_ << "\rRectifying [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << position << " %" << std::flush;
  }

  std::ostream& err_;
  bool show_;
  bool nearest_;
  std::function<void(int)> progress_;
  int drawn_ = -1;
};

// ------------------------------------------------------------------- corners

// Picture pixel (column, row) to world units with window 1 of a surface of
// the picture's size, as the surface converts whole pixels, here for
// fractional ones too.
void PixelToWorld(const TPlottFlaeche& surface, double px, double py, double& x, double& y) {
  const PlotWindow& w = surface.Windows[PictureWindowNumber];
  x = px / w.XScale + w.XOffset;
  y = (surface.MaxY - py) / w.YScale + w.YOffset;
}

// The marker's corners of a settings file, when it belongs to this picture.
struct TSettings {
  bool Matches = false;
  double Corners[4][2] = {};
  int Crop = 90;
};

// A settings file of the plug-in is a few hundred bytes; this leaves room
// for one that other programs have added to, and keeps a wrong name (a
// photo, a disk image) from being read whole.
constexpr std::int64_t kMaxSettingsBytes = 16 << 20;

// Why `path` cannot be the settings file, or "" when it may be: checked
// before the photo is read, without opening anything that could block.
std::string SettingsProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder, not a settings file";
  if (!S_ISREG(st.st_mode))
    return "it is not a regular file (a device or a pipe); give the settings file the plug-in saved";
  if (st.st_size > kMaxSettingsBytes)
    return "it is " + std::to_string(st.st_size) + " bytes long, far more than a settings file; is it a photo?";
  return "";
}

TSettings ReadSettings(const std::string& path, const TBitmap& picture) {
  std::string problem = SettingsProblem(path);
  std::string text;
  if (problem.empty() && !ReadRegularFile(path, text)) problem = std::strerror(errno != 0 ? errno : EIO);
  if (problem.empty() && text.find('\0') != std::string::npos)
    problem = "it is not a settings file (it holds binary data; is it a photo?)";
  if (!problem.empty()) throw EInOutError("Cannot read the settings file \"" + path + "\": " + problem);
  TIniFile ini(path);
  if (!ini.SectionExists(SettingsSection))
    throw EInOutError("Cannot read the settings file \"" + path + "\": it is not a settings file of the plug-in "
                      "(it has no [" + std::string(SettingsSection) + "] section)");
  const TMarkerSettings stored = ReadMarkerSettings(ini);
  TSettings s;
  s.Crop = std::clamp<std::int32_t>(stored.CropPercent, 1, 100);
  s.Matches = stored.PictureHash == Fingerprint(picture);
  std::copy(&stored.Corners[0][0], &stored.Corners[0][0] + 8, &s.Corners[0][0]);
  for (int k = 0; k < 8 && s.Matches; ++k) {
    // The window reads such a value as 0; a run from the file would then
    // straighten some other quadrilateral without a word.
    double v = 0;
    const std::string text = ini.ReadString(SettingsSection, SettingsCornerKeys[k], "0");
    if (!TryStrToFloat(text, v, ',') || !std::isfinite(v)) {
      throw EUsageError("the settings file \"" + path + "\" has no usable number for \"" + SettingsCornerKeys[k] +
                        "\": \"" + text + "\"");
    }
  }
  return s;
}

std::string CornerText(const double c[2]) {
  std::ostringstream o;
  o.imbue(std::locale::classic());
  o << "(" << c[0] << ", " << c[1] << ")";
  return o.str();
}

// The four corners of the run in world units, sorted, each inside the
// picture as the marker read judges it (on the window's border counts).
void ResolveCorners(const TBatchOptions& o, const TPlottFlaeche& source, const TBitmap& picture, double corners[4][2],
                    int& crop, double& confidence, std::ostream& err) {
  crop = 90;
  bool have = false;
  if (o.Auto) {
    const TDetection d = DetectRectangle(picture);
    if (!d.Found) {
      // A detector that is not there looked at nothing: "found no object"
      // would send the user to the photo instead of the installation.
      const std::string what = AutomaticCornersAvailable() ? "--auto found no object to straighten: "
                                                           : "--auto cannot look for the corners: ";
      throw ECornerError(what + d.Reason + "; give the corners with --corners or --pixel-corners");
    }
    for (int k = 0; k < 4; ++k) PixelToWorld(source, d.Corners[k][0], d.Corners[k][1], corners[k][0], corners[k][1]);
    confidence = d.Confidence;
    have = true;
  }
  if (!o.SettingsFile.empty()) {
    const TSettings s = ReadSettings(o.SettingsFile, picture);
    crop = s.Crop;
    if (s.Matches && !o.Corners) {
      std::copy(&s.Corners[0][0], &s.Corners[0][0] + 8, &corners[0][0]);
      have = true;
    } else if (!s.Matches && !o.Corners) {
      throw EUsageError("the settings file \"" + o.SettingsFile +
                        "\" holds the marker of another picture (its \"Inhash\" does not match this photo); "
                        "give the corners with --corners or --pixel-corners");
    } else if (!s.Matches) {
      err << "planora-rectify: note: the settings file belongs to another picture; only its crop size is used\n";
    }
  }
  if (o.Crop) crop = *o.Crop;
  if (o.Corners) {
    const std::vector<double>& v = *o.Corners;
    for (int k = 0; k < 4; ++k) {
      if (o.PixelCorners) {
        PixelToWorld(source, v[2 * k], v[2 * k + 1], corners[k][0], corners[k][1]);
      } else {
        corners[k][0] = v[2 * k];
        corners[k][1] = v[2 * k + 1];
      }
    }
    have = true;
  }
  if (!have) throw EUsageError("no corners: give --corners, --pixel-corners or --settings");

  // Checked as given, so that the names are those of the user's order; the
  // sort below would rename them.
  const PlotWindow& w = source.Windows[PictureWindowNumber];
  for (int k = 0; k < 4; ++k) {
    const double x = corners[k][0], y = corners[k][1];
    if (!(w.XMin <= x && x <= w.XMax && w.YMin <= y && y <= w.YMax)) {
      std::ostringstream m;
      m.imbue(std::locale::classic());
      m << "corner " << kCornerNames[k] << " " << CornerText(corners[k]) << " lies outside the picture, which spans "
        << w.XMin << " .. " << w.XMax << " in x and " << w.YMin << " .. " << w.YMax
        << " in y (world units: pixels from the centre, y down)";
      throw ECornerError(m.str());
    }
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (std::hypot(corners[i][0] - corners[j][0], corners[i][1] - corners[j][1]) < 1.0) {
        throw ECornerError(std::string("corners ") + kCornerNames[i] + " " + CornerText(corners[i]) + " and " +
                           kCornerNames[j] + " " + CornerText(corners[j]) +
                           " are less than a pixel apart; give four distinct corners");
      }
    }
  }
  SortCornersLikeMarker(corners);
  // Four distinct corners come out of the marker's order as fewer only when
  // the two rightmost are diagonally opposite: the outline is concave.
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (corners[i][0] == corners[j][0] && corners[i][1] == corners[j][1]) {
        throw ECornerError("the four corners outline a concave quadrilateral (its two rightmost corners are "
                           "opposite each other), which no photo of a rectangle is; move them onto the corners "
                           "of the rectangle");
      }
    }
  }
}

// ---------------------------------------------------------------------- run

// World units of window 1 to the photo's fractional pixel position, the
// inverse of PixelToWorld.
void WorldToPixel(const TPlottFlaeche& surface, double x, double y, double& px, double& py) {
  const PlotWindow& w = surface.Windows[PictureWindowNumber];
  px = (x - w.XOffset) * w.XScale;
  py = surface.MaxY - (y - w.YOffset) * w.YScale;
}

// The object-only output into `out` (resized), its size into `photo`; the
// frame returned describes it for the report: output pixels per plane
// unit, and the corners in output world units (pixels from its centre).
TRectifyResult DrawObject(const TBatchOptions& o, const TCameraSolver& cam, const TPlottFlaeche& source,
                          const TBitmap& picture, double aspect, TPhoto& photo, TBitmap& out) {
  if (!(aspect > 0) || !std::isfinite(aspect)) {
    throw ECornerError("the proportions of the marked rectangle cannot be worked out; give them with --aspect");
  }
  // Upper left, upper right, lower right, lower left: b, a, d, c.
  const TVector* c[4] = {&cam.CornerB, &cam.CornerA, &cam.CornerD, &cam.CornerC};
  double px[4][2];
  for (int k = 0; k < 4; ++k) WorldToPixel(source, (*c[k])[0], (*c[k])[1], px[k][0], px[k][1]);
  std::int64_t w = 0, h = 0;
  if (o.Size) {
    // The largest output of the object's proportions that fits.
    const double fw = std::min<double>(o.Size->first, o.Size->second * aspect);
    w = std::max<std::int64_t>(1, std::llround(fw));
    h = std::max<std::int64_t>(1, std::llround(fw / aspect));
  } else if (o.LongSide) {
    w = aspect >= 1 ? *o.LongSide : std::max<std::int64_t>(1, std::llround(*o.LongSide * aspect));
    h = aspect >= 1 ? std::max<std::int64_t>(1, std::llround(*o.LongSide / aspect)) : *o.LongSide;
  } else {
    NaturalObjectSize(px, aspect, w, h);
  }
  if (w > kMaxObjectSide || h > kMaxObjectSide || w * h > kMaxObjectPixels) {
    throw ECornerError("the object would need an output of " + std::to_string(w) + " x " + std::to_string(h) +
                       " pixels; give a smaller one with --size or --long-side");
  }
  out.SetSize(static_cast<int>(w), static_cast<int>(h));
  RectifyObject(picture, px, out, o.Nearest, o.Threads);
  photo.Width = static_cast<int>(w);
  photo.Height = static_cast<int>(h);

  TRectifyResult frame;
  double s[4], t[4];
  const TVector* m[4] = {&cam.CornerA, &cam.CornerB, &cam.CornerC, &cam.CornerD};
  bool mapped = true;
  for (int k = 0; k < 4; ++k) mapped = mapped && cam.ImageToPlane((*m[k])[0], (*m[k])[1], s[k], t[k]);
  if (mapped) frame.OutputScale = 2 * double(w) / (std::hypot(s[0] - s[1], t[0] - t[1]) + std::hypot(s[3] - s[2], t[3] - t[2]));
  const double hw = double(w) / 2, hh = double(h) / 2;
  const double oc[4][2] = {{hw, -hh}, {-hw, -hh}, {-hw, hh}, {hw, hh}};
  std::copy(&oc[0][0], &oc[0][0] + 8, &frame.OutputCorners[0][0]);
  return frame;
}

// Over the decoded picture, or (without one) blank for the resampling,
// which writes every pixel.
std::unique_ptr<TPlottFlaeche> PictureSurface(int w, int h, std::unique_ptr<TBitmap> picture = nullptr) {
  auto s = std::make_unique<TPlottFlaeche>();
  if (picture) {
    s->InitOffscreen(std::move(picture));
  } else {
    s->InitOffscreenToOverwrite(w, h);
  }
  DefinePictureWindow(*s, w, h);
  return s;
}

// The output's format takes a quality only as JPEG.
bool OutputHasQuality(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "jpg" || ext == "jpeg";
}

// Where a path leads: the file itself when it exists (through links),
// otherwise its folder resolved with the name appended.
bool NameTheSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const bool ea = ::stat(a.c_str(), &sa) == 0, eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  std::error_code ec1, ec2;
  const auto ca = std::filesystem::weakly_canonical(a, ec1), cb = std::filesystem::weakly_canonical(b, ec2);
  return !ec1 && !ec2 && ca == cb;
}

// Everything about the files that can be known before the work starts: a
// run must not end, after minutes, on a name it could have refused at once,
// and must never write over its own input or over another of its outputs.
void CheckFiles(const TBatchOptions& o) {
  struct TRole {
    const char* Name;
    const std::string* Path;
    bool Written;
  };
  std::vector<TRole> roles{{"the input", &o.Input, false}, {"the output", &o.Output, true}};
  if (!o.Report.empty() && o.Report != "-") roles.push_back({"the report", &o.Report, true});
  if (!o.SettingsFile.empty()) roles.push_back({"the settings file", &o.SettingsFile, false});
  for (std::size_t i = 0; i < roles.size(); ++i) {
    for (std::size_t j = i + 1; j < roles.size(); ++j) {
      if (!roles[i].Written && !roles[j].Written) continue;
      if (NameTheSameFile(*roles[i].Path, *roles[j].Path)) {
        throw EUsageError(std::string(roles[i].Name) + " \"" + *roles[i].Path + "\" and " + roles[j].Name + " \"" +
                          *roles[j].Path + "\" are the same file; give each a name of its own");
      }
    }
  }
  if (const std::string problem = PhotoTargetProblem(o.Output); !problem.empty())
    throw EInOutError("Cannot write \"" + o.Output + "\": " + problem);
  if (!o.Report.empty() && o.Report != "-") {
    if (const std::string problem = WriteTargetProblem(o.Report); !problem.empty())
      throw EInOutError("Cannot write the report \"" + o.Report + "\": " + problem);
  }
  if (!o.SettingsFile.empty()) {
    if (const std::string problem = SettingsProblem(o.SettingsFile); !problem.empty())
      throw EInOutError("Cannot read the settings file \"" + o.SettingsFile + "\": " + problem);
  }
}

int Run(const TBatchOptions& o, std::ostream& out, std::ostream& err, bool progressBar) {
  const auto started = std::chrono::steady_clock::now();
  CheckFiles(o);
  if (o.QualityGiven && !OutputHasQuality(o.Output)) {
    err << "planora-rectify: note: --quality applies to JPEG output only; \"" << o.Output
        << "\" is written without it\n";
  }
  // Decoded straight into the 24-bit bitmap a host hands over; the photo
  // keeps the size and metadata.
  auto decoded = std::make_unique<TBitmap>();
  TPhoto photo = ReadPhoto(o.Input, *decoded);
  const int W = photo.Width, H = photo.Height;
  if (W < 2 || H < 2) {
    throw EInOutError("\"" + o.Input + "\" is " + std::to_string(W) + " x " + std::to_string(H) +
                      " pixels; a photo to rectify needs at least 2 x 2");
  }
  // At most two full-size pixel buffers live at any time. The source
  // surface holds the picture as the rectification window's full-size copy
  // does, so that the same corners give the same pixels here and there.
  auto source = PictureSurface(W, H, std::move(decoded));
  const TBitmap& picture = *source->Bitmap;

  double corners[4][2];
  int crop = 90;
  double confidence = std::nan("");
  ResolveCorners(o, *source, picture, corners, crop, confidence, err);
  const bool objectFrame = o.Frame == "object";

  // The window's steps; a known focal length or known proportions are
  // brought in before the frame is judged.
  const std::optional<double> exif = ExifFocalRatio(photo.Exif, W, H);
  TFocalKnowledge known;
  if (o.FocalRatio) known.FocalRatio = *o.FocalRatio;
  if (o.Focal35mm) known.FocalRatio = FocalRatioFrom35mm(*o.Focal35mm);
  known.ExifRatio = exif;
  known.Aspect = o.Aspect;
  known.AspectNamed = o.AspectNamed;
  TCameraSolver cam;
  TFocalChoice focal;
  const TCameraSetUp setUp = SetUpCamera(cam, W, H, corners, known, focal);
  if (!setUp.Solved) {
    throw ECornerError("the four corners do not outline a usable quadrilateral (three of them in a line, or two "
                       "too close together); move them apart onto the corners of the rectangle");
  }
  if (!focal.AspectImposed) throw ECornerError("the marked rectangle cannot be given the proportions " + o.AspectText);
  const bool plausible = setUp.Plausible;
  if (!setUp.FrameValid) {
    throw ECornerError("no camera frame fits these corners with the focal ratio " + FormatFocalRatio(cam.FocalRatio) +
                       " (" + focal.Source + ")");
  }
  // Only where the corners alone decided: with a known focal length the
  // right angle at b is not needed.
  if (!plausible && (focal.Source == "corners" || focal.Source == "diagonal")) {
    err << "planora-rectify: warning: the corners do not look like a photographed rectangle; rectifying with the "
           "focal ratio "
        << FormatFocalRatio(cam.FocalRatio) << "\n";
  }

  TRectifyResult frame;
  if (objectFrame) {
    TBitmap object;
    frame = DrawObject(o, cam, *source, picture, focal.AspectUsed, photo, object);
    source.reset();
    WritePhoto(o.Output, object, photo, TWriteOptions{o.Quality});
  } else {
    auto result = PictureSurface(W, H);
    TTerminalUi ui(err, progressBar, o.Nearest, o.Progress);
    TRectifyJob job{&cam, source.get(), result.get(), false, crop, W, H, nullptr, false, o.Threads};
    try {
      frame = Rectify(job, ui);
    } catch (const ERectifyError& e) {
      throw ECornerError(e.Message());
    }
    source.reset();  // the result is all that is needed now
    WritePhoto(o.Output, *result->Bitmap, photo, TWriteOptions{o.Quality});
  }

  if (!o.Report.empty()) {
    TReport r;
    r.Width = W;
    r.Height = H;
    std::copy(&corners[0][0], &corners[0][0] + 8, &r.Corners[0][0]);
    r.Camera = &cam;
    r.Frame = frame;
    r.FrameKind = o.Frame;
    r.CornerSource = o.Auto ? "auto" : o.Corners ? "given" : "settings";
    r.Confidence = confidence;
    r.OutputWidth = photo.Width;
    r.OutputHeight = photo.Height;
    r.Plausible = plausible;
    r.AspectRatio = cam.MarkedAspectRatio();
    r.FocalSource = focal.Source;
    r.FocalEstimate = focal.Estimate.Found ? focal.Estimate.Ratio : std::nan("");
    r.FocalUncertainty = focal.Estimate.Uncertainty;
    r.FocalExif = exif ? *exif : std::nan("");
    r.AspectMeasured = focal.AspectMeasured;
    r.AspectUsed = focal.AspectUsed;
    r.Crop = crop;
    r.Interpolated = !o.Nearest;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string json = ReportJson(r);
    if (o.Report == "-") {
      out << json << std::flush;
    } else {
      ReplaceFileAtomically(o.Report, json, "the report");
    }
  }
  return kExitOk;
}

}  // namespace

std::string BatchVersion() { return std::string("planora-rectify ") + PLANORA_VERSION; }

std::string BatchUsage() {
  return "Usage: planora-rectify [options] INPUT OUTPUT\n"
         "\n"
         "Straightens a photographed rectangle (a poster, a sheet, a facade): from its four\n"
         "corners the camera's pose and focal length are worked out, and the photo is redrawn\n"
         "as if taken square-on. OUTPUT's extension chooses the format (.jpg .png .tif .bmp .ppm).\n"
         "\n"
         "Corners (one of these is needed; a, b, c, d in any order):\n"
         "  --corners AX,AY,BX,BY,CX,CY,DX,DY\n"
         "                       in world units: pixels from the picture centre, x right, y down\n"
         "  --pixel-corners AX,AY,...  in photo pixels: column, row from the top-left pixel\n"
         "  --settings FILE      the last marker and crop size of a settings file of the plug-in,\n"
         "                       when it was saved for this very photo\n"
         "  --auto               find the most prominent rectangle-like object and its corners\n"
         "                       (the report gives them with a confidence, 0..1)\n"
         "Options:\n"
         "  --crop P             share of the output the marked rectangle fills, 1..100 (default 90)\n"
         "  --nearest            take the nearest pixel instead of interpolating colours\n"
         "  --quality Q          JPEG quality 1..100 (default 95); other formats have none\n"
         "  --report FILE        write a JSON report of the camera and the frame (- for standard output)\n"
         "  --threads N          worker threads (default: one per core)\n"
         "Output:\n"
         "  --frame photo|object photo (default): the whole photo redrawn; object: the marked\n"
         "                       rectangle alone, at its true (or --aspect) proportions\n"
         "  --size WxH           object output fitted inside W x H pixels, proportions kept\n"
         "  --long-side N        object output N pixels along its longer side\n"
         "                       (without either: the resolution of the object's nearest part)\n"
         "Known camera or object (otherwise the corners decide):\n"
         "  --focal-ratio R      focal length over the picture diagonal, as the window shows it\n"
         "  --focal-35mm F       focal length in mm, 35 mm film equivalent\n"
         "                       (without either, the photo's EXIF focal length is used where the\n"
         "                       corners cannot tell it well)\n"
         "  --aspect W:H         the object's proportions, such as 4:3, 210:297, or a name: a3, a4,\n"
         "                       a5, letter, legal, square; either orientation\n"
         "Other:\n"
         "  -h, --help           this text\n"
         "  --version            the tool's version\n"
         "\n"
         "Example:\n"
         "  planora-rectify --pixel-corners 1647,154,693,488,654,1173,1747,1014 \\\n"
         "      --report - poster.jpg poster-straight.jpg\n"
         "\n"
         "A document, found and cut out at A4 proportions:\n"
         "  planora-rectify --auto --frame object --aspect a4 --report - scan.jpg page.png\n"
         "\n"
         "Exit status: 0 done (also after a warning), 2 bad usage or a file that cannot be read or\n"
         "written, 3 corners that cannot be rectified (or --auto found no object).\n";
}

TBatchOptions ParseBatchArguments(const std::vector<std::string>& args) {
  TBatchOptions o;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    const std::size_t eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      inlineValue = true;
    }
    auto takeValue = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= args.size()) throw EUsageError(a + " needs a value");
      return args[++i];
    };
    auto noValue = [&] {
      if (inlineValue) throw EUsageError(a + " takes no value");
    };
    if (a == "-h" || a == "--help") {
      noValue();
      o.Help = true;
    } else if (a == "--corners" || a == "--pixel-corners") {
      if (o.Corners) throw EUsageError("give the corners once, with --corners or --pixel-corners");
      o.Corners = ParseCorners(a, takeValue());
      o.PixelCorners = a == "--pixel-corners";
    } else if (a == "--auto") {
      noValue();
      o.Auto = true;
    } else if (a == "--settings") {
      o.SettingsFile = takeValue();
      if (o.SettingsFile.empty()) throw EUsageError("--settings needs a file name");
    } else if (a == "--crop") {
      o.Crop = ParseWhole(a, takeValue(), 1, 100);
    } else if (a == "--nearest") {
      noValue();
      o.Nearest = true;
    } else if (a == "--quality") {
      o.Quality = ParseWhole(a, takeValue(), 1, 100);
      o.QualityGiven = true;
    } else if (a == "--version") {
      noValue();
      o.Version = true;
    } else if (a == "--report") {
      o.Report = takeValue();
      if (o.Report.empty()) throw EUsageError("--report needs a file name or -");
    } else if (a == "--focal-ratio" || a == "--focal-35mm") {
      if (o.FocalRatio || o.Focal35mm) throw EUsageError("give the focal length once, with --focal-ratio or --focal-35mm");
      const double v = ParsePositive(a, takeValue());
      (a == "--focal-ratio" ? o.FocalRatio : o.Focal35mm) = v;
    } else if (a == "--aspect") {
      o.AspectText = takeValue();
      o.Aspect = ParseAspect(o.AspectText);
      o.AspectNamed = o.AspectText.find(':') == std::string::npos;
    } else if (a == "--frame") {
      o.Frame = takeValue();
      if (o.Frame != "photo" && o.Frame != "object") {
        throw EUsageError("--frame takes photo or object, not \"" + o.Frame + "\"");
      }
    } else if (a == "--size") {
      const std::string v = takeValue();
      const std::size_t x = v.find_first_of("xX");
      if (x == std::string::npos) throw EUsageError("--size takes WIDTHxHEIGHT in pixels, such as 2480x3508");
      o.Size = std::make_pair(ParseWhole(a + " width", v.substr(0, x), 1, kMaxObjectSide),
                              ParseWhole(a + " height", v.substr(x + 1), 1, kMaxObjectSide));
    } else if (a == "--long-side") {
      o.LongSide = ParseWhole(a, takeValue(), 1, kMaxObjectSide);
    } else if (a == "--threads") {
      o.Threads = ParseWhole(a, takeValue(), 0, 64);
    } else {
      throw EUsageError("unknown option " + a);
    }
  }
  if (o.Help || o.Version) return o;
  if (positional.size() != 2) {
    throw EUsageError(positional.size() < 2 ? "give the input photo and the output file"
                                            : "too many file names: give one input photo and one output file");
  }
  o.Input = positional[0];
  o.Output = positional[1];
  if (o.Input.empty() || o.Output.empty()) throw EUsageError("a file name is empty: give the input photo and the output file");
  if (!o.Corners && o.SettingsFile.empty() && !o.Auto) {
    throw EUsageError("no corners: give --corners, --pixel-corners, --settings or --auto");
  }
  if (o.Auto && (o.Corners || !o.SettingsFile.empty())) {
    throw EUsageError("--auto finds the corners itself; give it without --corners, --pixel-corners or --settings");
  }
  if ((o.Size || o.LongSide) && o.Frame != "object") throw EUsageError("--size and --long-side need --frame object");
  if (o.Size && o.LongSide) throw EUsageError("give the output size once, with --size or --long-side");
  return o;
}

double ParseAspect(const std::string& text) {
  std::string t;
  for (char ch : text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  // The sheets as printed: ISO in millimetres, North American in inches.
  if (t == "a5") return 148.0 / 210.0;
  if (t == "a4") return 210.0 / 297.0;
  if (t == "a3") return 297.0 / 420.0;
  if (t == "letter") return 8.5 / 11.0;
  if (t == "legal") return 8.5 / 14.0;
  if (t == "square") return 1.0;
  const std::size_t colon = t.find(':');
  double w = 0, h = 0;
  if (colon != std::string::npos && TryStrToFloat(t.substr(0, colon), w, '.') &&
      TryStrToFloat(t.substr(colon + 1), h, '.') && std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 &&
      std::isfinite(w / h) && w / h > 0) {
    return w / h;
  }
  throw EUsageError("--aspect takes W:H (such as 4:3 or 210:297) or one of a3, a4, a5, letter, legal, square; not \"" +
                    text + "\"");
}

void SortCornersLikeMarker(double c[4][2]) {
  // Round the centre by angle first: the outline then never crosses itself.
  double cx = 0, cy = 0;
  for (int k = 0; k < 4; ++k) {
    cx += c[k][0] / 4;
    cy += c[k][1] / 4;
  }
  double q[4][2];
  int order[4] = {0, 1, 2, 3};
  std::stable_sort(order, order + 4, [&](int i, int j) {
    return std::atan2(c[i][1] - cy, c[i][0] - cx) < std::atan2(c[j][1] - cy, c[j][0] - cx);
  });
  for (int k = 0; k < 4; ++k) {
    q[k][0] = c[order[k]][0];
    q[k][1] = c[order[k]][1];
  }
  // Then the marker's rule: the two rightmost corners (strictly greater, so
  // among equals the lower index ranks higher); the upper of them is a.
  int a = -1, b = -1;
  for (int k = 0; k < 4; ++k) {
    if (a < 0 || q[k][0] > q[a][0]) {
      b = a;
      a = k;
    } else if (b < 0 || q[k][0] > q[b][0]) {
      b = k;
    }
  }
  const int upper = q[a][1] < q[b][1] ? a : b;
  const int lower = upper == a ? b : a;
  const int from[4] = {upper, (lower + 2) % 4, (upper + 2) % 4, lower};
  for (int k = 0; k < 4; ++k) {
    c[k][0] = q[from[k]][0];
    c[k][1] = q[from[k]][1];
  }
}

int RunBatch(const TBatchOptions& options, std::ostream& out, std::ostream& err, bool progressBar) {
  try {
    return Run(options, out, err, progressBar);
  } catch (const EUsageError& e) {
    err << "planora-rectify: " << e.Message() << "\n(see planora-rectify --help)\n";
    return kExitUsage;
  } catch (const ECornerError& e) {
    err << "planora-rectify: " << e.Message() << "\n";
    return kExitCorners;
  } catch (const EInOutError& e) {
    err << "planora-rectify: " << e.Message() << "\n";
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    err << "planora-rectify: not enough memory for a photo of this size\n";
    return kExitFailure;
  } catch (const std::exception& e) {
    err << "planora-rectify: " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace planora
