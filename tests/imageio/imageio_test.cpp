#include "apps/imageio/imageio.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "apps/imageio/metadata.h"
#include "platform/sysutils.h"
#include "tests/support/temp_dir.h"

#include <cmath>
#include <exiv2/exiv2.hpp>

// The largest single operator-new request while tracking is on: shows that
// an absurd header is refused before the pixel buffer is asked for.
static std::atomic<bool> gTrackAllocations{false};
static std::atomic<std::size_t> gLargestAllocation{0};

// GCC pairs the inlined malloc with the free below and warns, though both
// operators are replaced together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (gTrackAllocations && size > gLargestAllocation) gLargestAllocation = size;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace planora {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class ImageIoTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static void Put(const std::string& path, const TBytes& bytes) { test::WriteBytes(path, bytes); }
  static TBytes Get(const std::string& path) { return test::ReadByteVector(path); }
  std::set<std::string> Names() const { return dir_.Entries(); }
  test::TTempDir dir_{"planora-imageio"};
};

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

// Pixels that differ everywhere, so a misplaced row, column or channel shows.
TPhoto Noise(int w, int h) {
  TPhoto p{w, h, TBytes(static_cast<std::size_t>(w) * h * 3), {}, {}};
  std::uint32_t state = 12345;
  for (auto& b : p.Pixels) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
  return p;
}

// Four flat quadrants (blue, green / red, white in B,G,R), wide enough for
// JPEG to keep their centres exact within a few levels.
TPhoto Quadrants(int w, int h) {
  TPhoto p{w, h, TBytes(static_cast<std::size_t>(w) * h * 3), {}, {}};
  const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      std::copy_n(colours[(y >= h / 2) * 2 + (x >= w / 2)], 3, &p.Pixels[(static_cast<std::size_t>(y) * w + x) * 3]);
  return p;
}

std::array<int, 3> At(const TPhoto& p, int x, int y) {
  const std::uint8_t* q = &p.Pixels[(static_cast<std::size_t>(y) * p.Width + x) * 3];
  return {q[0], q[1], q[2]};
}

// The kind of block a camera writes: IFD0 with Orientation (value at byte
// 18) and Software (a string stored after the directory).
TBytes ExifBlock(bool little, int orientation) {
  TBytes b(46, 0);
  auto put16 = [&](std::size_t at, unsigned v) {
    b[at + (little ? 0 : 1)] = static_cast<std::uint8_t>(v);
    b[at + (little ? 1 : 0)] = static_cast<std::uint8_t>(v >> 8);
  };
  auto put32 = [&](std::size_t at, unsigned v) {
    put16(at + (little ? 0 : 2), v & 0xFFFF);
    put16(at + (little ? 2 : 0), v >> 16);
  };
  b[0] = b[1] = little ? 'I' : 'M';
  put16(2, 42);
  put32(4, 8);
  put16(8, 2);
  put16(10, 0x0112), put16(12, 3), put32(14, 1), put16(18, static_cast<unsigned>(orientation));
  put16(22, 0x0131), put16(24, 2), put32(26, 8), put32(30, 38);
  std::copy_n("Planora", 8, b.begin() + 38);
  return b;
}

// A well-formed ICC header (the checks libpng makes) and filler bytes.
TBytes IccProfile(std::size_t size, const char* colourSpace) {
  TBytes p(size, 0);
  for (std::size_t i = 132; i < size; ++i) p[i] = static_cast<std::uint8_t>(i * 7);
  const auto be32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  };
  be32(0, static_cast<std::uint32_t>(size));
  be32(8, 0x02100000);
  std::copy_n("mntr", 4, p.begin() + 12);
  std::copy_n(colourSpace, 4, p.begin() + 16);
  std::copy_n("XYZ ", 4, p.begin() + 20);
  std::copy_n("acsp", 4, p.begin() + 36);
  be32(68, 0xF6D6), be32(72, 0x10000), be32(76, 0xD32D);  // D50
  be32(128, 0);                                            // no tags
  return p;
}

std::uint32_t Crc32(const std::uint8_t* d, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= d[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void PutBe32(TBytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (24 - 8 * i)));
}

