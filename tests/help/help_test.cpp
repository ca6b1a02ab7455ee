// The usage and info windows: their texts and how the info window closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "help/infounit.h"
#include "help/ubedienung_kurz.h"
#include "platform/headless/headless.h"

using namespace planora;

struct HelpTest : ::testing::Test {
  THeadlessWidgetSet ws;
  TApplication app{ws};
};

// The memo's lines joined by line ends: one comparison shows any change.
std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST_F(HelpTest, UsageWindowShowsTheFortyNineLinesOfInstructions) {
  // The design text "Memo1" is gone; blank lines are kept as they were
  // written, some empty and some a single space, and so are trailing blanks.
  EXPECT_EQ(Text(app.CreateForm<TBedienung_kurz>()->Memo1->Lines()), R"(Purpose of this plugin:
======================
To make a photo of a poster (or any other rectangular object) the best position for the camera is at
the perpendicular from the centre of the poster. Due to lights, reflections, shadows or other
reasons this position may give a bad result and another position has to be chosen. Sometimes, the
ideal position is simply not reachable. In any case, the result is that the poster is not rectangular
in the photo.
 
This plugin re-constructs a marked area of the given photo to a rectangular area. The user has to
move the corners of the polygon-marker to the corners of the original poster in the photo. The program
calculates from this the position of the camera and builds a new picture as it would look like, if
taken from the perpendicular from the centre of the poster.

Performance: No parallel processing is used. Preview (200000 pixels) on the screen needs 10 s on an
actual 4 Ghz-PC. Pretty print for a 20 Megapixel picture needs 4 Minutes.

IMPORTANT:
The photo must NOT be a cut-out. The optical axis of the camera must cross the photo in its centre.

Use of the program
====================
The typical work flow is as follows:
1. After start from Pictoria the photo is loaded into the area at the left hand side.

2. If no polygon-marker is visible, a mouse left click creates one. The corners of the polygon-marker
   have to be moved with the mouse to the corners of the rectangular poster. Mouse right click deletes
   the marker, "Execute/Last marker" from the menu restores it.

3. The spin button "Crop-size" helps to adjust the result of the transformation. 90 % is a good starting
   value. This means, that about 90 % in width and height of the original is visible in the result.
   "Options" in the menu allows to deactivate the colour interpolation. When activated, the colour of
   a pixel in the result is interpolated from the pixels next to the corresponding coordinates in the
   original. Without interpolation, the colour of the nearest pixel is copied. In most cases
   interpolation is better. That is why interpolation is always activated at start of the program.

4. "Execute/Preview" in the menu transforms the picture so that the marked area is a rectangle.
   The result of the transformation is shown in the area at the right hand side. Areas without
   corresponding pixels in the original are drawn red.  An intermediate result of the transformation
   is the focal length of the used camera, this is indicated in referring field.

5. Steps 2 - 4 are repeated until the result is convenient.

6. "Execute/Pretty Print and Close" in the menu makes the transformation with maximum resolution and returns
   the result to Pictoria.

Warnings: Not every polygon can be the photo of a rectangle. A warning message is displayed if there 
is a suspicton, but the transformation is executed nevertheless. Typically this happens, if the original
is a cut-out or the picture is taken with an extreme wide-angle lens.

)");
}

TEST_F(HelpTest, InfoWindowNamesTheModuleVersionAndClosingOnlyHidesIt) {
  auto* form = app.CreateForm<TInfoform>();
  form->setze_sprache();
  form->setze_sprache();  // filling again replaces the text, never appends
  EXPECT_EQ(Text(form->Memo1->Lines()),
            "Version:  2.1.0.0\n \nPlugin for Pictoria:\nTransformation so that the selected polygon is rectangular\n"
            " \nWritten by the Planora developers.\nContact: planora-developers@example.org\n");

  for (int run = 0; run < 2; ++run) {
    ws.Post([&] { form->Close(); });
    EXPECT_EQ(form->ShowModal(), mrCancel);
    ASSERT_TRUE(app.Owns(form));  // hidden, still the application's, ready to show again
    EXPECT_FALSE(form->Visible());
  }
}
