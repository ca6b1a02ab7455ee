// The rectification window on the headless backend, with a host made of
// plain functions in the host record: opening, layout, settings, the
// commands, and the ways a host or a user can make a run fail.
#include "window/UJPGEntzerren.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/fingerprint.h"
#include "help/infounit.h"
#include "platform/headless/headless.h"
#include "plugin/plgint.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- the host

struct FakeHost {
  int width = 400, height = 300;
  int seed = 1;
  bool giveImage = true, takeImage = true;
  std::string iniPath;
  std::vector<std::string> calls;
  std::vector<std::uint8_t> received;  // the result, rows of width * 3 bytes
  int receivedWidth = 0, receivedHeight = 0;
  bool settingsOnDiskAtClose = false;
  std::function<void()> duringPut;

  static FakeHost* current;

  static std::uint8_t Pixel(int x, int y, int c, int seed) {
    return static_cast<std::uint8_t>((x * (3 + c) + y * (5 + 2 * c) + seed * 17 + ((x / 20 + y / 20) % 2) * 90) & 255);
  }
  static int32_t ShowText(const char* text, int32_t flag) {
    current->calls.push_back(std::string("ShowText '") + text + "' " + std::to_string(flag));
    return 1;
  }
  static int32_t NotifyClose() {
    current->calls.push_back("NotifyClose");
    current->settingsOnDiskAtClose = fs::exists(current->iniPath);
    return 1;
  }
  static int32_t GetImage(TPluginBitmap* b) {
    current->calls.push_back("GetImage");
    if (!current->giveImage) return 0;
    for (int y = 0; y < b->Height; ++y)
      for (int x = 0; x < b->Width; ++x)
        for (int c = 0; c < 3; ++c) b->Bits[y * b->BytesPerRow + 3 * x + c] = Pixel(x, y, c, current->seed);
    return 1;
  }
  static int32_t PutImage(TPluginBitmap* b) {
    current->calls.push_back("PutImage");
    if (current->duringPut) current->duringPut();
    if (!current->takeImage) return 0;
    current->receivedWidth = b->Width;
    current->receivedHeight = b->Height;
    current->received.clear();
    for (int y = 0; y < b->Height; ++y)
      current->received.insert(current->received.end(), b->Bits + y * b->BytesPerRow,
                               b->Bits + y * b->BytesPerRow + 3 * b->Width);
    return 1;
  }
  static const char* IniFileName(char* buffer, int32_t size) {
    std::snprintf(buffer, static_cast<std::size_t>(size) + 1, "%s", current->iniPath.c_str());
    return buffer;
  }

  void Install() {
    current = this;
    std::memset(&HostRecord, 0, sizeof HostRecord);
    HostRecord.ImageRect = {10, 20, 10 + width, 20 + height};
    HostRecord.ShowText = &ShowText;
    HostRecord.NotifyClose = &NotifyClose;
    HostRecord.GetImage = &GetImage;
    HostRecord.PutImage = &PutImage;
    HostRecord.GetIniFileName = &IniFileName;
  }
};
FakeHost* FakeHost::current = nullptr;

// ---------------------------------------------------------------- fixture

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.iniPath = dir_.Path("planora.ini");
    host.Install();
    ws.SetWorkArea(TRect{0, 0, 1280, 800});
    ws.SetFrame(4, 22, 20);  // frame 4, caption 22 + menu 20
    PluginErrorMessage = UnableToProcessMessage;
    ResultCode = 99;
  }

  // Opens the window, runs the queued actions, and returns ShowModal's result.
  int Open() {
    form = app.CreateForm<TFEntzerren>();
    return form->ShowModal();
  }
  void Click(const std::string& item) {
    ws.Post([this, item] { form->FindMenuItem(item)->Click(); });
  }
  void Inspect(std::function<void()> check) { ws.Post(std::move(check)); }
  std::string Setting(const std::string& key) {
    TIniFile ini(host.iniPath);
    return ini.ReadString(SettingsSection, key, "<missing>");
  }
  std::vector<std::string> DialogTexts() const {
    std::vector<std::string> t;
    for (const auto& d : ws.Dialogs()) t.push_back(d.Text);
    return t;
  }

  test::TTempDir dir_{"planora-window"};
  FakeHost host;
  THeadlessWidgetSet ws;
  TApplication app{ws};
  TFEntzerren* form = nullptr;
};