void PngChunk(TBytes& out, const char* type, const TBytes& body) {
  PutBe32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// A PNG whose rows (rowBytes each, unfiltered) are stored uncompressed in
// the zlib stream, so that the file is made without any PNG library.
TBytes HandMadePng(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colourType,
                   std::size_t rowBytes, const TBytes& rows, const TBytes& palette = {}) {
  TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes ihdr;
  PutBe32(ihdr, w), PutBe32(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});
  PngChunk(png, "IHDR", ihdr);
  if (!palette.empty()) PngChunk(png, "PLTE", palette);
  TBytes raw;
  for (std::size_t y = 0; y * rowBytes < rows.size(); ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), rows.begin() + y * rowBytes, rows.begin() + (y + 1) * rowBytes);
  }
  TBytes z = {0x78, 0x01, 0x01, static_cast<std::uint8_t>(raw.size()), static_cast<std::uint8_t>(raw.size() >> 8),
              static_cast<std::uint8_t>(~raw.size()), static_cast<std::uint8_t>(~raw.size() >> 8)};
  z.insert(z.end(), raw.begin(), raw.end());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : raw) a = (a + v) % 65521, b = (b + a) % 65521;
  PutBe32(z, (b << 16) | a);
  PngChunk(png, "IDAT", z);
  PngChunk(png, "IEND", {});
  return png;
}

// Position of the first SOF marker's height field in a JPEG.
std::size_t SofSizeOffset(const TBytes& jpeg) {
  std::size_t pos = 2;
  while (pos + 4 < jpeg.size() && jpeg[pos] == 0xFF) {
    if (jpeg[pos + 1] >= 0xC0 && jpeg[pos + 1] <= 0xC2) return pos + 5;
    pos += 2 + (jpeg[pos + 2] << 8 | jpeg[pos + 3]);
  }
  return 0;
}

TEST_F(ImageIoTest, LosslessFormatsRoundTripExactlyAtOddSizes) {
  for (const char* ext : {".png", ".tif", ".bmp", ".ppm", ".TIFF", ".Png"}) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{1001, 5}}) {
      SCOPED_TRACE(std::string(ext) + " " + std::to_string(w) + "x" + std::to_string(h));
      const TPhoto photo = Noise(w, h);
      const std::string path = Path("round" + std::string(ext));
      WritePhoto(path, photo);
      const TPhoto back = ReadPhoto(path);
      EXPECT_EQ(back.Width, w);
      EXPECT_EQ(back.Height, h);
      EXPECT_TRUE(back.Pixels == photo.Pixels);
    }
  }
  // The content decides the format, not the name.
  WritePhoto(Path("really.png"), Noise(7, 3));
  fs::rename(Path("really.png"), Path("looks.jpg"));
  EXPECT_TRUE(ReadPhoto(Path("looks.jpg")).Pixels == Noise(7, 3).Pixels);

  // EXIF and ICC travel through PNG; TIFF keeps the profile.
  TPhoto tagged = Noise(5, 4);
  tagged.Exif = ExifBlock(true, 1);
  tagged.Icc = IccProfile(3000, "RGB ");
  WritePhoto(Path("tagged.png"), tagged);
  const TPhoto png = ReadPhoto(Path("tagged.png"));
  EXPECT_EQ(png.Exif, tagged.Exif);
  EXPECT_EQ(png.Icc, tagged.Icc);
  WritePhoto(Path("tagged.tif"), tagged);
  EXPECT_EQ(ReadPhoto(Path("tagged.tif")).Icc, tagged.Icc);
}

