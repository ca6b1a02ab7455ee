// The yardstick of the batch benchmark: the same job as the batch tool's,
// done the short way with OpenCV, as a program of its own (so that it
// loads what such a program loads and no more).
//
//   planora-bench-opencv-pipeline IN OUT AX,AY,BX,BY,CX,CY,DX,DY
//
// The corners a (upper right), b (upper left), c (lower left), d (lower
// right) in photo pixels go onto a rectangle inside the photo's frame;
// bilinear; written as JPEG at quality 95.
#include <cstdio>
#include <locale>
#include <sstream>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: planora-bench-opencv-pipeline IN OUT AX,AY,BX,BY,CX,CY,DX,DY\n");
    return 2;
  }
  float c[8];
  std::istringstream is(argv[3]);
  is.imbue(std::locale::classic());
  for (float& v : c) {
    is >> v;
    is.ignore(1);
  }
  const cv::Mat photo = cv::imread(argv[1], cv::IMREAD_COLOR);
  if (photo.empty()) return 1;
  const float w = static_cast<float>(photo.cols), h = static_cast<float>(photo.rows);
  const cv::Point2f from[4] = {{c[2], c[3]}, {c[0], c[1]}, {c[6], c[7]}, {c[4], c[5]}};
  const cv::Point2f to[4] = {{0.05f * w, 0.05f * h}, {0.95f * w, 0.05f * h}, {0.95f * w, 0.95f * h},
                             {0.05f * w, 0.95f * h}};
  cv::Mat result;
  cv::warpPerspective(photo, result, cv::getPerspectiveTransform(from, to), photo.size(), cv::INTER_LINEAR);
  return cv::imwrite(argv[2], result, {cv::IMWRITE_JPEG_QUALITY, 95}) ? 0 : 1;
}
