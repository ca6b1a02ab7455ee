// TFEntzerren: controls, life cycle, layout and settings file.

#include "platform/scope_exit.h"
#include "plugin/plgint.h"
#include "plugin/versionsinfo.h"
#include "engine/fingerprint.h"
#include "engine/setup.h"
#include "window/UJPGEntzerren.h"

namespace planora {

std::uint8_t ResultCode = 0;

TFEntzerren::TFEntzerren(TApplication* owner) : TForm(owner, "FEntzerren") {
  SetCaption("Form1");
  SetBounds(681, 167, 1024, 586);
  SetPosition(poDesktopCenter);
  SetWindowState(wsMaximized);
  SetColor(clBtnFace);
  SetFont(TFont{"MS Sans Serif", -11});

  PaintBox1 = Add<TPaintBox>("PaintBox1");
  PaintBox1->SetBounds(7, 55, 490, 385);
  PaintBox1->SetAnchors(0);
  PaintBox2 = Add<TPaintBox>("PaintBox2");
  PaintBox2->SetBounds(502, 55, 505, 385);
  PaintBox2->SetAnchors(0);
  // Labels fit their captions: wide enough for the caption in any system font.
  Label2 = Add<TLabel>("Label2", "x-position");
  Label2->SetBounds(8, 9, 90, 15);
  Edit1 = Add<TEdit>("Edit1");
  Edit1->SetBounds(8, 25, 89, 21);
  Label3 = Add<TLabel>("Label3", "y-position");
  Label3->SetBounds(104, 9, 95, 15);
  Edit2 = Add<TEdit>("Edit2");
  Edit2->SetBounds(104, 25, 89, 21);
  Label1 = Add<TLabel>("Label1", "Focal Length/Diagonal");
  Label1->SetBounds(208, 9, 170, 15);
  Edit3 = Add<TEdit>("Edit3");
  Edit3->SetBounds(208, 25, 121, 21);
  Edit3->SetText("-");
  Label4 = Add<TLabel>("Label4", "Crop-Size in %:");
  Label4->SetBounds(501, 8, 120, 15);
  Label4->SetAnchors(akTop | akRight);
  SpinEdit1 = Add<TSpinEdit>("SpinEdit1");
  SpinEdit1->SetBounds(501, 24, 65, 22);
  SpinEdit1->SetAnchors(akTop | akRight);
  SpinEdit1->SetMinValue(1);
  SpinEdit1->SetMaxValue(100);
  ProgressBar1 = Add<TProgressBar>("ProgressBar1");
  ProgressBar1->SetBounds(573, 25, 433, 16);
  ProgressBar1->SetAnchors(akTop | akRight);
  ProgressBar1->SetRange(0, 100);

  TMenuItem& menu = MainMenu();
  Datei1 = menu.Add("Datei1", "File");
  Ende1 = Datei1->Add("Ende1", "Close");
  Bearbeiten1 = menu.Add("Bearbeiten1", "Execute");
  LetzteAuswahl1 = Bearbeiten1->Add("LetzteAuswahl1", "Last marker");
  N2 = Bearbeiten1->Add("N2", "-");
  Vorschau1 = Bearbeiten1->Add("Vorschau1", "Preview");
  Fertigstellen1 = Bearbeiten1->Add("Fertigstellen1", "Pretty Print and Close");
  Options1 = menu.Add("Options1", "Options");
  OhneFarbinterpolation1 = Options1->Add("OhneFarbinterpolation1", "Without Color Interpolation");
  OhneFarbinterpolation1->SetRadioItem(true);
  N3 = menu.Add("N3", "?");
  Bedienung1 = N3->Add("Bedienung1", "Use of the Program");
  N4 = N3->Add("N4", "-");
  ber1 = N3->Add("ber1", "Info");

  Ende1->OnClick = [this](TObject* s) { Ende1Click(s); };
  LetzteAuswahl1->OnClick = [this](TObject* s) { LetzteAuswahl1Click(s); };
  Vorschau1->OnClick = [this](TObject* s) { Vorschau1Click(s); };
  Fertigstellen1->OnClick = [this](TObject* s) { Fertigstellen1Click(s); };
  OhneFarbinterpolation1->OnClick = [this](TObject* s) { OhneFarbinterpolation1Click(s); };
  Bedienung1->OnClick = [this](TObject* s) { Bedienung1Click(s); };
  ber1->OnClick = [this](TObject* s) { ber1Click(s); };

  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
  OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
  OnDestroy = [this](TObject* s) { FormDestroy(s); };
}

TFEntzerren::~TFEntzerren() = default;

void TFEntzerren::FormCreate(TObject* /*Sender*/) {
  SettingsFile = std::make_unique<TIniFile>(ReadIniFileName());
  PictureSurface = std::make_unique<TPlottFlaeche>();
  PreviewSurface = std::make_unique<TPlottFlaeche>();
  SourceSurface = std::make_unique<TPlottFlaeche>();
  ResultSurface = std::make_unique<TPlottFlaeche>();
  PictureBitmap = std::make_unique<TBitmap>();
  double* last[4] = {LastCornerA, LastCornerB, LastCornerC, LastCornerD};
  for (double* c : last) c[0] = c[1] = 0;
  Camera = std::make_unique<TCameraSolver>();

  // A settings file that cannot be read, or keys that do not convert, give
  // the defaults: the window never fails to open over its settings.
  const TMarkerSettings stored = ReadMarkerSettings(*SettingsFile);
  StoredHash = stored.PictureHash;
  for (int k = 0; k < 4; ++k) {
    last[k][0] = stored.Corners[k][0];
    last[k][1] = stored.Corners[k][1];
  }
  SpinEdit1->SetValue(stored.CropPercent);

  // ModuleVersion begins with a blank of its own.
  SetCaption("Planora V: " + ModuleVersion());
  SetBorderIcons(BorderIcons() & ~biMaximize);
}

void TFEntzerren::LayoutFirstPass(int& Avail, double& PaneW, double& PaneAspect) {
  const int CW = ClientWidth(), CH = ClientHeight(), W = Width();
  PaintBox1->SetBounds(Edit1->Left(), Edit1->Top() + Edit1->Height() + 4, PaintBox1->Width(), PaintBox1->Height());
  Avail = CW / 2 - 2 * PaintBox1->Left();
  PaintBox1->SetBounds(PaintBox1->Left(), PaintBox1->Top(), Avail, CH - 80 - PaintBox1->Top());
  PaintBox2->SetBounds(W / 2, PaintBox2->Top(), PaintBox2->Width(), PaintBox2->Height());
  Label4->SetBounds(PaintBox2->Left(), Label4->Top(), Label4->Width(), Label4->Height());
  SpinEdit1->SetBounds(PaintBox2->Left(), SpinEdit1->Top(), SpinEdit1->Width(), SpinEdit1->Height());
  ProgressBar1->SetBounds(SpinEdit1->Left() + SpinEdit1->Width() + 6, ProgressBar1->Top(), ProgressBar1->Width(),
                          ProgressBar1->Height());
  PaneW = PaintBox1->Width();
  PaneAspect = static_cast<double>(PaintBox1->Height()) / PaintBox1->Width();
}

void TFEntzerren::LayoutSecondPass(int Avail, double PaneW, double PaneAspect) {
  const double PicAspect = static_cast<double>(ImageHeight) / ImageWidth;
  if (PicAspect < PaneAspect) {
    PaintBox1->SetBounds(PaintBox1->Left(), PaintBox1->Top(), Round(PaneW), Round(PaneW * PicAspect));
  } else {
    PaintBox1->SetBounds(PaintBox1->Left(), PaintBox1->Top(), Round(PaintBox1->Height() / PicAspect),
                         PaintBox1->Height());
  }
  const int Shift = (Avail - PaintBox1->Width()) / 2;
  PaintBox1->SetBounds(PaintBox1->Left() + Shift, PaintBox1->Top(), PaintBox1->Width(), PaintBox1->Height());
  PaintBox2->SetBounds(PaintBox2->Left() + Shift, PaintBox1->Top(), PaintBox1->Width(), PaintBox1->Height());
}

void TFEntzerren::FormShow(TObject* /*Sender*/) {
  PreviewShown = false;
  Edit3->SetText("-");
  ResultCode = 0;

  int Avail = 0;
  double PaneW = 0, PaneAspect = 0;
  LayoutFirstPass(Avail, PaneW, PaneAspect);

  // The screen cursor goes back to the arrow however the opening ends: a
  // host that refuses the picture must not leave the user with an hourglass.
  Application->SetScreenCursor(crHourGlass);
  const TScopeExit arrow([] { Application->SetScreenCursor(crDefault); });
  Application->ProcessMessages();
  ShowHostText("", true);
  ImageWidth = HostImageWidth();
  ImageHeight = HostImageHeight();
  // Both get the whole picture below: a white fill first would be a pass
  // over twice the picture for nothing.
  SourceSurface->InitOffscreenToOverwrite(ImageWidth, ImageHeight);
  ResultSurface->InitOffscreenToOverwrite(ImageWidth, ImageHeight);
  LayoutSecondPass(Avail, PaneW, PaneAspect);
  PictureSurface->AttachPaintBox(PaintBox1, "");
  PreviewSurface->AttachPaintBox(PaintBox2, "");
  for (TPlottFlaeche* s : {PictureSurface.get(), PreviewSurface.get(), SourceSurface.get(), ResultSurface.get()})
    DefinePictureWindow(*s, ImageWidth, ImageHeight);
  Diagonal = PictureDiagonal(ImageWidth, ImageHeight);
  PictureBitmap->SetSize(ImageWidth, ImageHeight);
  CheckHost(GetHostImage(*PictureBitmap));
  pictureFetched_ = true;
  PictureHash = Fingerprint(*PictureBitmap);
  PictureSurface->DrawPicture(*PictureBitmap);
  // The left pane shows the picture now, not after the full-size copies.
  Application->ProcessMessages();
  // The full-size surfaces hold every pixel of the picture.
  SourceSurface->DrawPictureFullSize(*PictureBitmap);
  ResultSurface->DrawPictureFullSize(*PictureBitmap);
  Application->ProcessMessages();
  MarkerSetUp();
}

void TFEntzerren::FormCloseQuery(TObject* /*Sender*/, bool& CanClose) {
  CanClose = true;
  if (!PreviewShown) return;
  if (MessageDlg(CloseQuestion, mtWarning, {mbOK, mbAbort}) == mrAbort) CanClose = false;
}

void TFEntzerren::FormClose(TObject* /*Sender*/, TCloseAction& Action) {
  // The result, if any, is with the host already: a settings file that cannot
  // be written costs the remembered marker, not the window's close. A host
  // that names no settings file gets none written.
  if (SettingsFile->FileName().empty()) {
    NotifyHostClose();
    Action = caFree;
    return;
  }
  TMarkerSettings settings;
  settings.PictureHash = PictureHash;
  const double* last[4] = {LastCornerA, LastCornerB, LastCornerC, LastCornerD};
  for (int k = 0; k < 4; ++k) {
    settings.Corners[k][0] = last[k][0];
    settings.Corners[k][1] = last[k][1];
  }
  settings.CropPercent = SpinEdit1->Value();
  WriteMarkerSettings(*SettingsFile, settings);
  try {
    SettingsFile->UpdateFile();
  } catch (const std::exception& e) {
    // The error names the file already.
    MessageDlg(std::string(e.what()) + "\nThe last marker will not be restored next time.", mtWarning, {mbOK});
  }
  NotifyHostClose();
  Action = caFree;
}

void TFEntzerren::FormDestroy(TObject* /*Sender*/) {
  PictureSurface.reset();
  PreviewSurface.reset();
  SourceSurface.reset();
  ResultSurface.reset();
  PictureBitmap.reset();
  Camera.reset();
  SettingsFile.reset();
}

}  // namespace planora