TEST_F(WindowTest, OpensPreviewsAndDeliversTheResult) {
  std::array<int, 4> pane1{}, pane2{};
  int spinLeft = 0, progressLeft = 0;
  std::string caption, focal;
  bool previewShown = false, running = false;
  Inspect([&] {
    caption = form->Caption();
    pane1 = {form->PaintBox1->Left(), form->PaintBox1->Top(), form->PaintBox1->Width(), form->PaintBox1->Height()};
    pane2 = {form->PaintBox2->Left(), form->PaintBox2->Top(), form->PaintBox2->Width(), form->PaintBox2->Height()};
    spinLeft = form->SpinEdit1->Left();
    progressLeft = form->ProgressBar1->Left();
    EXPECT_EQ(form->Edit3->Text(), "-");
    EXPECT_FALSE(form->BorderIcons() & biMaximize);
  });
  // During the preview's run the menu is off and a command that slips through does nothing.
  ws.Post([&] {
    ws.PostDuringWork([&] {
      running = form->Running();
      EXPECT_FALSE(form->Bearbeiten1->Enabled());
      EXPECT_FALSE(form->PaintBox1->Enabled());
      form->Vorschau1->Click();
    });
    form->Vorschau1->Click();
  });
  Inspect([&] {
    previewShown = form->PreviewShown;
    focal = form->Edit3->Text();
    EXPECT_TRUE(form->Bearbeiten1->Enabled());
    EXPECT_EQ(form->ProgressBar1->Position(), 100);
    EXPECT_EQ(form->PreviewSurface->MarkerState, MarkerShown);
  });
  Click("Fertigstellen1");
  Open();
  EXPECT_EQ(ResultCode, 1);
  EXPECT_EQ(caption, "Planora V:  2.1.0.0");

  // 1280 x 800 maximized: client 1272 x 754. Avail = 1272 / 2 - 16 = 620, pane height
  // 754 - 80 - 50 = 624; the 4 : 3 picture is width-limited: 620 x Round(465).
  EXPECT_EQ(pane1, (std::array<int, 4>{8, 50, 620, 465}));
  EXPECT_EQ(pane2, (std::array<int, 4>{640, 50, 620, 465}));
  EXPECT_EQ(spinLeft, 640);
  EXPECT_EQ(progressLeft, 640 + 65 + 6);

  EXPECT_TRUE(running);
  EXPECT_TRUE(previewShown);
  EXPECT_EQ(focal, "1.000");  // the default marker is a parallelogram: focal ratio 1
  EXPECT_TRUE(ws.Dialogs().empty()) << DialogTexts()[0];
  EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowText '' -1", "GetImage", "PutImage", "NotifyClose"}));
  EXPECT_TRUE(host.settingsOnDiskAtClose);
  EXPECT_EQ(host.receivedWidth, 400);
  EXPECT_EQ(host.receivedHeight, 300);
  // Default marker, crop 90: the middle 80 % enlarged by 1.125 onto the whole picture; the
  // border shows the surroundings, not red.
  const auto at = [&](int x, int y, int c) { return host.received[(y * 400 + x) * 3 + c]; };
  EXPECT_FALSE(at(1, 1, 2) == 255 && at(1, 1, 1) == 0 && at(1, 1, 0) == 0);

  // The settings remember the picture, the corners of the last run and the crop size.
  TBitmap picture(400, 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      for (int c = 0; c < 3; ++c) picture.ScanLine(y)[3 * x + c] = FakeHost::Pixel(x, y, c, 1);
  EXPECT_EQ(Setting("Inhash"), std::to_string(Fingerprint(picture)));
  // The corners the runs used: the marker's, as the pane's pixels place it (0.65 units a pixel).
  EXPECT_NEAR(std::stod(Setting("Selection_a0")), 160, 0.7);
  EXPECT_NEAR(std::stod(Setting("Selection_a1")), -120, 0.7);
  EXPECT_NEAR(std::stod(Setting("Selection_c0")), -160, 0.7);
  EXPECT_EQ(Setting("Original_Groesse"), "90");
  EXPECT_TRUE(app.Forms().empty());  // the window freed itself
}

TEST_F(WindowTest, ClosingAfterAPreviewAsksFirst) {
  Click("Vorschau1");
  Click("Ende1");  // answered Abort: stays open
  Inspect([&] { EXPECT_TRUE(form->Visible()); });
  Click("Ende1");  // answered OK: closes
  ws.AnswerDialogs({mrAbort, mrOk});
  Open();
  EXPECT_EQ(ResultCode, 0);
  ASSERT_EQ(ws.Dialogs().size(), 2u);
  EXPECT_EQ(ws.Dialogs()[0].Text, "Finish without result for Pictoria?");
  EXPECT_EQ(ws.Dialogs()[0].Caption, "Warnung");
  EXPECT_EQ(ws.Dialogs()[0].Buttons, (std::vector<TMsgDlgBtn>{mbOK, mbAbort}));
}

TEST_F(WindowTest, SecondOpeningRestoresTheMarkerOfTheSamePicture) {
  // First opening: move the marker, preview, close (the preview's question answered OK).
  const double moved[8] = {150, -100, -140, -110, -150, 120, 160, 100};
  ws.Post([&] { form->PictureSurface->SetMarkerCorners(1, moved[0], moved[1], moved[2], moved[3], moved[4], moved[5], moved[6], moved[7]); });
  ws.Post([&] { form->SpinEdit1->SetValue(75); });
  Click("Vorschau1");
  Click("Ende1");
  Open();
  // Second opening of the same picture: the marker of that preview.
  double x[4], y[4];
  int window = 0;
  Inspect([&] {
    form->PictureSurface->GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], window);
    EXPECT_EQ(form->SpinEdit1->Value(), 75);
  });
  Click("Ende1");
  Open();
  EXPECT_EQ(window, 1);
  EXPECT_NEAR(x[0], 150, 1.5);  // as far as the pane's pixels place it
  EXPECT_NEAR(y[2], 120, 1.5);

  // Another picture: the default rectangle; a stored crop of 250 shows as 100.
  {
    TIniFile ini(host.iniPath);
    ini.WriteInteger(SettingsSection, "Original_Groesse", 250);
    ini.UpdateFile();
  }
  host.seed = 2;
  host.Install();
  Inspect([&] {
    form->PictureSurface->GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], window);
    EXPECT_EQ(form->SpinEdit1->Value(), 100);
    EXPECT_EQ(form->LastCornerA[0], 160);
    EXPECT_EQ(form->LastCornerA[1], -120);
  });
  Click("Ende1");
  Open();
  EXPECT_NEAR(x[0], 160, 1.0);
}