TEST_F(ImageIoTest, JpegRoundTripsWithinToleranceAndCarriesMetadata) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{1001, 40}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    TPhoto photo{w, h, TBytes(static_cast<std::size_t>(w) * h * 3), {}, {}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          photo.Pixels[(static_cast<std::size_t>(y) * w + x) * 3 + c] = static_cast<std::uint8_t>(40 + c * 60 + x / 8 + y);
    WritePhoto(Path("smooth.JPEG"), photo);
    const TPhoto back = ReadPhoto(Path("smooth.JPEG"));
    ASSERT_EQ(back.Width, w);
    ASSERT_EQ(back.Height, h);
    int worst = 0;
    double sum = 0;
    for (std::size_t i = 0; i < photo.Pixels.size(); ++i) {
      worst = std::max(worst, std::abs(photo.Pixels[i] - back.Pixels[i]));
      sum += std::abs(photo.Pixels[i] - back.Pixels[i]);
    }
    EXPECT_LE(worst, 6);
    EXPECT_LT(sum / photo.Pixels.size(), 1.5);
  }
  // Channel order: each quadrant keeps its colour.
  WritePhoto(Path("quad.jpg"), Quadrants(64, 32));
  const TPhoto quad = ReadPhoto(Path("quad.jpg"));
  for (const auto& [x, y] : {std::pair{16, 8}, std::pair{48, 8}, std::pair{16, 24}, std::pair{48, 24}})
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(At(quad, x, y)[c], At(Quadrants(64, 32), x, y)[c], 3);

  // The quality reaches the encoder.
  const TPhoto noise = Noise(200, 100);
  WritePhoto(Path("q30.jpg"), noise, {30});
  WritePhoto(Path("q95.jpg"), noise, {95});
  EXPECT_LT(fs::file_size(Path("q30.jpg")) * 2, fs::file_size(Path("q95.jpg")));

  // EXIF goes right after SOI as a camera writes it; a profile larger than
  // one APP2 segment is split and put back together; a grey profile no
  // longer describes the RGB pixels and is not kept.
  TPhoto tagged = Noise(16, 16);
  tagged.Exif = ExifBlock(false, 1);
  tagged.Icc = IccProfile(70000, "RGB ");
  WritePhoto(Path("tagged.jpg"), tagged);
  const TBytes file = Get(Path("tagged.jpg"));
  ASSERT_GT(file.size(), 12u);
  EXPECT_EQ(file[2], 0xFF);
  EXPECT_EQ(file[3], 0xE1);
  EXPECT_EQ(std::string(file.begin() + 6, file.begin() + 12), std::string("Exif\0\0", 6));
  const TPhoto back = ReadPhoto(Path("tagged.jpg"));
  EXPECT_EQ(back.Exif, tagged.Exif);
  EXPECT_EQ(back.Icc, tagged.Icc);
  tagged.Icc = IccProfile(500, "GRAY");
  WritePhoto(Path("grey.jpg"), tagged);
  EXPECT_TRUE(ReadPhoto(Path("grey.jpg")).Icc.empty());
}

TEST_F(ImageIoTest, HandMadeFilesReadWithTheRightChannelsAndRows) {
  // P6 with a comment: samples are R, G, B.
  TBytes ppm = Text("P6\n# made by hand\n2 1\n255\n");
  ppm.insert(ppm.end(), {255, 0, 0, 10, 20, 30});
  Put(Path("a.ppm"), ppm);
  TPhoto p = ReadPhoto(Path("a.ppm"));
  EXPECT_EQ((std::array{At(p, 0, 0), At(p, 1, 0)}), (std::array{std::array{0, 0, 255}, std::array{30, 20, 10}}));

  // 16-bit grey, most significant byte first, scaled to 8 bits.
  TBytes pgm = Text("P5 3 1 65535\n");
  pgm.insert(pgm.end(), {0xFF, 0xFF, 0x80, 0x00, 0x01, 0x00});
  Put(Path("g.pgm"), pgm);
  p = ReadPhoto(Path("g.pgm"));
  EXPECT_EQ(At(p, 0, 0), (std::array{255, 255, 255}));
  EXPECT_EQ(At(p, 1, 0), (std::array{128, 128, 128}));
  EXPECT_EQ(At(p, 2, 0), (std::array{1, 1, 1}));

  // 32-bit BMP stored top-down (negative height), fourth byte ignored.
  TBytes bmp(54, 0);
  bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 1;
  bmp[22] = 0xFE, bmp[23] = bmp[24] = bmp[25] = 0xFF;  // height -2
  bmp[26] = 1, bmp[28] = 32;
  bmp.insert(bmp.end(), {1, 2, 3, 0, 4, 5, 6, 0});
  Put(Path("t.bmp"), bmp);
  p = ReadPhoto(Path("t.bmp"));
  EXPECT_EQ(p.Height, 2);
  EXPECT_EQ(At(p, 0, 0), (std::array{1, 2, 3}));
  EXPECT_EQ(At(p, 0, 1), (std::array{4, 5, 6}));

  // RGBA PNG: opaque red, transparent blue, half-transparent green; alpha
  // goes over white.
  Put(Path("alpha.png"), HandMadePng(3, 1, 8, 6, 12, {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 128}));
  p = ReadPhoto(Path("alpha.png"));
  EXPECT_EQ(At(p, 0, 0), (std::array{0, 0, 255}));
  EXPECT_EQ(At(p, 1, 0), (std::array{255, 255, 255}));
  EXPECT_EQ(At(p, 2, 0), (std::array{127, 255, 127}));
  // 16-bit grey, two rows; and a palette.
  Put(Path("grey16.png"), HandMadePng(2, 2, 16, 0, 4, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x02, 0x00}));
  p = ReadPhoto(Path("grey16.png"));
  EXPECT_EQ((std::array{At(p, 0, 0)[1], At(p, 1, 0)[1], At(p, 0, 1)[1], At(p, 1, 1)[1]}), (std::array{255, 128, 0, 2}));
  Put(Path("palette.png"), HandMadePng(2, 1, 8, 3, 2, {1, 0}, {200, 10, 20, 30, 40, 250}));
  p = ReadPhoto(Path("palette.png"));
  EXPECT_EQ(At(p, 0, 0), (std::array{250, 40, 30}));
  EXPECT_EQ(At(p, 1, 0), (std::array{20, 10, 200}));
}

