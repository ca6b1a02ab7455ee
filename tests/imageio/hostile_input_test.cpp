// Files made to hurt a reader, and places that hurt a writer: a scan flood,
// headers that declare a huge picture and hold nothing, gigabytes of nothing
// after a photo, endless pipes, a TIFF in a FIFO, a full disk. Each case runs
// in a child process, so that its memory can be measured on its own and a
// hang ends with the child instead of the test run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <array>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "apps/imageio/imageio.h"
#include "platform/sysutils.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class HostileInputTest : public ::testing::Test {
 protected:
  // A file system mounted over the folder goes before the folder does.
  void TearDown() override {
    if (mounted_) ::umount2(dir_.Dir().c_str(), MNT_DETACH);
  }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static void Put(const std::string& path, const TBytes& bytes) { test::WriteBytes(path, bytes); }
  static TBytes Get(const std::string& path) { return test::ReadByteVector(path); }
  std::set<std::string> Names() const { return dir_.Entries(); }
  test::TTempDir dir_{"planora-hostile"};
  bool mounted_ = false;
};

// What reading one of these files may add to a process: a few rows and
// buffers. AddressSanitizer's shadow of a large reservation adds to it.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryLimitMb = 250;
#else
constexpr long kMemoryLimitMb = 100;
#endif

TPhoto Noise(int w, int h) {
  TPhoto p{w, h, TBytes(static_cast<std::size_t>(w) * h * 3), {}, {}};
  std::uint32_t state = 777;
  for (auto& b : p.Pixels) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
  return p;
}

// What ReadPhoto did in a child: its message ("" when the photo was read),
// the memory the child's reading added, and whether it finished in time.
struct TOutcome {
  bool Finished = false;
  std::string Message;
  long AddedMegabytes = 0;
};

TOutcome ReadInChild(const std::string& path, int seconds = 20) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    alarm(static_cast<unsigned>(seconds));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::string message;
    try {
      ReadPhoto(path);
    } catch (const EInOutError& e) {
      message = e.Message();
    } catch (const std::exception& e) {
      message = std::string("unexpected: ") + e.what();
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const std::string report = std::to_string((after.ru_maxrss - before.ru_maxrss) / 1024) + "\n" + message;
    if (write(out[1], report.data(), report.size()) < 0) _exit(3);
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  TOutcome outcome;
  outcome.Finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const std::size_t newline = text.find('\n');
  if (newline != std::string::npos) {
    outcome.AddedMegabytes = std::stol(text.substr(0, newline));
    outcome.Message = text.substr(newline + 1);
  }
  return outcome;
}

// A progressive JPEG whose last scan is repeated `repeats` times: each
// repetition makes the decoder go over the whole picture again.
TBytes ScanFlood(int repeats) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 64;
  cinfo.image_height = 64;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const TPhoto noise = Noise(64, 64);
  for (int y = 0; y < 64; ++y) {
    JSAMPROW row = const_cast<std::uint8_t*>(noise.Pixels.data()) + y * 64 * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  TBytes file(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&cinfo);
  // The last scan: from the last SOS up to the end marker.
  std::size_t last = 0;
  for (std::size_t i = 0; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xDA) last = i;
  const TBytes scan(file.begin() + static_cast<std::ptrdiff_t>(last), file.end() - 2);
  TBytes flood(file.begin(), file.end() - 2);
  for (int i = 0; i < repeats; ++i) flood.insert(flood.end(), scan.begin(), scan.end());
  flood.push_back(0xFF);
  flood.push_back(0xD9);
  return flood;
}

TEST_F(HostileInputTest, AProgressiveScanFloodIsRefused) {
  const TBytes honest = ScanFlood(0);
  Put(Path("honest.jpg"), honest);
  EXPECT_EQ(ReadPhoto(Path("honest.jpg")).Width, 64);
  Put(Path("flood.jpg"), ScanFlood(3000));
  const TOutcome outcome = ReadInChild(Path("flood.jpg"));
  ASSERT_TRUE(outcome.Finished);
  EXPECT_NE(outcome.Message.find("more than 256 progressive scans"), std::string::npos) << outcome.Message;
}