TEST_F(WindowTest, CorruptOrUnwritableSettingsNeverStopTheWindow) {
  { std::ofstream(host.iniPath) << "\x01\x02[Planroa\nInhash=zz\nSelection_a0=1,5e\nOriginal_Groesse=abc\n[[[\n"; }
  Inspect([&] { EXPECT_EQ(form->SpinEdit1->Value(), 90); });
  Click("Ende1");
  Open();
  EXPECT_TRUE(ws.Dialogs().empty());

  // A settings path in a missing folder: the window closes after saying where it could not write.
  host.iniPath = dir_.Path("missing/planora.ini");
  Click("Ende1");
  Open();
  ASSERT_EQ(ws.Dialogs().size(), 1u);
  EXPECT_NE(ws.Dialogs()[0].Text.find(host.iniPath), std::string::npos) << ws.Dialogs()[0].Text;
  EXPECT_EQ(host.calls.back(), "NotifyClose");
  EXPECT_TRUE(app.Forms().empty());
}

TEST_F(WindowTest, HostRefusingThePictureOrTheResult) {
  host.giveImage = false;
  bool panesEmpty = false;
  Inspect([&] {
    // Both panes stay blank: no picture, no marker (the cleared area is white; the last
    // row and column, which clearing leaves alone, keep the new bitmap's black).
    panesEmpty = form->PictureSurface->MarkerState == MarkerNone;
    for (TPaintBox* pane : {form->PaintBox1, form->PaintBox2}) {
      const TBitmap& image = pane->ScreenImage();
      for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
          panesEmpty = panesEmpty && (image.Pixel(x, y) == clWhite || image.Pixel(x, y) == clBlack);
    }
  });
  Click("Vorschau1");  // no marker: nothing happens, nothing is said
  Click("Ende1");
  Open();
  EXPECT_EQ(ResultCode, 0);
  ASSERT_EQ(ws.Dialogs().size(), 1u);
  EXPECT_EQ(ws.Dialogs()[0].Text, "Unable to process the plugin !");
  EXPECT_EQ(ws.ScreenCursor(), crDefault);
  EXPECT_TRUE(panesEmpty);
  EXPECT_EQ(Setting("Inhash"), "0");

  ws.ClearDialogs();
  host.giveImage = true;
  host.takeImage = false;
  Click("Fertigstellen1");  // refused: message, window stays
  Inspect([&] {
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->PreviewShown);
  });
  Click("Ende1");  // no preview pending: no question
  Open();
  EXPECT_EQ(ResultCode, 0);
  EXPECT_EQ(DialogTexts(), (std::vector<std::string>{"Unable to process the plugin !"}));
}

