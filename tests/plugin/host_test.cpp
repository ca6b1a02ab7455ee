// The wrappers through which the plug-in calls its host, the failure check
// and the frame of Execute, with a host made of plain functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/fpu.h"
#include "platform/headless/headless.h"
#include "plugin/plgint.h"
#include "plugin/plugin.h"

using namespace planora;

namespace {

// What the fake host saw; its functions cannot capture, so they write here.
struct THostLog {
  std::vector<std::string> Calls;
  const char* Text = nullptr;
  int32_t Flag = 1;
  TPluginBitmap Seen{};
  int32_t Answer = 1;
  const char* IniResult = nullptr;
  std::string IniFill;  // written into the buffer, a terminating zero only if it has one
};
THostLog Host;

int32_t PLANORA_STDCALL FakeShowText(const char* text, int32_t flag) {
  Host.Calls.push_back(std::string("ShowText ") + (text ? text : "NULL"));
  Host.Text = text;
  Host.Flag = flag;
  return 0;
}
int32_t PLANORA_STDCALL FakeNotifyClose() {
  Host.Calls.push_back("NotifyClose");
  return 0;
}
// Paints pixel (x, y) with blue x, green y, red 7.
int32_t PLANORA_STDCALL FakeGetImage(TPluginBitmap* b) {
  Host.Calls.push_back("GetImage");
  Host.Seen = *b;
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x) {
      uint8_t* p = b->Bits + y * b->BytesPerRow + 3 * x;
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y), p[2] = 7;
    }
  return Host.Answer;
}
int32_t PLANORA_STDCALL FakePutImage(TPluginBitmap* b) {
  Host.Seen = *b;
  return Host.Answer;
}
const char* PLANORA_STDCALL FakeGetIniFileName(char* buffer, int32_t size) {
  Host.Calls.push_back("GetIniFileName " + std::to_string(size));
  if (Host.IniFill.empty()) return Host.IniResult;
  std::memcpy(buffer, Host.IniFill.data(), Host.IniFill.size());
  return buffer;
}

struct HostTest : ::testing::Test {
  void SetUp() override { TearDown(); }
  void TearDown() override {
    Host = THostLog{};
    std::memset(&HostRecord, 0, sizeof HostRecord);
    PluginErrorMessage = DefaultPluginErrorMessage;
  }
  static void SetPicture(int left, int top, int right, int bottom) {
    HostRecord.ImageRect = TPluginRect{left, top, right, bottom};
  }
};

}  // namespace

TEST_F(HostTest, MissingFunctionsAreNeverCalledAndNoticesPassTextAndFlag) {
  SetPicture(0, 0, 4, 3);
  TBitmap bitmap(2, 2);
  ShowHostText("x", true);
  NotifyHostClose();
  EXPECT_FALSE(GetHostImage(bitmap));
  EXPECT_EQ(bitmap.Width(), 2);  // untouched
  EXPECT_FALSE(PutHostImage(bitmap));
  EXPECT_EQ(ReadIniFileName(), "");

  HostRecord.ShowText = FakeShowText;
  HostRecord.NotifyClose = FakeNotifyClose;
  ShowHostText("", true);  // an empty text is a zero byte, never NULL
  EXPECT_EQ(Host.Flag, -1);
  ShowHostText("hello", false);
  EXPECT_EQ(Host.Flag, 0);
  NotifyHostClose();
  EXPECT_EQ(Host.Calls, (std::vector<std::string>{"ShowText ", "ShowText hello", "NotifyClose"}));
}

TEST_F(HostTest, ImagesTravelThroughTheBitmapsOwnRowsAndZeroMeansRefused) {
  HostRecord.GetImage = FakeGetImage;
  HostRecord.PutImage = FakePutImage;
  SetPicture(10, 20, 15, 23);  // 5 x 3: rows of 15 bytes padded to 16
  TBitmap bitmap(1, 1);
  Host.Answer = 42;  // any nonzero answer is a yes
  ASSERT_TRUE(GetHostImage(bitmap));
  EXPECT_EQ((std::vector<int>{Host.Seen.Width, Host.Seen.Height, Host.Seen.BitsPerPixel, Host.Seen.BytesPerRow}),
            (std::vector<int>{5, 3, 24, 16}));
  ASSERT_EQ(bitmap.Width(), 5);
  ASSERT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(bitmap.Pixel(4, 2), RGBColor(7, 2, 4));
  EXPECT_EQ(bitmap.Pixel(0, 1), RGBColor(7, 1, 0));

  bitmap.SetPixel(2, 1, RGBColor(1, 2, 3));
  ASSERT_TRUE(PutHostImage(bitmap));
  EXPECT_EQ(Host.Seen.Bits[1 * 16 + 2 * 3 + 2], 1);  // red of (2, 1)

  Host.Answer = 0;
  EXPECT_FALSE(GetHostImage(bitmap));
  EXPECT_FALSE(PutHostImage(bitmap));
}