TEST_F(ImageIoTest, OrientationIsAppliedAndTheKeptBlockSaysOne) {
  // Stored  A B C / D E F, and how a viewer shows it for each orientation.
  const char* shown[9] = {"", "ABC/DEF", "CBA/FED", "FED/CBA", "DEF/ABC", "AD/BE/CF", "DA/EB/FC", "FC/EB/DA", "CF/BE/AD"};
  TPhoto labels{3, 2, {}, {}, {}};
  for (char c : std::string("ABCDEF")) labels.Pixels.insert(labels.Pixels.end(), {std::uint8_t(c), 0, std::uint8_t(c)});
  for (int o = 1; o <= 8; ++o) {
    for (bool little : {true, false}) {
      SCOPED_TRACE(std::to_string(o) + (little ? " II" : " MM"));
      TPhoto stored = labels;
      stored.Exif = ExifBlock(little, o);
      WritePhoto(Path("o.png"), stored);
      const TPhoto p = ReadPhoto(Path("o.png"));
      std::string text;
      for (int y = 0; y < p.Height; ++y) {
        if (y > 0) text += '/';
        for (int x = 0; x < p.Width; ++x) text += static_cast<char>(At(p, x, y)[0]);
      }
      EXPECT_EQ(text, shown[o]);
      EXPECT_EQ(p.Exif, ExifBlock(little, 1));
    }
  }

  // JPEG: 6 turns a quarter clockwise, 3 half way; the block's byte order is kept.
  const TPhoto quad = Quadrants(64, 32);
  for (const auto& [o, little] : {std::pair{6, true}, std::pair{3, false}}) {
    SCOPED_TRACE(o);
    TPhoto stored = quad;
    stored.Exif = ExifBlock(little, o);
    WritePhoto(Path("o.jpg"), stored);
    const TPhoto p = ReadPhoto(Path("o.jpg"));
    EXPECT_EQ(p.Exif, ExifBlock(little, 1));
    // Where the stored top-left (blue) and top-right (green) quadrants went.
    const std::pair<int, int> blue = o == 6 ? std::pair{24, 16} : std::pair{48, 24};
    const std::pair<int, int> green = o == 6 ? std::pair{24, 48} : std::pair{16, 24};
    ASSERT_EQ(p.Width, o == 6 ? 32 : 64);
    EXPECT_GT(At(p, blue.first, blue.second)[0], 240);
    EXPECT_LT(At(p, blue.first, blue.second)[1], 15);
    EXPECT_GT(At(p, green.first, green.second)[1], 240);
    EXPECT_LT(At(p, green.first, green.second)[0], 15);
  }

  // A TIFF's own Orientation tag (6), in a file made by hand: 3 x 2 RGB,
  // uncompressed, one strip.
  TBytes tif = {'I', 'I', 42, 0, 8, 0, 0, 0, 11, 0};
  auto entry = [&](unsigned tag, unsigned type, unsigned value) {
    tif.insert(tif.end(), {std::uint8_t(tag), std::uint8_t(tag >> 8), std::uint8_t(type), 0, 1, 0, 0, 0,
                           std::uint8_t(value), std::uint8_t(value >> 8), 0, 0});
  };
  entry(256, 3, 3), entry(257, 3, 2);
  tif.insert(tif.end(), {2, 1, 3, 0, 3, 0, 0, 0, 146, 0, 0, 0});  // BitsPerSample 8,8,8 at 146
  entry(259, 3, 1), entry(262, 3, 2), entry(273, 4, 152), entry(274, 3, 6), entry(277, 3, 3);
  entry(278, 3, 2), entry(279, 4, 18), entry(284, 3, 1);
  tif.insert(tif.end(), {0, 0, 0, 0, 8, 0, 8, 0, 8, 0});
  for (char c : std::string("ABCDEF")) tif.insert(tif.end(), {std::uint8_t(c), 1, 2});
  ASSERT_EQ(tif.size(), 170u);
  Put(Path("o.tif"), tif);
  const TPhoto p = ReadPhoto(Path("o.tif"));
  ASSERT_EQ(p.Width, 2);
  ASSERT_EQ(p.Height, 3);
  EXPECT_EQ(At(p, 0, 0), (std::array{2, 1, int('D')}));
  EXPECT_EQ(At(p, 1, 0)[2], 'A');
  EXPECT_EQ(At(p, 0, 2)[2], 'F');
  EXPECT_EQ(At(p, 1, 2)[2], 'C');
}