TEST_F(WindowTest, NoCommandWorksOnAPictureTheHostRefused) {
  // The settings know this picture and hold a usable marker.
  TBitmap picture(400, 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      for (int c = 0; c < 3; ++c) picture.ScanLine(y)[3 * x + c] = FakeHost::Pixel(x, y, c, 1);
  {
    TIniFile ini(host.iniPath);
    ini.WriteInteger(SettingsSection, "Inhash", Fingerprint(picture));
    const double corners[8] = {150, -100, -150, -100, -150, 100, 150, 100};
    for (int k = 0; k < 8; ++k)
      ini.WriteFloat(SettingsSection, std::string("Selection_") + "abcd"[k / 2] + "01"[k % 2], corners[k]);
  }
  host.giveImage = false;
  int state = -1;
  Click("LetzteAuswahl1");  // no marker on an empty pane
  Inspect([&] { state = form->PictureSurface->MarkerState; });
  Click("Vorschau1");
  Click("Fertigstellen1");  // nothing to deliver
  Click("Ende1");
  Open();
  EXPECT_EQ(state, MarkerNone);
  EXPECT_EQ(ResultCode, 0);
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "PutImage"), 0);
  EXPECT_EQ(DialogTexts(), (std::vector<std::string>{"Unable to process the plugin !"}));
}