TEST_F(HostTest, AnEmptyInvertedOrOverflowingPictureIsNeverAskedFor) {
  HostRecord.GetImage = FakeGetImage;
  TBitmap bitmap;
  SetPicture(0, 0, 0, 0);  // a host that never filled the record
  EXPECT_FALSE(GetHostImage(bitmap));
  SetPicture(5, 0, 2, 4);
  EXPECT_EQ(HostImageWidth(), -3);
  EXPECT_FALSE(GetHostImage(bitmap));
  EXPECT_TRUE(Host.Calls.empty());
  SetPicture(-2, 0, 2147483647, 10);  // edges too far apart: overflow, not a wrapped width
  EXPECT_THROW(HostImageWidth(), EIntOverflow);
}

TEST_F(HostTest, SettingsPathFromTheBufferTheHostsOwnStorageOrNothing) {
  HostRecord.GetIniFileName = FakeGetIniFileName;
  Host.IniFill = std::string("/home/u/.config/planora.ini") + '\0';
  EXPECT_EQ(ReadIniFileName(), "/home/u/.config/planora.ini");
  EXPECT_EQ(Host.Calls.back(), "GetIniFileName 255");

  // A host that fills all 256 bytes without a terminating zero: the text
  // ends with the buffer instead of running into the stack beyond it.
  Host.IniFill = std::string(256, 'a');
  EXPECT_EQ(ReadIniFileName(), std::string(256, 'a'));

  Host.IniFill.clear();
  static const std::string own(300, 'p');  // longer than the buffer: the host's own text
  Host.IniResult = own.c_str();
  EXPECT_EQ(ReadIniFileName(), own);

  Host.IniResult = nullptr;
  EXPECT_EQ(ReadIniFileName(), "");
}

TEST_F(HostTest, RefusalsRaiseTheCurrentTextAndExecuteTurnsAnyExceptionIntoZero) {
  EXPECT_NO_THROW(CheckHost(true));
  try {
    CheckHost(false);
    ADD_FAILURE() << "no exception";
  } catch (const EPluginException& e) {
    EXPECT_EQ(e.Message(), "Erreur pendant l'exécution du module !");  // until Execute sets its own
  }

  THeadlessWidgetSet ws;
  TApplication app(ws);
  std::string seenText;
  EXPECT_EQ(ExecutePlugin([&]() -> std::uint8_t {
              seenText = PluginErrorMessage;
              return 1;
            }),
            1);
  EXPECT_EQ(seenText, "Unable to process the plugin !");
  EXPECT_TRUE(ws.Dialogs().empty());

  EXPECT_EQ(ExecutePlugin([]() -> std::uint8_t { CheckHost(false); return 1; }), 0);
  EXPECT_EQ(ExecutePlugin([]() -> std::uint8_t { throw 17; }), 0);  // not even a std::exception escapes
  ASSERT_EQ(ws.Dialogs().size(), 2u);
  for (const TDialogRecord& d : ws.Dialogs()) {
    EXPECT_EQ(d.Text, "Exception in Plugin. Press OK to continue, nothing should be destroyed.");
    EXPECT_EQ(d.Type, mtWarning);
    EXPECT_EQ(d.Buttons, std::vector<TMsgDlgBtn>{mbOK});
  }
}

#if defined(__i386__) || defined(__x86_64__)
// A host that calls in with its own floating-point state: 53-bit x87
// precision, the zero-division traps unmasked, tiny values flushed to zero.
// The run computes with extended precision and quiet infinities, and the
// host gets its state back.
TEST(ExecuteFloatingPoint, TheRunHasItsOwnStateAndTheHostGetsItsOwnBack) {
  const std::uint16_t testCw = TFloatingPointState::ControlWord();
  const std::uint32_t testMx = TFloatingPointState::Mxcsr();
  const std::uint16_t hostCw = 0x027B;    // 53-bit precision, zero-divide trap unmasked
  const std::uint32_t hostMx = 0x9D80;    // flush-to-zero, zero-divide trap unmasked
  THeadlessWidgetSet ws;
  TApplication app(ws);
  std::uint16_t seenCw = 0;
  std::uint32_t seenMx = 0;
  long double extendedStep = 0;
  double quotient = 0, tiny = 0;
  TFloatingPointState::Set(hostCw, hostMx);
  const std::int32_t result = ExecutePlugin([&]() -> std::uint8_t {
    seenCw = TFloatingPointState::ControlWord();
    seenMx = TFloatingPointState::Mxcsr();
    volatile long double one = 1.0L, small = std::ldexp(1.0L, -60);
    extendedStep = (one + small) - one;  // 0 at 53-bit precision
    volatile double zero = 0.0, minimum = 2.2250738585072014e-308;
    quotient = 1.0 / zero;                // a trap with the host's state
    tiny = minimum / 4.0;                 // 0 when flushed
    return 1;
  });
  const std::uint16_t afterCw = TFloatingPointState::ControlWord();
  const std::uint32_t afterMx = TFloatingPointState::Mxcsr();
  TFloatingPointState::Set(testCw, testMx);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(seenCw, TFloatingPointState::kControlWord);
  EXPECT_EQ(seenMx, TFloatingPointState::kMxcsr);
  EXPECT_EQ(extendedStep, std::ldexp(1.0L, -60));
  EXPECT_TRUE(std::isinf(quotient));
  EXPECT_GT(tiny, 0.0);
  EXPECT_EQ(afterCw, hostCw);
  EXPECT_EQ(afterMx & 0xFFC0u, hostMx & 0xFFC0u);  // the control bits; flags may differ
}
#endif
