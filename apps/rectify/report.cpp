#include "apps/rectify/report.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace planora {

namespace {

// The shortest text that reads back as the same double, in no locale.
std::string Number(double v) {
  // JSON has no NaN or infinity.
  if (!std::isfinite(v)) return "null";
  char buffer[40];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return std::string(buffer, end);
}

std::string Text(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Vector3(const TVector& v) {
  return "[" + Number(v[0]) + ", " + Number(v[1]) + ", " + Number(v[2]) + "]";
}

std::string Corners(const double c[4][2]) {
  std::string s = "{";
  const char* names[4] = {"a", "b", "c", "d"};
  for (int k = 0; k < 4; ++k) {
    s += std::string(k ? ", " : "") + "\"" + names[k] + "\": [" + Number(c[k][0]) + ", " + Number(c[k][1]) + "]";
  }
  return s + "}";
}

}  // namespace

std::string ReportJson(const TReport& r) {
  const TCameraSolver& cam = *r.Camera;
  std::string j = "{\n";
  auto field = [&](const char* name, const std::string& value, bool last = false) {
    j += std::string("  \"") + name + "\": " + value + (last ? "\n" : ",\n");
  };
  field("width", std::to_string(r.Width));
  field("height", std::to_string(r.Height));
  field("corners", Corners(r.Corners));
  field("corners_source", Text(r.CornerSource));
  field("confidence", Number(r.Confidence));
  field("focal_ratio", Number(cam.FocalRatio));
  field("focal_ratio_text", Text(FormatFocalRatio(cam.FocalRatio)));
  field("focal_length", Number(cam.FocalLength));
  field("focal_source", Text(r.FocalSource));
  field("focal_ratio_estimate", Number(r.FocalEstimate));
  field("focal_ratio_uncertainty", Number(r.FocalUncertainty));
  field("focal_ratio_exif", Number(r.FocalExif));
  field("plausible", r.Plausible ? "true" : "false");
  field("depth_factors", Vector3(cam.DepthFactors));
  field("plane_normal", Vector3(cam.PlaneNormal));
  field("plane_origin", Vector3(cam.PlaneOrigin));
  field("axis_u", Vector3(cam.AxisU));
  field("axis_v", Vector3(cam.AxisV));
  field("frame", Text(r.FrameKind));
  field("output_width", std::to_string(r.OutputWidth));
  field("output_height", std::to_string(r.OutputHeight));
  field("output_scale", Number(r.Frame.OutputScale));
  field("output_corners", Corners(r.Frame.OutputCorners));
  field("aspect_ratio", Number(r.AspectRatio));
  field("aspect_measured", Number(r.AspectMeasured));
  field("aspect_used", Number(r.AspectUsed));
  field("crop", std::to_string(r.Crop));
  field("interpolated", r.Interpolated ? "true" : "false");
  field("seconds", Number(r.Seconds), true);
  return j + "}\n";
}

}  // namespace planora
