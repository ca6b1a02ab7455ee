// Photos read straight into a bitmap and written from a bitmap's rows: the
// same pixels and the same files as through the photo's own buffer, for
// every format and every path a decoder takes (padded rows, bottom-up BMP,
// interlaced PNG with alpha, turned photos), and the JPEG writer's Huffman
// choice.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
#include "platform/graphics.h"
#include "platform/sysutils.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class BitmapIoTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static TBytes Get(const std::string& path) { return test::ReadByteVector(path); }
  test::TTempDir dir_{"planora_bitmap_io"};
};

TPhoto Noise(int w, int h, std::uint32_t state = 99) {
  TPhoto p{w, h, TBytes(static_cast<std::size_t>(w) * h * 3), {}, {}};
  for (auto& b : p.Pixels) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return p;
}

// Every row of the bitmap against the photo's tightly packed rows.
::testing::AssertionResult SamePixels(const TBitmap& bitmap, const TPhoto& photo) {
  if (bitmap.Width() != photo.Width || bitmap.Height() != photo.Height)
    return ::testing::AssertionFailure() << "bitmap " << bitmap.Width() << "x" << bitmap.Height() << ", photo "
                                         << photo.Width << "x" << photo.Height;
  const std::size_t row = static_cast<std::size_t>(photo.Width) * 3;
  for (int y = 0; y < photo.Height; ++y)
    if (std::memcmp(bitmap.ScanLine(y), photo.Pixels.data() + y * row, row) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  return ::testing::AssertionSuccess();
}

TBytes ExifWithOrientation(int orientation) {
  // Little-endian TIFF header, one IFD with one SHORT entry: Orientation.
  return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
          static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0};
}

TEST_F(BitmapIoTest, ReadingIntoABitmapGivesThePhotosPixelsAndMetadata) {
  for (const char* ext : {".png", ".tif", ".bmp", ".ppm", ".jpg"}) {
    // 1001 pixels make rows of 3003 bytes, padded to 3004 in the bitmap;
    // 700 x 600 is a bitmap of pages of its own.
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1001, 5}, std::pair{700, 600}}) {
      SCOPED_TRACE(std::string(ext) + " " + std::to_string(w) + "x" + std::to_string(h));
      TPhoto photo = Noise(w, h);
      if (std::string(ext) == ".jpg" || std::string(ext) == ".png") photo.Exif = ExifWithOrientation(1);
      const std::string path = Path("p" + std::string(ext));
      WritePhoto(path, photo);
      const TPhoto want = ReadPhoto(path);
      TBitmap bitmap(13, 7);  // what it held before goes
      bitmap.Fill(clLime);
      const TPhoto got = ReadPhoto(path, bitmap);
      EXPECT_EQ(got.Width, w);
      EXPECT_EQ(got.Height, h);
      EXPECT_TRUE(got.Pixels.empty());
      EXPECT_EQ(got.Exif, want.Exif);
      EXPECT_EQ(got.Icc, want.Icc);
      EXPECT_TRUE(SamePixels(bitmap, want));
    }
  }
}