TEST_F(ImageIoTest, AbsurdSizesAreRefusedBeforeAllocating) {
  Put(Path("huge.ppm"), Text("P6 100000 100000 255\n"));
  TBytes ihdr;
  PutBe32(ihdr, 100000), PutBe32(ihdr, 100000);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", {0x78, 0x01});
  Put(Path("huge.png"), png);
  TBytes jpeg;
  WritePhoto(Path("small.jpg"), Noise(16, 16));
  jpeg = Get(Path("small.jpg"));
  const std::size_t sof = SofSizeOffset(jpeg);
  ASSERT_GT(sof, 0u);
  jpeg[sof] = jpeg[sof + 2] = 0xEA, jpeg[sof + 1] = jpeg[sof + 3] = 0x60;  // 60000 x 60000
  Put(Path("huge.jpg"), jpeg);

  for (const char* name : {"huge.ppm", "huge.png"}) {
    gLargestAllocation = 0;
    gTrackAllocations = true;
    try {
      ReadPhoto(Path(name));
      ADD_FAILURE() << name << " was read";
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find(Path(name)), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find("is 100000 x 100000 pixels, more than this program handles (200 megapixels)"),
                std::string::npos)
          << e.Message();
    }
    gTrackAllocations = false;
    EXPECT_LT(gLargestAllocation.load(), 1u << 20) << name;
  }
  try {
    ReadPhoto(Path("huge.jpg"));
    ADD_FAILURE() << "huge.jpg was read";
  } catch (const EInOutError& e) {
    EXPECT_NE(e.Message().find("60000 x 60000 pixels"), std::string::npos) << e.Message();
  }

  // The limit is inclusive and can be lowered; zero sizes are refused.
  WritePhoto(Path("40x25.png"), Noise(40, 25));
  EXPECT_NO_THROW(ReadPhoto(Path("40x25.png"), {1000}));
  EXPECT_THROW(ReadPhoto(Path("40x25.png"), {999}), EInOutError);
  Put(Path("zero.ppm"), Text("P6 0 5 255\n"));
  try {
    ReadPhoto(Path("zero.ppm"));
    ADD_FAILURE() << "zero.ppm was read";
  } catch (const EInOutError& e) {
    EXPECT_NE(e.Message().find("0 x 5"), std::string::npos) << e.Message();
  }
}