TEST_F(WindowTest, StoredCornersOffThePictureGiveTheDefaultMarker) {
  TBitmap picture(400, 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      for (int c = 0; c < 3; ++c) picture.ScanLine(y)[3 * x + c] = FakeHost::Pixel(x, y, c, 1);
  for (const std::string absurd : {"1e12", "-1e300", "201"}) {
    {
      TIniFile ini(host.iniPath);
      ini.WriteInteger(SettingsSection, "Inhash", Fingerprint(picture));
      ini.WriteString(SettingsSection, "Selection_a0", absurd);
      ini.WriteFloat(SettingsSection, "Selection_a1", -100);
    }
    double x[4], y[4];
    int window = 0;
    Inspect([&] {
      form->PictureSurface->GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], window);
    });
    Click("Ende1");
    Open();
    EXPECT_TRUE(ws.Dialogs().empty()) << absurd << ": " << DialogTexts()[0];
    EXPECT_EQ(window, 1) << absurd;
    EXPECT_NEAR(x[0], 160, 1.0) << absurd;  // the default rectangle over the middle 80 %
    EXPECT_NEAR(y[0], -120, 1.0) << absurd;
    EXPECT_EQ(Setting("Selection_a0"), "160") << absurd;  // the absurd value is not saved again
  }
}

TEST_F(WindowTest, AMarkerOnThePaneEdgeWorksAndOneMovedOffThePaneIsNamed) {
  // 1000 x 667 on a pane that is not a whole multiple of it: a corner on the
  // pane's top row and left column still lies on the picture.
  host.width = 1000;
  host.height = 667;
  host.Install();
  bool edgePreview = false;
  std::string readout;
  ws.Post([&] {
    form->PictureSurface->SetMarkerCorners(1, 400, -333.5, -500, -333.5, -500, 300, 400, 300);
    form->PaintBox1->MouseMove(TShiftState(), 0, 0);
    readout = form->Edit2->Text();
    form->Vorschau1->Click();
    edgePreview = form->PreviewShown;
  });
  // The whole marker moved until corners leave the pane: the commands say why they do nothing.
  ws.Post([&] {
    TPlottFlaeche& s = *form->PictureSurface;
    s.SetMarkerCorners(1, 300, -200, -300, -200, -300, 200, 300, 200);
    const int cx = (s.Corners[0].X + s.Corners[1].X) / 2, cy = (s.Corners[1].Y + s.Corners[2].Y) / 2;
    form->PaintBox1->MouseMove(TShiftState(), cx, cy);
    ASSERT_TRUE(s.MoveWhole);
    form->PaintBox1->MouseDown(mbLeft, TShiftState{ssLeft}, cx, cy);
    form->PaintBox1->MouseMove(TShiftState{ssLeft}, form->PaintBox1->Width() - 2, cy);
    form->PaintBox1->MouseUp(mbLeft, TShiftState(), form->PaintBox1->Width() - 2, cy);
  });
  Click("Fertigstellen1");
  Click("Ende1");
  ws.AnswerDialogs({mrOk, mrOk});
  Open();
  EXPECT_TRUE(edgePreview);
  EXPECT_NE(readout, "");
  EXPECT_EQ(ResultCode, 0);
  EXPECT_EQ(DialogTexts(), (std::vector<std::string>{UnusableCornersMessage, CloseQuestion}));
}

TEST_F(WindowTest, MarkersTheSolverCannotUseAreRefusedWithAMessage) {
  bool shown = true;
  std::string focal;
  // Three corners on one line.
  ws.Post([&] { form->PictureSurface->SetMarkerCorners(1, 100, 0, 0, 0, -100, 0, 50, 80); });
  Click("Vorschau1");
  Inspect([&] { shown = form->PreviewShown; });
  // Turned about the horizontal axis only: the warning, focal ratio 1, and the preview goes on.
  ws.Post([&] { form->PictureSurface->SetMarkerCorners(1, 150, -100, -150, -100, -130, 100, 130, 100); });
  Click("Vorschau1");
  Inspect([&] { focal = form->Edit3->Text(); });
  Click("Ende1");
  ws.AnswerDialogs({mrOk, mrOk, mrOk});
  Open();
  EXPECT_FALSE(shown);
  EXPECT_EQ(focal, "1.000");
  ASSERT_EQ(ws.Dialogs().size(), 3u);
  EXPECT_EQ(ws.Dialogs()[0].Text, UnusableCornersMessage);
  EXPECT_EQ(ws.Dialogs()[0].Caption, "Informationen");
  EXPECT_EQ(ws.Dialogs()[1].Text, PlausibilityMessage);
  EXPECT_EQ(ws.Dialogs()[2].Text, CloseQuestion);
}

