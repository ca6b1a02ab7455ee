#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "platform/sysutils.h"
#include "plot/glib2.h"

using namespace planora;

namespace {

// Puts the locale's separator back whatever a test forced.
struct SeparatorGuard {
  ~SeparatorGuard() { ResetDecimalSeparator(); }
};

}  // namespace

TEST(Readout, FormatsWithEngineeringPrefixes) {
  SeparatorGuard guard;
  SetDecimalSeparator('.');
  const std::pair<double, const char*> cases[] = {
      {1234.5, "1.2345 k"},  {123456, "123.456 k"}, {-50.25, "-50.250  "}, {3, "3.0000  "},
      {0.5, "500.000 m"},    {0, "0"},              {2e18, "2.0000 ?"},    {999.9996, "1000.000  "},
      {5e-13, "5E-13"},      {-1e-12, "-1E-12"},    {2e-12, "2.0000 p"},   {0.001234, "1.2340 m"},
      {12, "12.000  "},      {1e17, "100.000 P"},   {-7e-7, "-700.000 n"}, {1e-15, "1E-15"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(TPlottFlaeche::FormatReadout(value), text) << value;

  double scale = 0;
  char prefix = 0;
  int decimals = -1;
  TPlottFlaeche::EngineeringScale(-1234.5, scale, prefix, decimals);
  EXPECT_EQ(scale, 1000.0);
  EXPECT_EQ(prefix, 'k');
  EXPECT_EQ(decimals, 1);
  TPlottFlaeche::EngineeringScale(0.05, scale, prefix, decimals);  // exponent -2 rounds down to -3
  EXPECT_NEAR(scale, 1e-3, 1e-18);
  EXPECT_EQ(prefix, 'm');
  EXPECT_EQ(decimals, 0);

  SetDecimalSeparator(',');
  EXPECT_EQ(TPlottFlaeche::FormatReadout(1234.5), "1,2345 k");
  EXPECT_EQ(TPlottFlaeche::FormatReadout(-50.25), "-50,250  ");
  EXPECT_EQ(TPlottFlaeche::FormatReadout(1.5e-13), "1,5E-13");
}

TEST(Readout, PixelInWindowBoundsAndOutputs) {
  TPlottFlaeche s;
  s.InitOffscreen(201, 151);
  // Window 2 covers the upper right quarter: world 0..10 on pixels 100..200, 0..75.
  s.DefineWindow(2, 0, 10, 0, 10, 0.5, 1, 0.5, 1);
  double x = -1, y = -1;
  EXPECT_TRUE(s.PixelInWindow(100, 75, x, y, 2));  // XMin and YMin
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
  EXPECT_TRUE(s.PixelInWindow(200, 0, x, y, 2));  // XMax and YMax
  EXPECT_EQ(x, 10.0);
  EXPECT_EQ(y, 10.0);
  // Outside, yet the coordinates are written.
  EXPECT_FALSE(s.PixelInWindow(99, 75, x, y, 2));
  EXPECT_NEAR(x, -0.1, 1e-12);
  EXPECT_FALSE(s.PixelInWindow(100, 76, x, y, 2));

  // Undefined windows and numbers outside 1..20 contain nothing and write nothing.
  for (int n : {1, 0, -1, 21}) {
    x = y = 42;
    EXPECT_FALSE(s.PixelInWindow(150, 40, x, y, n)) << n;
    EXPECT_EQ(x, 42.0);
    EXPECT_EQ(y, 42.0);
  }
}

TEST(Readout, WindowSearchOrderAndDraggingRule) {
  TPlottFlaeche s;
  s.InitOffscreen(201, 151);
  double x, y;
  int w = -1;

  s.DefineWindow(20, 0, 1, 0, 1, 0, 1, 0, 1);
  ASSERT_EQ(s.CurrentWindow, 0);
  EXPECT_TRUE(s.WindowAt(10, 10, x, y, w));
  EXPECT_EQ(w, 20);

  s.InitOffscreen(201, 151);
  s.DefineWindow(3, 0, 1, 0, 1, 0, 1, 0, 1);
  s.DefineWindow(7, 0, 1, 0, 1, 0, 1, 0, 1);
  const std::pair<int, int> startAndFound[] = {{5, 7}, {3, 3}, {8, 3}, {20, 3}, {0, 3}};
  for (const auto& [start, found] : startAndFound) {
    s.CurrentWindow = start;
    EXPECT_TRUE(s.WindowAt(10, 10, x, y, w));
    EXPECT_EQ(w, found) << "start " << start;
  }

  // Window 1 on the left half, window 2 on the right half.
  s.InitOffscreen(201, 151);
  s.DefineWindow(1, 0, 1, 0, 1, 0, 0.5, 0, 1);
  s.DefineWindow(2, 0, 1, 0, 1, 0.5, 1, 0, 1);
  s.MarkerWindow = 1;
  s.MarkerState = MarkerDragging;
  EXPECT_FALSE(s.WindowAt(150, 10, x, y, w));
  EXPECT_TRUE(s.WindowAt(50, 10, x, y, w));
  EXPECT_EQ(w, 1);
  s.MarkerState = MarkerShown;
  EXPECT_TRUE(s.WindowAt(150, 10, x, y, w));
  EXPECT_EQ(w, 2);
  EXPECT_FALSE(s.WindowAt(250, 10, x, y, w));
}

TEST(Readout, ShowReadoutTexts) {
  SeparatorGuard guard;
  SetDecimalSeparator('.');
  THeadlessWidgetSet ws;
  TApplication app(ws);
  TForm form(&app, "F");
  TEdit* ex = form.Add<TEdit>("Edit1");
  TEdit* ey = form.Add<TEdit>("Edit2");
  TPlottFlaeche s;
  s.XReadout = ex;
  s.YReadout = ey;

  s.ShowReadout(true, "B: ", 1234.5, -50.25, "H: ", 1);
  EXPECT_EQ(ex->Text(), "B: 1.2345 k");
  EXPECT_EQ(ey->Text(), "H: -50.250  ");
  s.ShowReadout(true, "B: ", 1, 2, "H: ", 0);  // no window: prefixes only
  EXPECT_EQ(ex->Text(), "B: ");
  EXPECT_EQ(ey->Text(), "H: ");
  s.ShowReadout(false, "", 1, 2, "", 3);
  EXPECT_EQ(ex->Text(), "");
  EXPECT_EQ(ey->Text(), "");

  s.YReadout = nullptr;  // a missing field is skipped
  s.ShowReadout(true, "", 3, 4, "", 1);
  EXPECT_EQ(ex->Text(), "3.0000  ");
  EXPECT_EQ(ey->Text(), "");
}

TEST(Readout, EdgePixelsOfAPaneBelongToItsWindow) {
  // A 1000 x 667 picture on a 300 x 200 pane: row 0 lies a rounding step off
  // -333.5 by plain arithmetic, yet it is the window's top edge.
  for (const auto& [w, h, pw, ph] : {std::array{1000, 667, 300, 200}, std::array{4000, 3001, 490, 368},
                                     std::array{7, 5, 3, 3}, std::array{1024, 777, 1023, 777}}) {
    TPlottFlaeche s;
    s.InitOffscreen(pw, ph);
    s.DefineWindow(1, -w / 2.0, w / 2.0, h / 2.0, -h / 2.0, 0, 1, 0, 1);
    double x = 0, y = 0;
    for (const auto& [px, py] : {std::pair{0, 0}, std::pair{pw - 1, 0}, std::pair{0, ph - 1}, std::pair{pw - 1, ph - 1}}) {
      ASSERT_TRUE(s.PixelInWindow(px, py, x, y, 1)) << w << " x " << h << " pixel " << px << ", " << py;
      EXPECT_EQ(std::fabs(x), w / 2.0);
      EXPECT_EQ(std::fabs(y), h / 2.0);
    }
    // One pixel beyond the edge is still outside.
    EXPECT_FALSE(s.PixelInWindow(-1, 0, x, y, 1));
    EXPECT_FALSE(s.PixelInWindow(0, ph, x, y, 1));
  }
}