TEST_F(ImageIoTest, DamagedMissingAndForeignFilesRaiseInOutErrors) {
  const auto message = [&](const std::string& name) -> std::string {
    try {
      ReadPhoto(Path(name));
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find(Path(name)), std::string::npos) << e.Message();
      return e.Message();
    } catch (const std::exception& e) {
      ADD_FAILURE() << name << ": " << e.what();
      return "";
    }
    ADD_FAILURE() << name << " was read";
    return "";
  };
  EXPECT_NE(message("missing.jpg").find("does not exist"), std::string::npos);
  Put(Path("notes.jpg"), Text("just some words\n"));
  EXPECT_NE(message("notes.jpg").find("not a supported photo"), std::string::npos);
  Put(Path("empty.png"), {});
  EXPECT_NE(message("empty.png").find("empty"), std::string::npos);
  fs::create_directory(Path("folder.jpg"));
  message("folder.jpg");

  // Cut at any point, or with a marker in the middle of the entropy data.
  const TPhoto noise = Noise(256, 128);
  WritePhoto(Path("whole.jpg"), noise);
  const TBytes jpeg = Get(Path("whole.jpg"));
  for (std::size_t length : {std::size_t{3}, std::size_t{100}, jpeg.size() / 2, jpeg.size() - 100}) {
    Put(Path("cut.jpg"), TBytes(jpeg.begin(), jpeg.begin() + length));
    EXPECT_NE(message("cut.jpg").find("damaged or truncated"), std::string::npos) << length;
  }
  TBytes hit = jpeg;
  hit[hit.size() / 2] = 0xFF, hit[hit.size() / 2 + 1] = 0xD3;
  Put(Path("hit.jpg"), hit);
  EXPECT_NE(message("hit.jpg").find("damaged"), std::string::npos);
  // Only the end marker missing: every pixel is there, so it is read.
  Put(Path("noeoi.jpg"), TBytes(jpeg.begin(), jpeg.end() - 2));
  EXPECT_TRUE(ReadPhoto(Path("noeoi.jpg")).Pixels == ReadPhoto(Path("whole.jpg")).Pixels);

  for (const char* ext : {".png", ".tif", ".bmp", ".ppm"}) {
    WritePhoto(Path(std::string("whole") + ext), noise);
    const TBytes data = Get(Path(std::string("whole") + ext));
    Put(Path(std::string("cut") + ext), TBytes(data.begin(), data.begin() + data.size() * 2 / 3));
    message(std::string("cut") + ext);
  }
}

