// The corner detector on OpenCV's image processing, built as the module
// that programs load on their first search (see interface.h): what it needs
// of Planora comes across as plain pixels, so it links no layer of ours.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "detect/module/interface.h"

namespace planora {

namespace {

using TQuad = std::vector<cv::Point2d>;

// Candidates are looked for on a reduced copy: outlines only need to be
// roughly right there, and the texture of a background counts for less.
constexpr double kSearchSide = 640.0;
// An object smaller than this share of the photo is not "the" object.
constexpr double kMinAreaShare = 0.04;
constexpr double kMaxAreaShare = 0.97;

double Cross(cv::Point2d a, cv::Point2d b) { return a.x * b.y - a.y * b.x; }

double Area(const TQuad& q) {
  double a = 0;
  for (std::size_t i = 0; i < q.size(); ++i) a += Cross(q[i], q[(i + 1) % q.size()]);
  return std::abs(a) / 2;
}

bool Intersect(cv::Point2d p, cv::Point2d r, cv::Point2d q, cv::Point2d s, cv::Point2d& out) {
  const double d = Cross(r, s);
  if (std::abs(d) < 1e-12) return false;
  const double t = Cross(q - p, s) / d;
  out = p + t * r;
  return true;
}

bool Convex(const TQuad& q) {
  double sign = 0;
  for (int i = 0; i < 4; ++i) {
    const double c = Cross(q[(i + 1) % 4] - q[i], q[(i + 2) % 4] - q[(i + 1) % 4]);
    if (c == 0 || (sign != 0 && (c > 0) != (sign > 0))) return false;
    sign = c;
  }
  return true;
}

// The quadrilateral that hugs a convex outline: while it has more than
// four sides, the side whose removal (its neighbours extended until they
// meet) adds the least area goes. A corner cut off by something in front
// of it comes back that way.
bool HullToQuad(std::vector<cv::Point2d> poly, TQuad& quad) {
  while (poly.size() > 4) {
    const std::size_t n = poly.size();
    double best = HUGE_VAL;
    std::size_t bestI = 0;
    cv::Point2d bestP;
    for (std::size_t i = 0; i < n; ++i) {
      const cv::Point2d a = poly[(i + n - 1) % n], b = poly[i], c = poly[(i + 1) % n], d = poly[(i + 2) % n];
      cv::Point2d p;
      if (!Intersect(a, b - a, d, c - d, p)) continue;
      // The meeting point must lie beyond b along a-b and beyond c along d-c.
      if ((p - b).dot(b - a) < 0 || (p - c).dot(c - d) < 0) continue;
      const double added = std::abs(Cross(c - b, p - b)) / 2;
      if (added < best) best = added, bestI = i, bestP = p;
    }
    if (best == HUGE_VAL) return false;
    const std::size_t next = (bestI + 1) % n;
    poly[bestI] = bestP;
    poly.erase(poly.begin() + static_cast<std::ptrdiff_t>(next));
  }
  if (poly.size() != 4) return false;
  quad = poly;
  return Convex(quad);
}

// Mean contrast across the sides and the share of the sides that has any:
// the edges of a real object run all along it.
struct TSupport {
  double Strength = 0, Covered = 0;
};

TSupport SideSupport(const cv::Mat& gray, const TQuad& q) {
  TSupport s;
  int samples = 0, covered = 0;
  double sum = 0;
  for (int side = 0; side < 4; ++side) {
    const cv::Point2d a = q[side], b = q[(side + 1) % 4];
    const cv::Point2d d = b - a;
    const double len = std::hypot(d.x, d.y);
    if (len < 4) return s;
    const cv::Point2d n(-d.y / len, d.x / len);
    const int count = std::max(8, static_cast<int>(len / 3));
    for (int k = 0; k < count; ++k) {
      const cv::Point2d p = a + (0.05 + 0.9 * (k + 0.5) / count) * d;
      const cv::Point2d in = p + 2.5 * n, out = p - 2.5 * n;
      const int x1 = static_cast<int>(std::lround(in.x)), y1 = static_cast<int>(std::lround(in.y));
      const int x2 = static_cast<int>(std::lround(out.x)), y2 = static_cast<int>(std::lround(out.y));
      if (x1 < 0 || y1 < 0 || x2 < 0 || y2 < 0 || x1 >= gray.cols || x2 >= gray.cols || y1 >= gray.rows ||
          y2 >= gray.rows)
        continue;
      const double c = std::abs(double(gray.at<std::uint8_t>(y1, x1)) - gray.at<std::uint8_t>(y2, x2));
      sum += c;
      ++samples;
      if (c > 12) ++covered;
    }
  }
  if (samples == 0) return s;
  s.Strength = sum / samples;
  s.Covered = double(covered) / samples;
  return s;
}

void AddCandidates(const cv::Mat& mask, int mode, std::vector<TQuad>& out, double imageArea) {
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, mode, cv::CHAIN_APPROX_SIMPLE);
  for (const auto& c : contours) {
    if (std::abs(cv::contourArea(c)) < kMinAreaShare * imageArea * 0.5) continue;
    std::vector<cv::Point> hull;
    cv::convexHull(c, hull);
    const double area = cv::contourArea(hull);
    if (area < kMinAreaShare * imageArea || area > kMaxAreaShare * imageArea) continue;
    std::vector<cv::Point> simple;
    cv::approxPolyDP(hull, simple, 0.01 * cv::arcLength(hull, true), true);
    std::vector<cv::Point2d> poly(simple.begin(), simple.end());
    TQuad q;
    if (!HullToQuad(poly, q)) continue;
    // The hugging quadrilateral of something round or ragged is much larger
    // than the thing itself.
    if (area < 0.85 * Area(q)) continue;
    out.push_back(q);
  }
}

// Sub-pixel position of the strongest step across a side at p (normal n),
// searched within +-reach: the peak of the derivative along the normal,
// fitted with a parabola. `sign` keeps to steps of the side's own kind
// (paper brighter than what is around it, or darker).
bool EdgePoint(const cv::Mat& f, cv::Point2d p, cv::Point2d n, double reach, int sign, cv::Point2d& at,
               double& strength) {
  const int steps = static_cast<int>(std::ceil(reach * 2));
  std::vector<double> profile(static_cast<std::size_t>(2 * steps + 3));
  for (int i = -steps - 1; i <= steps + 1; ++i) {
    const cv::Point2d q = p + (i * 0.5) * n;
    if (q.x < 1 || q.y < 1 || q.x > f.cols - 2 || q.y > f.rows - 2) return false;
    // Bilinear.
    const int x = static_cast<int>(q.x), y = static_cast<int>(q.y);
    const double fx = q.x - x, fy = q.y - y;
    const float* r0 = f.ptr<float>(y);
    const float* r1 = f.ptr<float>(y + 1);
    profile[static_cast<std::size_t>(i + steps + 1)] =
        (r0[x] * (1 - fx) + r0[x + 1] * fx) * (1 - fy) + (r1[x] * (1 - fx) + r1[x + 1] * fx) * fy;
  }
  // Derivative at half steps between samples: index k is between k and k+1.
  double best = 0;
  int bestK = -1;
  std::vector<double> d(profile.size() - 1);
  for (std::size_t k = 0; k + 1 < profile.size(); ++k) d[k] = (profile[k + 1] - profile[k]) * sign;
  for (std::size_t k = 1; k + 1 < d.size(); ++k) {
    if (d[k] > best && d[k] >= d[k - 1] && d[k] >= d[k + 1]) best = d[k], bestK = static_cast<int>(k);
  }
  if (bestK < 0) return false;
  // The outline is the object's outermost edge: a printed frame or a line
  // of text just inside can be the stronger step, and is not the side.
  // The normal points inwards, so outermost is the lowest index.
  for (std::size_t k = 1; k + 1 < d.size() && static_cast<int>(k) < bestK; ++k) {
    if (d[k] >= 0.5 * best && d[k] >= d[k - 1] && d[k] >= d[k + 1]) {
      bestK = static_cast<int>(k);
      break;
    }
  }
  const double l = d[bestK - 1], c = d[bestK], r = d[bestK + 1];
  const double denom = l - 2 * c + r;
  const double offset = denom < 0 ? 0.5 * (l - r) / denom : 0;
  // Sample k sits at (k - steps - 1) half steps; the derivative k between k and k+1.
  const double along = ((bestK + 0.5 + offset) - steps - 1) * 0.5;
  at = p + along * n;
  strength = c;
  return true;
}

struct TLine {
  cv::Point2d Point, Direction;
};

// A line through the edge points of one side, refitted without the points
// far from it: whatever covers part of a side (a thumb, a clip) gives
// points off the line.
bool FitLine(std::vector<cv::Point2d> pts, TLine& line, double& inliers) {
  const std::size_t total = pts.size();
  for (int round = 0; round < 4; ++round) {
    if (pts.size() < 6) return false;
    cv::Vec4f l;
    std::vector<cv::Point2f> f(pts.begin(), pts.end());
    cv::fitLine(f, l, cv::DIST_L2, 0, 0.01, 0.01);
    line.Direction = {l[0], l[1]};
    line.Point = {l[2], l[3]};
    // Refit in double precision: fitLine works in float.
    cv::Point2d mean(0, 0);
    for (const auto& p : pts) mean += p;
    mean *= 1.0 / pts.size();
    double sxx = 0, sxy = 0, syy = 0;
    for (const auto& p : pts) {
      const cv::Point2d q = p - mean;
      sxx += q.x * q.x, sxy += q.x * q.y, syy += q.y * q.y;
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    line.Point = mean;
    line.Direction = {std::cos(angle), std::sin(angle)};
    std::vector<double> res;
    for (const auto& p : pts) res.push_back(std::abs(Cross(line.Direction, p - mean)));
    std::vector<double> sorted = res;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double limit = std::max(0.35, 3.0 * 1.4826 * sorted[sorted.size() / 2]);
    std::vector<cv::Point2d> kept;
    for (std::size_t i = 0; i < pts.size(); ++i)
      if (res[i] <= limit) kept.push_back(pts[i]);
    if (kept.size() == pts.size()) break;
    pts.swap(kept);
  }
  inliers = double(pts.size()) / total;
  return true;
}

// Refines a rough quadrilateral (full-size pixels) on the smoothed grey
// photo; false when a side gives no line.
bool Refine(const cv::Mat& f, TQuad& q, double& support) {
  // Which way the sides step: the inside is usually the lighter.
  const cv::Point2d centre = (q[0] + q[1] + q[2] + q[3]) * 0.25;
  TLine lines[4];
  double inlierSum = 0;
  for (int pass = 0; pass < 2; ++pass) {
    // The rough outline comes from a copy of at most kSearchSide pixels:
    // a few of its pixels either way cover its error.
    const double reach = pass == 0 ? std::max(4.0, 3.0 * std::max(f.cols, f.rows) / kSearchSide) : 2.0;
    inlierSum = 0;
    for (int side = 0; side < 4; ++side) {
      const cv::Point2d a = q[side], b = q[(side + 1) % 4];
      const cv::Point2d d = b - a;
      const double len = std::hypot(d.x, d.y);
      cv::Point2d n(-d.y / len, d.x / len);
      if (n.dot(centre - a) < 0) n = -n;  // pointing inwards
      // Both kinds of step are tried; the one with more support is the side.
      std::vector<cv::Point2d> best;
      double bestStrength = -1;
      for (int sign : {1, -1}) {
        std::vector<cv::Point2d> pts;
        std::vector<double> strengths;
        const int count = std::clamp(static_cast<int>(len / 2), 12, 400);
        for (int k = 0; k < count; ++k) {
          const double u = 0.04 + 0.92 * (k + 0.5) / count;
          cv::Point2d at;
          double s = 0;
          if (EdgePoint(f, a + u * d, n, reach, sign, at, s)) {
            pts.push_back(at);
            strengths.push_back(s);
          }
        }
        if (strengths.empty()) continue;
        std::vector<double> sorted = strengths;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double median = sorted[sorted.size() / 2];
        // Weak steps are texture, not the side.
        std::vector<cv::Point2d> strong;
        for (std::size_t i = 0; i < pts.size(); ++i)
          if (strengths[i] >= 0.4 * median) strong.push_back(pts[i]);
        const double score = median * strong.size();
        if (score > bestStrength) bestStrength = score, best.swap(strong);
      }
      double inliers = 0;
      if (!FitLine(best, lines[side], inliers)) return false;
      inlierSum += inliers * std::min<double>(1.0, best.size() / (0.8 * std::clamp(static_cast<int>(len / 2), 12, 400)));
    }
    TQuad next(4);
    for (int k = 0; k < 4; ++k) {
      const TLine& l1 = lines[(k + 3) % 4];
      const TLine& l2 = lines[k];
      if (!Intersect(l1.Point, l1.Direction, l2.Point, l2.Direction, next[k])) return false;
    }
    // A refinement that jumps far is following something else.
    for (int k = 0; k < 4; ++k)
      if (cv::norm(next[k] - q[k]) > 0.05 * std::max(f.cols, f.rows)) return false;
    q = next;
  }
  support = inlierSum / 4;
  return Convex(q);
}

void Say(PlanoraDetectResult& result, const char* text) {
  std::snprintf(result.Reason, sizeof result.Reason, "%s", text);
}

void Detect(const std::uint8_t* pixels, int w, int h, std::size_t stride, PlanoraDetectResult& result) {
  if (w < 16 || h < 16) {
    Say(result, "the photo is too small to find an object in");
    return;
  }
  const cv::Mat bgr(h, w, CV_8UC3, const_cast<std::uint8_t*>(pixels), stride);
  cv::Mat gray;
  cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);

  const double scale = std::min(1.0, kSearchSide / std::max(w, h));
  cv::Mat small;
  if (scale < 1.0) {
    cv::resize(gray, small, cv::Size(), scale, scale, cv::INTER_AREA);
  } else {
    small = gray;
  }
  cv::Mat smooth;
  cv::GaussianBlur(small, smooth, cv::Size(5, 5), 0);
  const double imageArea = double(small.cols) * small.rows;

  std::vector<TQuad> candidates;
  // Light and dark regions: a sheet on a desk, a screen on a wall.
  cv::Mat binary;
  cv::threshold(smooth, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5));
  for (int invert = 0; invert < 2; ++invert) {
    cv::Mat m = invert ? 255 - binary : binary.clone();
    cv::morphologyEx(m, m, cv::MORPH_OPEN, kernel);
    cv::morphologyEx(m, m, cv::MORPH_CLOSE, kernel);
    AddCandidates(m, cv::RETR_EXTERNAL, candidates, imageArea);
  }
  // Edges: an object of about the tone of its surroundings.
  for (const double high : {60.0, 120.0}) {
    cv::Mat edges;
    cv::Canny(smooth, edges, high / 2, high);
    cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    AddCandidates(edges, cv::RETR_LIST, candidates, imageArea);
  }
  if (candidates.empty()) {
    Say(result, "no rectangle-like object stands out in the photo");
    return;
  }
  // The most prominent: edges all along its sides, clear ones, and large.
  double bestScore = 0;
  TQuad best;
  for (const TQuad& q : candidates) {
    const TSupport s = SideSupport(smooth, q);
    const double score = s.Covered * s.Covered * std::min(1.0, s.Strength / 40.0) * std::sqrt(Area(q) / imageArea);
    if (score > bestScore) bestScore = score, best = q;
  }
  if (best.empty() || bestScore <= 0) {
    Say(result, "no rectangle-like object stands out in the photo");
    return;
  }
  const TSupport seen = SideSupport(smooth, best);
  for (auto& p : best) p = cv::Point2d((p.x + 0.5) / scale - 0.5, (p.y + 0.5) / scale - 0.5);

