// The detector's module: what the loader refuses (and says why), the
// module's own guards at the boundary, and where a program finds it in the
// layouts it is installed in.
#include "detect/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "apps/imageio/imageio.h"
#include "apps/imageio/photo_bitmap.h"
#include "detect/detect.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DetectModule, RefusedWithTheFileAndTheReason) {
  test::TTempDir dir("planora-detect-module");
  const std::string missing = dir.Path("missing.so");
  const std::string text = dir.Path("text.so");
  test::WriteBytes(text, std::string(200, 'x'));  // longer than an ELF header
  struct Case {
    std::string Path, Says;
  } cases[] = {
      {missing, "No such file"},
      {text, "invalid ELF header"},
      {"libm.so.6", "lacks planora_detect_interface"},
      // Refused before its planora_detect_rectangle, which would abort, is called.
      {PLANORA_TEST_OTHER_BUILD_MODULE, "another build of Planora"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    const detail::TDetectModule m = detail::LoadDetectModule(c.Path);
    EXPECT_EQ(m.Rectangle, nullptr);
    EXPECT_TRUE(m.Error.rfind(c.Path + ": ", 0) == 0) << m.Error;
    EXPECT_TRUE(Has(m.Error, c.Says)) << m.Error;
  }
}

TEST(DetectModule, TheBuiltModuleFindsTheSampleAndGuardsItsEntry) {
  const detail::TDetectModule m = detail::LoadDetectModule(PLANORA_TEST_DETECT_MODULE);
  ASSERT_NE(m.Rectangle, nullptr) << m.Error;
  const auto bitmap = PhotoBitmap(ReadPhoto("resources/samples/poster.jpg"));
  PlanoraDetectResult r{};
  ASSERT_EQ(m.Rectangle(bitmap->ScanLine(0), bitmap->Width(), bitmap->Height(), bitmap->BytesPerRow(), &r),
            PLANORA_DETECT_DONE);
  ASSERT_TRUE(r.Found) << r.Reason;
  // What the programs get through DetectRectangle is the module's answer.
  const TDetection d = DetectRectangle(*bitmap);
  ASSERT_TRUE(d.Found) << d.Reason;
  EXPECT_TRUE(AutomaticCornersAvailable());
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(d.Corners[k][0], r.Corners[k][0]);
    EXPECT_EQ(d.Corners[k][1], r.Corners[k][1]);
  }
  EXPECT_EQ(d.Confidence, r.Confidence);

  // Rows shorter than three bytes a pixel would be read past their end;
  // a caller without a result has nowhere to be told.
  r.Found = 1;
  EXPECT_EQ(m.Rectangle(bitmap->ScanLine(0), bitmap->Width(), bitmap->Height(), bitmap->Width(), &r),
            PLANORA_DETECT_FAILED);
  EXPECT_FALSE(r.Found);
  EXPECT_TRUE(Has(r.Reason, "not 24-bit rows")) << r.Reason;
  EXPECT_EQ(m.Rectangle(nullptr, 100, 100, 300, &r), PLANORA_DETECT_FAILED);
  EXPECT_EQ(m.Rectangle(bitmap->ScanLine(0), bitmap->Width(), bitmap->Height(), bitmap->BytesPerRow(), nullptr),
            PLANORA_DETECT_FAILED);
}

// The first of a program's candidates that exists, as FindDetectModule
// takes it.
std::string Chosen(const std::string& programDir) {
  for (const std::string& c : detail::DetectModuleCandidates(programDir))
    if (fs::is_regular_file(c)) return fs::weakly_canonical(c).string();
  return "";
}

TEST(DetectModule, FoundInTheInstallLayoutsBeforeTheBuildTree) {
  test::TTempDir dir("planora-detect-layout");
  const fs::path prefix = dir.Dir();
  const fs::path installed = prefix / PLANORA_TEST_LIBDIR / "planora" / PLANORA_DETECT_MODULE_FILE;
  fs::create_directories(installed.parent_path());
  test::WriteBytes(installed.string(), std::string("module"));
  const fs::path bin = prefix / "bin", gimp = prefix / "lib/gimp/2.0/plug-ins/planora-gimp";
  fs::create_directories(bin);
  fs::create_directories(gimp);
  const std::string expected = fs::weakly_canonical(installed).string();
  EXPECT_EQ(Chosen(bin.string()), expected);
  EXPECT_EQ(Chosen(gimp.string()), expected);
  // A copy beside the program is its own.
  test::WriteBytes((bin / PLANORA_DETECT_MODULE_FILE).string(), std::string("module"));
  EXPECT_EQ(Chosen(bin.string()), fs::weakly_canonical(bin / PLANORA_DETECT_MODULE_FILE).string());
  // Elsewhere, without an install: the build tree's module.
  EXPECT_EQ(Chosen((prefix / "other" / "bin").string()), fs::weakly_canonical(PLANORA_TEST_DETECT_MODULE).string());
}

}  // namespace
}  // namespace planora