void Put32Be(TBytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

TEST_F(HostileInputTest, HeaderOnlyBombsCostAboutWhatTheFileHolds) {
  // Each declares 14000 x 14000 (588 MB of pixels) and holds almost nothing.
  const TPhoto small = Noise(16, 16);
  WritePhoto(Path("small.png"), small);
  TBytes png = Get(Path("small.png"));
  Put32Be(png, 16, 14000);
  Put32Be(png, 20, 14000);
  // The header's checksum must still match, or libpng stops at once.
  png.resize(33 + 12 + 40);  // the IHDR and a bit of the data that follows
  {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
      crc ^= png[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    Put32Be(png, 29, crc ^ 0xFFFFFFFFu);
  }
  Put(Path("bomb.png"), png);

  WritePhoto(Path("small.jpg"), small);
  TBytes jpeg = Get(Path("small.jpg"));
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1)) {
      jpeg[i + 5] = 14000 >> 8, jpeg[i + 6] = 14000 & 0xFF, jpeg[i + 7] = 14000 >> 8, jpeg[i + 8] = 14000 & 0xFF;
      break;
    }
  }
  jpeg.resize(jpeg.size() - 2);  // the data of 16 x 16 pixels for a picture of 14000 x 14000
  Put(Path("bomb.jpg"), jpeg);

  // A grey, uncompressed TIFF in one strip that is not there.
  TBytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const std::vector<std::array<std::uint32_t, 3>> tags = {
      {256, 4, 14000}, {257, 4, 14000}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
      {273, 4, 200},   {277, 3, 1},     {278, 4, 14000}, {279, 4, 196000000}};
  tiff.push_back(static_cast<std::uint8_t>(tags.size()));
  tiff.push_back(0);
  for (const auto& [tag, type, value] : tags) {
    const std::uint8_t entry[12] = {static_cast<std::uint8_t>(tag), static_cast<std::uint8_t>(tag >> 8),
                                    static_cast<std::uint8_t>(type), 0, 1, 0, 0, 0,
                                    static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                    static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    tiff.insert(tiff.end(), entry, entry + 12);
  }
  tiff.resize(tiff.size() + 4 + 300, 0x80);
  Put(Path("bomb.tif"), tiff);

  for (const char* name : {"bomb.png", "bomb.jpg", "bomb.tif"}) {
    SCOPED_TRACE(name);
    const TOutcome outcome = ReadInChild(Path(name));
    ASSERT_TRUE(outcome.Finished);
    EXPECT_NE(outcome.Message, "");
    EXPECT_EQ(outcome.Message.find("unexpected"), std::string::npos) << outcome.Message;
    EXPECT_LT(outcome.AddedMegabytes, kMemoryLimitMb) << outcome.Message;
    // A read error is told in words, never as a negative count turned huge.
    EXPECT_EQ(outcome.Message.find("18446744"), std::string::npos) << outcome.Message;
  }
}

TEST_F(HostileInputTest, ATiffWhoseDataLiesBeyondItsEndIsToldInWords) {
  // A 4 x 4 grey TIFF whose one strip starts far beyond the end of the file,
  // and one whose strip is cut short.
  for (const std::uint32_t offset : {100000u, 130u}) {
    TBytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    const std::uint32_t tags[9][3] = {{256, 4, 4},      {257, 4, 4}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                      {273, 4, offset}, {277, 3, 1}, {278, 4, 4}, {279, 4, 16}};
    for (const auto& t : tags) {
      const std::uint8_t entry[12] = {static_cast<std::uint8_t>(t[0]), static_cast<std::uint8_t>(t[0] >> 8),
                                      static_cast<std::uint8_t>(t[1]), 0, 1, 0, 0, 0,
                                      static_cast<std::uint8_t>(t[2]), static_cast<std::uint8_t>(t[2] >> 8),
                                      static_cast<std::uint8_t>(t[2] >> 16), static_cast<std::uint8_t>(t[2] >> 24)};
      tiff.insert(tiff.end(), entry, entry + 12);
    }
    tiff.resize(tiff.size() + 4 + 8, 0x80);
    Put(Path("short.tif"), tiff);
    try {
      ReadPhoto(Path("short.tif"));
      ADD_FAILURE() << offset << ": read";
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find("the file ends before the data of its picture does"), std::string::npos)
          << e.Message();
      EXPECT_EQ(e.Message().find("18446744"), std::string::npos) << e.Message();
      EXPECT_EQ(e.Message().find("4294967295"), std::string::npos) << e.Message();
    }
  }
}

