// The usage and info windows: their texts and how the info window closes.
#include <gtest/gtest.h>

#include <string>

#include "help/infounit.h"
#include "help/ubedienung_kurz.h"
#include "platform/headless/headless.h"

using namespace planora;

struct HelpTest : ::testing::Test {
  THeadlessWidgetSet ws;
  TApplication app{ws};
};

TEST_F(HelpTest, UsageWindowShowsTheFortyNineLinesOfInstructions) {
  const auto& lines = app.CreateForm<TBedienung_kurz>()->Memo1->Lines();
  ASSERT_EQ(lines.size(), 49u);  // the design text "Memo1" is gone
  EXPECT_EQ(lines[0], "Purpose of this plugin:");
  EXPECT_EQ(lines[7], " ");
  EXPECT_EQ(lines[12], "");
  EXPECT_EQ(lines[26], "   the marker, \"Execute/Last marker\" from the menu restores it.");
  EXPECT_NE(lines[37].find("drawn red.  An intermediate"), std::string::npos);
  EXPECT_EQ(lines[45].back(), ' ');
  EXPECT_EQ(lines[47], "is a cut-out or the picture is taken with an extreme wide-angle lens.");
  EXPECT_EQ(lines[48], "");
}

TEST_F(HelpTest, InfoWindowNamesTheModuleVersionAndClosingOnlyHidesIt) {
  auto* form = app.CreateForm<TInfoform>();
  form->setze_sprache();
  form->setze_sprache();  // filling again replaces the text, never appends
  const auto& lines = form->Memo1->Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Version:  2.1.0.0");
  EXPECT_EQ(lines[2], "Plugin for Pictoria:");
  EXPECT_EQ(lines[3], "Transformation so that the selected polygon is rectangular");
  EXPECT_EQ(lines[4], " ");

  for (int run = 0; run < 2; ++run) {
    ws.Post([&] { form->Close(); });
    EXPECT_EQ(form->ShowModal(), mrCancel);
    ASSERT_TRUE(app.Owns(form));  // hidden, still the application's, ready to show again
    EXPECT_FALSE(form->Visible());
  }
}