  cv::Mat f;
  gray.convertTo(f, CV_32F);
  cv::GaussianBlur(f, f, cv::Size(0, 0), 0.8);
  double support = 0;
  TQuad refined = best;
  if (!Refine(f, refined, support)) {
    Say(result, "an outline was seen, but its sides could not be located precisely");
    return;
  }
  for (const auto& p : refined) {
    if (p.x < -0.5 || p.y < -0.5 || p.x > w - 0.5 || p.y > h - 0.5) {
      Say(result, "the object's corners lie outside the photo");
      return;
    }
  }
  result.Found = 1;
  result.Confidence = std::clamp(support * seen.Covered * std::min(1.0, seen.Strength / 25.0), 0.0, 1.0);
  for (int k = 0; k < 4; ++k) {
    result.Corners[k][0] = refined[k].x;
    result.Corners[k][1] = refined[k].y;
  }
}

}  // namespace
}  // namespace planora

// The module's only exports (it is built with hidden visibility). Nothing
// may unwind into the program: it may have been built by another compiler.
extern "C" __attribute__((visibility("default"))) uint32_t planora_detect_interface(void) {
  return PLANORA_DETECT_INTERFACE;
}

extern "C" __attribute__((visibility("default"))) int32_t planora_detect_rectangle(const uint8_t* pixels, int32_t width,
                                                                                   int32_t height, ptrdiff_t stride,
                                                                                   PlanoraDetectResult* result) {
  if (result == nullptr) return PLANORA_DETECT_FAILED;
  *result = PlanoraDetectResult{};
  if (width > 0 && height > 0 && (pixels == nullptr || stride < ptrdiff_t{3} * width)) {
    planora::Say(*result, "the pixels handed to the detector are not 24-bit rows");
    return PLANORA_DETECT_FAILED;
  }
  try {
    planora::Detect(pixels, width, height, static_cast<std::size_t>(stride), *result);
    return PLANORA_DETECT_DONE;
  } catch (const std::bad_alloc&) {
    *result = PlanoraDetectResult{};
    return PLANORA_DETECT_NO_MEMORY;
  } catch (const std::exception& e) {
    *result = PlanoraDetectResult{};
    planora::Say(*result, e.what());
    return PLANORA_DETECT_FAILED;
  } catch (...) {
    *result = PlanoraDetectResult{};
    planora::Say(*result, "the detector failed");
    return PLANORA_DETECT_FAILED;
  }
}