TEST_F(BitmapIoTest, TurnedPhotosAndInterlacedAlphaReadAlikeIntoBitmaps) {
  // Every EXIF orientation, through PNG (lossless, so the photo path's
  // result is exact) and one quarter turn through JPEG.
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    TPhoto stored = Noise(37, 11, static_cast<std::uint32_t>(o));
    stored.Exif = ExifWithOrientation(o);
    WritePhoto(Path("o.png"), stored);
    const TPhoto want = ReadPhoto(Path("o.png"));
    TBitmap bitmap;
    const TPhoto got = ReadPhoto(Path("o.png"), bitmap);
    EXPECT_EQ(got.Exif, want.Exif);
    EXPECT_TRUE(SamePixels(bitmap, want));
  }
  TPhoto turned = Noise(600, 500);
  turned.Exif = ExifWithOrientation(6);
  WritePhoto(Path("o.jpg"), turned);
  TBitmap bitmap;
  ReadPhoto(Path("o.jpg"), bitmap);
  EXPECT_TRUE(SamePixels(bitmap, ReadPhoto(Path("o.jpg"))));

  // An interlaced PNG with alpha: every row is needed before the first is
  // composited over white.
  const int w = 19, h = 9;
  std::FILE* f = std::fopen(Path("a.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const TPhoto rgba = Noise(w * 4, h, 5);  // four bytes a pixel, taken from a wider noise
  std::vector<png_bytep> rows(h);
  for (int y = 0; y < h; ++y) rows[y] = const_cast<png_bytep>(rgba.Pixels.data() + y * w * 4 * 3);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  const TPhoto want = ReadPhoto(Path("a.png"));
  TBitmap alpha;
  ReadPhoto(Path("a.png"), alpha);
  EXPECT_TRUE(SamePixels(alpha, want));
}

TEST_F(BitmapIoTest, WritingFromABitmapGivesTheSameFileAsFromThePhoto) {
  for (const char* ext : {".png", ".tif", ".bmp", ".ppm", ".jpg"}) {
    SCOPED_TRACE(ext);
    TPhoto photo = Noise(1001, 7);
    photo.Exif = ExifWithOrientation(1);
    if (std::string(ext) != ".bmp" && std::string(ext) != ".ppm") {
      // An RGB profile: 128 bytes of header with the signature and colour space.
      photo.Icc.assign(300, 0);
      std::memcpy(photo.Icc.data() + 16, "RGB ", 4);
      std::memcpy(photo.Icc.data() + 36, "acsp", 4);
    }
    TBitmap bitmap(photo.Width, photo.Height);
    for (int y = 0; y < photo.Height; ++y)
      std::memcpy(bitmap.ScanLine(y), photo.Pixels.data() + y * photo.Width * 3, photo.Width * 3);
    WritePhoto(Path(std::string("photo") + ext), photo);
    TPhoto metadata = photo;
    metadata.Pixels.clear();  // only the EXIF and the profile are taken
    metadata.Width = metadata.Height = 0;
    WritePhoto(Path(std::string("bitmap") + ext), bitmap, metadata);
    EXPECT_EQ(Get(Path(std::string("bitmap") + ext)), Get(Path(std::string("photo") + ext)));
  }
  EXPECT_THROW(WritePhoto(Path("empty.png"), TBitmap(), TPhoto{}), EInOutError);
  EXPECT_FALSE(fs::exists(Path("empty.png")));
}

TEST_F(BitmapIoTest, HuffmanOptimisationIsAskedForAndChangesTheFileNotThePixels) {
  // Smooth shading with some noise, as in a photo.
  TPhoto photo = Noise(320, 240);
  for (std::size_t i = 0; i < photo.Pixels.size(); ++i)
    photo.Pixels[i] = static_cast<std::uint8_t>((i / 3 % 320) / 2 + photo.Pixels[i] % 8);
  WritePhoto(Path("default.jpg"), photo);
  TWriteOptions plain{95};
  plain.OptimizeJpegCoding = false;
  WritePhoto(Path("plain.jpg"), photo, plain);
  TWriteOptions optimized{95};
  optimized.OptimizeJpegCoding = true;
  WritePhoto(Path("optimized.jpg"), photo, optimized);
  EXPECT_EQ(Get(Path("default.jpg")), Get(Path("plain.jpg")));
  EXPECT_LT(Get(Path("optimized.jpg")).size(), Get(Path("plain.jpg")).size());
  EXPECT_EQ(ReadPhoto(Path("optimized.jpg")).Pixels, ReadPhoto(Path("plain.jpg")).Pixels);
}

TEST_F(BitmapIoTest, ADamagedFileIntoABitmapIsAnInOutError) {
  WritePhoto(Path("whole.jpg"), Noise(200, 150));
  TBytes bytes = Get(Path("whole.jpg"));
  bytes.resize(bytes.size() / 2);
  test::WriteBytes(Path("cut.jpg"), bytes);
  TBitmap bitmap;
  EXPECT_THROW(ReadPhoto(Path("cut.jpg"), bitmap), EInOutError);
  EXPECT_THROW(ReadPhoto(Path("missing.png"), bitmap), EInOutError);
}

}  // namespace
}  // namespace planora