TEST_F(ImageIoTest, FailedWritesLeaveNothingBehindAndTheTargetUntouched) {
  const TPhoto photo = Noise(600, 600);
  const auto expectFailure = [&](const std::string& path, const std::string& words, const TPhoto& p) {
    try {
      WritePhoto(path, p);
      ADD_FAILURE() << path << " was written";
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find(words), std::string::npos) << e.Message();
    }
  };
  expectFailure(Path("no/such/folder/out.jpg"), "does not exist", photo);
  expectFailure(Path("out.gif"), "unknown output format, use .jpg, .png, .tif, .bmp or .ppm", photo);
  expectFailure(Path("out"), "unknown output format", photo);
  expectFailure(Path("bad.png"), "", TPhoto{4, 4, TBytes(47), {}, {}});
  fs::create_directory(Path("dir.png"));
  expectFailure(Path("dir.png"), "folder", photo);
  EXPECT_EQ(Names(), (std::set<std::string>{"dir.png"}));

  // A write that fails part-way (the file size limit stands in for a full
  // disk) must keep the old file and remove the temporary one.
  struct TLimit {
    rlimit Old{};
    sighandler_t Handler;
    TLimit() : Handler(signal(SIGXFSZ, SIG_IGN)) {
      getrlimit(RLIMIT_FSIZE, &Old);
      rlimit small = Old;
      small.rlim_cur = 64 * 1024;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    ~TLimit() {
      setrlimit(RLIMIT_FSIZE, &Old);
      signal(SIGXFSZ, Handler);
    }
  };
  for (const char* name : {"keep.jpg", "keep.png", "keep.tif", "keep.bmp", "keep.ppm"}) {
    SCOPED_TRACE(name);
    WritePhoto(Path(name), Noise(3, 2));
    const TBytes before = Get(Path(name));
    {
      TLimit limit;
      expectFailure(Path(name), "", photo);
    }
    EXPECT_EQ(Get(Path(name)), before);
    EXPECT_TRUE(ReadPhoto(Path(name)).Width == 3);
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"dir.png", "keep.jpg", "keep.png", "keep.tif", "keep.bmp", "keep.ppm"}));

  // A replaced file keeps its permissions; a new one gets the umask's.
  chmod(Path("keep.png").c_str(), 0604);
  WritePhoto(Path("keep.png"), photo);
  struct stat st {};
  stat(Path("keep.png").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  const mode_t mask = umask(027);
  WritePhoto(Path("new.bmp"), photo);
  umask(mask);
  stat(Path("new.bmp").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace planora

// ---- EXIF through the metadata library

namespace planora {
namespace {

TEST(ExifMetadata, FocalLengthFromTheFocalPlaneOrThe35mmEquivalent) {
  // 4.5 mm at 250 px/mm on a 4000 x 3000 sensor picture: 1125 px, ratio 0.225.
  TBytes exif;
  SetExifFocalLength(exif, 4.5, 250, 4000, 3000);
  ASSERT_TRUE(ExifFocalRatio(exif, 4000, 3000).has_value());
  EXPECT_NEAR(*ExifFocalRatio(exif, 4000, 3000), 0.225, 1e-6);
  // A copy resized to half and turned on its side: the same ratio.
  EXPECT_NEAR(*ExifFocalRatio(exif, 1500, 2000), 0.225, 1e-6);

  // Added to a camera's block (big-endian, with orientation): both kept.
  TBytes camera = ExifBlock(false, 6);
  SetExifFocalLength(camera, 4.5, 250, 4000, 3000);
  EXPECT_EQ(ExifOrientation(camera), 6);
  ResetExifOrientation(camera);
  EXPECT_EQ(ExifOrientation(camera), 1);
  EXPECT_NEAR(*ExifFocalRatio(camera, 4000, 3000), 0.225, 1e-6);

  // Without the focal plane resolution the 35 mm equivalent (whole mm) is used.
  TBytes only35;
  {
    Exiv2::ExifData data;
    data["Exif.Photo.FocalLengthIn35mmFilm"] = std::uint16_t{28};
    data["Exif.Photo.FocalLength"] = Exiv2::Rational(45, 10);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, data);
    only35.assign(blob.begin(), blob.end());
  }
  EXPECT_NEAR(*ExifFocalRatio(only35, 4000, 3000), 28 / std::hypot(36.0, 24.0), 1e-12);

  // No focal length, or a block that is no EXIF at all: nothing, and no throw.
  EXPECT_FALSE(ExifFocalRatio(ExifBlock(true, 3), 4000, 3000).has_value());
  TBytes junk = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  EXPECT_FALSE(ExifFocalRatio(junk, 4000, 3000).has_value());
  EXPECT_EQ(ExifOrientation(junk), 1);
  const TBytes before = junk;
  ResetExifOrientation(junk);
  EXPECT_EQ(junk, before);
}

TEST_F(ImageIoTest, FocalLengthTravelsWithTheEXIFOfJPEGAndPNG) {
  TPhoto p;
  p.Width = 40;
  p.Height = 30;
  p.Pixels.assign(40 * 30 * 3, 128);
  SetExifFocalLength(p.Exif, 6.0, 10.0, 40, 30);  // 60 px on a 50 px diagonal
  for (const char* name : {"f.jpg", "f.png"}) {
    WritePhoto(Path(name), p);
    const TPhoto back = ReadPhoto(Path(name));
    ASSERT_TRUE(ExifFocalRatio(back.Exif, back.Width, back.Height).has_value()) << name;
    EXPECT_NEAR(*ExifFocalRatio(back.Exif, back.Width, back.Height), 1.2, 1e-6) << name;
  }
}

}  // namespace
}  // namespace planora