TEST_F(HostileInputTest, ABmpWithAVersion5HeaderReadsItsPixelsAfterTheHeader) {
  // The 124-byte header editors write today: the pixels start after more
  // header than the reader's first look takes in (found by the fuzzer).
  TBytes bmp(14 + 124 + 8, 0);
  bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 14 + 124, bmp[14] = 124;
  bmp[18] = 2, bmp[22] = 1, bmp[26] = 1, bmp[28] = 24;
  const std::uint8_t pixels[8] = {1, 2, 3, 4, 5, 6, 0, 0};  // two pixels and the row's padding
  std::copy(pixels, pixels + 8, bmp.begin() + 14 + 124);
  Put(Path("v5.bmp"), bmp);
  const TPhoto photo = ReadPhoto(Path("v5.bmp"));
  ASSERT_EQ(photo.Width, 2);
  ASSERT_EQ(photo.Height, 1);
  EXPECT_EQ(photo.Pixels, (TBytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(HostileInputTest, TheFileIsStreamedWithALimitNeverReadWhole) {
  // A photo followed by 2 GiB of nothing (sparse: nothing on the disk).
  WritePhoto(Path("sparse.jpg"), Noise(64, 48));
  ASSERT_EQ(truncate(Path("sparse.jpg").c_str(), off_t{2} << 30), 0);
  const TOutcome sparse = ReadInChild(Path("sparse.jpg"));
  ASSERT_TRUE(sparse.Finished);
  EXPECT_EQ(sparse.Message, "");
  EXPECT_LT(sparse.AddedMegabytes, kMemoryLimitMb);

  // A pipe that starts like a JPEG and never stops: ended by the limit on
  // what a photo's metadata can take.
  ASSERT_EQ(mkfifo(Path("endless.jpg").c_str(), 0600), 0);
  std::thread writer([&] {
    signal(SIGPIPE, SIG_IGN);
    const int fd = open(Path("endless.jpg").c_str(), O_WRONLY);
    const std::uint8_t start[] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
    bool ok = write(fd, start, sizeof start) == static_cast<ssize_t>(sizeof start);
    const std::vector<std::uint8_t> nothing(1 << 20, 0);
    for (int i = 0; ok && i < 300; ++i) ok = write(fd, nothing.data(), nothing.size()) > 0;  // 300 MB, then it gives up
    close(fd);
  });
  const TOutcome endless = ReadInChild(Path("endless.jpg"));
  writer.join();
  ASSERT_TRUE(endless.Finished);
  EXPECT_NE(endless.Message.find("far more data than a photo of its size needs"), std::string::npos)
      << endless.Message;
  EXPECT_LT(endless.AddedMegabytes, kMemoryLimitMb);

  // A photo through a FIFO reads as from a file; a TIFF cannot be read
  // from one and says so instead of waiting for ever.
  WritePhoto(Path("p.ppm"), Noise(40, 30));
  WritePhoto(Path("p.tif"), Noise(40, 30));
  for (const char* name : {"p.ppm", "p.tif"}) {
    SCOPED_TRACE(name);
    const std::string fifo = Path(std::string("fifo-") + name);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const TBytes bytes = Get(Path(name));
    std::thread feed([&] {
      const int fd = open(fifo.c_str(), O_WRONLY);
      if (write(fd, bytes.data(), bytes.size()) < 0) {
      }
      close(fd);
    });
    const TOutcome outcome = ReadInChild(fifo, 10);
    feed.join();
    ASSERT_TRUE(outcome.Finished);
    if (std::string(name) == "p.ppm") EXPECT_EQ(outcome.Message, "");
    else EXPECT_NE(outcome.Message.find("TIFF is read only from a regular file"), std::string::npos) << outcome.Message;
  }
}

TEST_F(HostileInputTest, AFullDiskSaysSoForEveryFormat) {
  if (geteuid() != 0) GTEST_SKIP() << "a small tmpfs for a full disk needs root; not run";
  if (mount("tmpfs", dir_.Dir().c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); not run";
  mounted_ = true;
  const TPhoto photo = Noise(600, 600);
  for (const char* name : {"full.jpg", "full.png", "full.tif", "full.bmp", "full.ppm"}) {
    SCOPED_TRACE(name);
    WritePhoto(Path(name), Noise(2, 2));
    const TBytes before = Get(Path(name));
    try {
      WritePhoto(Path(name), photo);
      ADD_FAILURE() << "written";
    } catch (const EInOutError& e) {
      EXPECT_NE(e.Message().find("the disk is full"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(Get(Path(name)), before);
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"full.jpg", "full.png", "full.tif", "full.bmp", "full.ppm"}));
}

}  // namespace
}  // namespace planora