TEST_F(WindowTest, OptionTogglesAndLastMarkerComesBack) {
  bool checks[2] = {};
  int window = -1;
  Click("OhneFarbinterpolation1");
  Inspect([&] { checks[0] = form->OhneFarbinterpolation1->Checked(); });
  Click("OhneFarbinterpolation1");
  Inspect([&] { checks[1] = form->OhneFarbinterpolation1->Checked(); });
  ws.Post([&] { form->PictureSurface->DeleteMarker(); form->PictureSurface->MarkerState = MarkerNone; });
  Click("LetzteAuswahl1");
  Inspect([&] {
    double x[4], y[4];
    form->PictureSurface->GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], window);
  });
  Click("Ende1");
  Open();
  EXPECT_TRUE(checks[0]);
  EXPECT_FALSE(checks[1]);
  EXPECT_EQ(window, 1);
}

TEST_F(WindowTest, CommandsWaitUntilTheDeliveredResultHasClosedTheWindow) {
  // Commands the user chooses while the result goes to the host must not run: a Preview would
  // make the close ask about a result already delivered, a Pretty Print deliver it twice.
  host.duringPut = [&] {
    ws.PostDuringWork([&] {
      form->Vorschau1->Click();
      form->Fertigstellen1->Click();
    });
  };
  Click("Fertigstellen1");
  Open();
  EXPECT_EQ(ResultCode, 1);
  EXPECT_TRUE(ws.Dialogs().empty()) << DialogTexts()[0];
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "PutImage"), 1);
  EXPECT_TRUE(app.Forms().empty());
}

TEST_F(WindowTest, TallPictureIsCentredInItsHalf) {
  host.width = 300;
  host.height = 400;
  host.Install();
  std::array<int, 4> pane1{};
  Inspect([&] {
    pane1 = {form->PaintBox1->Left(), form->PaintBox1->Top(), form->PaintBox1->Width(), form->PaintBox1->Height()};
  });
  Click("Ende1");
  Open();
  // Height-limited: width Round(624 / (4/3)) = 468, shifted by (620 - 468) / 2 = 76.
  EXPECT_EQ(pane1, (std::array<int, 4>{84, 50, 468, 624}));
}

TEST_F(WindowTest, DraggingTheMarkerClearsTheFocalRatioAndHelpWindowsOpen) {
  std::string during, hovering;
  Click("Vorschau1");
  ws.Post([&] {
    // A move without a button leaves the read-out; a left drag on a corner clears it.
    form->PaintBox1->MouseMove(TShiftState(), 300, 200);
    hovering = form->Edit3->Text();
    const TPoint a = form->PictureSurface->Corners[0];
    form->PaintBox1->MouseDown(mbLeft, TShiftState{ssLeft}, a.X, a.Y);
    form->PaintBox1->MouseMove(TShiftState{ssLeft}, a.X - 5, a.Y + 5);
    during = form->Edit3->Text();
    form->PaintBox1->MouseUp(mbLeft, TShiftState(), a.X - 5, a.Y + 5);
  });
  // The help windows are modal: each is closed by the next queued action.
  Click("Bedienung1");
  ws.Post([&] { app.Forms().back()->Close(); });
  Click("ber1");
  ws.Post([&] {
    auto* info = dynamic_cast<TInfoform*>(app.Forms().back().get());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Memo1->Lines()[0], "Version:  2.1.0.0");
    info->Close();
  });
  Click("Ende1");
  Open();
  EXPECT_EQ(hovering, "1.000");
  EXPECT_EQ(during, "-");
}

}  // namespace
}  // namespace planora
