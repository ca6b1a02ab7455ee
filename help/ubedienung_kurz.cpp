#include "help/ubedienung_kurz.h"

namespace planora {

namespace {

const char* const UsageText[] = {
      "Purpose of this plugin:",
      "======================",
      "To make a photo of a poster (or any other rectangular object) the best position for the camera is at",
      "the perpendicular from the centre of the poster. Due to lights, reflections, shadows or other",
      "reasons this position may give a bad result and another position has to be chosen. Sometimes, the",
      "ideal position is simply not reachable. In any case, the result is that the poster is not rectangular",
      "in the photo.",
      " ",
      "This plugin re-constructs a marked area of the given photo to a rectangular area. The user has to",
      "move the corners of the polygon-marker to the corners of the original poster in the photo. The program",
      "calculates from this the position of the camera and builds a new picture as it would look like, if",
      "taken from the perpendicular from the centre of the poster.",
      "",
      "Performance: No parallel processing is used. Preview (200000 pixels) on the screen needs 10 s on an",
      "actual 4 Ghz-PC. Pretty print for a 20 Megapixel picture needs 4 Minutes.",
      "",
      "IMPORTANT:",
      "The photo must NOT be a cut-out. The optical axis of the camera must cross the photo in its centre.",
      "",
      "Use of the program",
      "====================",
      "The typical work flow is as follows:",
      "1. After start from Pictoria the photo is loaded into the area at the left hand side.",
      "",
      "2. If no polygon-marker is visible, a mouse left click creates one. The corners of the polygon-marker",
      "   have to be moved with the mouse to the corners of the rectangular poster. Mouse right click deletes",
      "   the marker, \"Execute/Last marker\" from the menu restores it.",
      "",
      "3. The spin button \"Crop-size\" helps to adjust the result of the transformation. 90 % is a good starting",
      "   value. This means, that about 90 % in width and height of the original is visible in the result.",
      "   \"Options\" in the menu allows to deactivate the colour interpolation. When activated, the colour of",
      "   a pixel in the result is interpolated from the pixels next to the corresponding coordinates in the",
      "   original. Without interpolation, the colour of the nearest pixel is copied. In most cases",
      "   interpolation is better. That is why interpolation is always activated at start of the program.",
      "",
      "4. \"Execute/Preview\" in the menu transforms the picture so that the marked area is a rectangle.",
      "   The result of the transformation is shown in the area at the right hand side. Areas without",
      "   corresponding pixels in the original are drawn red.  An intermediate result of the transformation",
      "   is the focal length of the used camera, this is indicated in referring field.",
      "",
      "5. Steps 2 - 4 are repeated until the result is convenient.",
      "",
      "6. \"Execute/Pretty Print and Close\" in the menu makes the transformation with maximum resolution and returns",
      "   the result to Pictoria.",
      "",
      "Warnings: Not every polygon can be the photo of a rectangle. A warning message is displayed if there ",
      "is a suspicton, but the transformation is executed nevertheless. Typically this happens, if the original",
      "is a cut-out or the picture is taken with an extreme wide-angle lens.",
      "",
};

}  // namespace

TBedienung_kurz::TBedienung_kurz(TApplication* owner) : TForm(owner, "Bedienung_kurz") {
  SetCaption("Use of the Plugin");
  SetBounds(306, 319, 1011, 534);
  SetFont(TFont{"MS Sans Serif", -11});
  SetColor(clBtnFace);
  Memo1 = Add<TMemo>("Memo1");
  Memo1->SetBounds(8, 16, 977, 473);
  // A fixed-width font keeps the indented steps of the text aligned.
  Memo1->SetFont(TFont{"Courier New", -13});
  Memo1->SetScrollBars(ssBoth);
  Memo1->Add("Memo1");
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
}

void TBedienung_kurz::FormCreate(TObject* /*Sender*/) {
  Memo1->Clear();
  for (const char* line : UsageText) Memo1->Add(line);
}

}  // namespace planora
