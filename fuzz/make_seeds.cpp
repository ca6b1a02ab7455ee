// Writes the seed corpora of the fuzz targets from the code's own writers:
// photos of every format and kind this program writes or reads (sizes,
// grey, EXIF, ICC), settings files and argument lists. Nothing comes from
// elsewhere.
//   planora-fuzz-seeds FOLDER   (makes FOLDER/read_photo, FOLDER/ini, FOLDER/args)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"

using namespace planora;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TPhoto Gradient(int w, int h) {
  TPhoto p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3), {}, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* q = &p.Pixels[(static_cast<std::size_t>(y) * w + x) * 3];
      q[0] = static_cast<std::uint8_t>(x * 16);
      q[1] = static_cast<std::uint8_t>(y * 16);
      q[2] = static_cast<std::uint8_t>((x + y) * 8);
    }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: planora-fuzz-seeds FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* sub : {"read_photo", "ini", "args"}) fs::create_directories(root / sub);

  // Photos: a few sizes, every output format, one with EXIF and a profile.
  TPhoto tagged = Gradient(9, 7);
  tagged.Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  tagged.Icc.assign(132, 0);  // a header and an empty tag table
  std::copy_n("RGB ", 4, tagged.Icc.begin() + 16);
  std::copy_n("acsp", 4, tagged.Icc.begin() + 36);
  tagged.Icc[3] = 132;
  int n = 0;
  for (const TPhoto& photo : {Gradient(1, 1), Gradient(5, 3), Gradient(16, 9), tagged}) {
    for (const char* ext : {".jpg", ".png", ".tif", ".bmp", ".ppm"}) {
      WritePhoto((root / "read_photo" / ("seed" + std::to_string(n++) + ext)).string(), photo);
    }
  }
  // Forms the writers never make: grey PGM, 16-bit PPM, a top-down 32-bit BMP.
  Put(root / "read_photo" / "grey.pgm", std::string("P5\n2 2\n255\n") + "\x10\x80\xF0\x00");
  Put(root / "read_photo" / "deep.ppm", std::string("P6 1 1 65535\n") + std::string("\x12\x34\x56\x78\x9A\xBC", 6));
  std::string bmp(14 + 40 + 4, '\0');
  bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 1, bmp[22] = '\xFF', bmp[23] = '\xFF',
  bmp[24] = '\xFF', bmp[25] = '\xFF', bmp[26] = 1, bmp[28] = 32, bmp[54] = 10, bmp[55] = 20, bmp[56] = 30;
  Put(root / "read_photo" / "topdown32.bmp", bmp);

  // Settings files as the plug-in writes them, and odd ones. The last three
  // zero-separated parts choose the section, key and value the target writes.
  const std::string z(1, '\0');
  Put(root / "ini" / "plugin.ini",
      "[Planroa]\nInhash=123456\nSelection_a0=10,5\nSelection_a1=-3\nOriginal_Groesse=90\n" + z + "Planroa" + z +
          "Inhash" + z + "654321");
  Put(root / "ini" / "crlf.ini", "[A]\r\nx = \"quoted\" \r\n; note\r\n[B]\r\ny=2" + z + "B" + z + "y" + z + "3");
  Put(root / "ini" / "empty.ini", z + "New" + z + "key" + z + " spaced value ");

  // Argument lists, separated by zero bytes.
  const std::vector<std::vector<std::string>> lists = {
      {"--corners", "20,-15,-20,-15,-20,15,20,15", "in.jpg", "out.png"},
      {"--pixel-corners=1,2,3,4,5,6,7,8", "--crop", "80", "--quality", "90", "--report", "-", "a.ppm", "b.jpg"},
      {"--settings", "planora.ini", "--nearest", "--threads", "2", "--", "-in.tif", "out.bmp"},
      {"--help"},
      {"--version"},
  };
  int k = 0;
  for (const auto& list : lists) {
    std::string bytes;
    for (const std::string& a : list) bytes += a + z;
    Put(root / "args" / ("seed" + std::to_string(k++)), bytes);
  }
  return 0;
}
