// TFEntzerren: the menu commands, and what a resampling run shows the user.

#include "engine/setup.h"
#include "help/infounit.h"
#include "help/ubedienung_kurz.h"
#include "platform/scope_exit.h"
#include "plugin/plgint.h"
#include "window/UJPGEntzerren.h"

namespace planora {

// The window's side of a resampling run: the hourglass, the progress bar,
// the option's check mark, the last-marker corners and the preview flag.
class TFEntzerren::TWindowUi : public TRectifyUi {
 public:
  explicit TWindowUi(TFEntzerren& form) : form_(form) {}
  void BeginRun() override {
    Application->SetScreenCursor(crHourGlass);
    // Messages get through during the run; commands and drags must wait.
    form_.SetCommandsEnabled(false);
  }
  void EndRun() override {
    form_.SetCommandsEnabled(true);
    Application->SetScreenCursor(crDefault);
  }
  void SetProgress(int position) override { form_.ProgressBar1->SetPosition(position); }
  void ProcessMessages() override { Application->ProcessMessages(); }
  bool NearestOnly() override { return form_.OhneFarbinterpolation1->Checked(); }
  void CornersUsed(const double corners[4][2]) override {
    double* last[4] = {form_.LastCornerA, form_.LastCornerB, form_.LastCornerC, form_.LastCornerD};
    for (int k = 0; k < 4; ++k) {
      last[k][0] = corners[k][0];
      last[k][1] = corners[k][1];
    }
  }
  void PreviewShownChanged(bool shown) override { form_.PreviewShown = shown; }

 private:
  TFEntzerren& form_;
};

void TFEntzerren::SetCommandsEnabled(bool Enabled) {
  running_ = !Enabled;
  for (TMenuItem* item : {Datei1, Bearbeiten1, Options1, N3}) item->SetEnabled(Enabled);
  PaintBox1->SetEnabled(Enabled);
  PaintBox2->SetEnabled(Enabled);
}

void TFEntzerren::ReadCorners() {
  TCameraSolver& c = *Camera;
  PictureSurface->GetMarkerCorners(c.CornerA[0], c.CornerA[1], c.CornerB[0], c.CornerB[1], c.CornerC[0],
                                   c.CornerC[1], c.CornerD[0], c.CornerD[1], CornerWindow);
}

bool TFEntzerren::PrepareRun() {
  // Before the picture was fetched, or when the host refused it, there is
  // nothing to read the corners from or to rectify.
  if (running_ || !pictureFetched_) return false;
  ReadCorners();
  if (CornerWindow <= 0) {
    // A marker with a corner off the picture (moved out as a whole, say)
    // cannot be used; without any marker there is nothing to say.
    if (PictureSurface->MarkerState != MarkerNone) MessageDlg(UnusableCornersMessage, mtInformation, {mbOK});
    return false;
  }
  const TCameraSetUp setUp = SetUpCamera(*Camera, ImageWidth, ImageHeight);
  // A marker the solver cannot use would be drawn through the frame of other
  // corners, or of none: say so instead of showing a wrong picture. The
  // doubt about the corners comes first, since the work goes on after it.
  if (setUp.Solved && !setUp.Plausible) MessageDlg(PlausibilityMessage, mtInformation, {mbOK});
  if (!setUp.Ready()) {
    MessageDlg(UnusableCornersMessage, mtInformation, {mbOK});
    return false;
  }
  Edit3->SetText(FormatFocalRatio(Camera->FocalRatio));
  return true;
}

bool TFEntzerren::RunRectify(bool Preview) {
  TWindowUi ui(*this);
  TRectifyJob job;
  job.Camera = Camera.get();
  job.Source = Preview ? PictureSurface.get() : SourceSurface.get();
  job.Target = Preview ? PreviewSurface.get() : ResultSurface.get();
  job.Preview = Preview;
  job.CropPercent = SpinEdit1->Value();
  job.ImageWidth = ImageWidth;
  job.ImageHeight = ImageHeight;
  job.MarkerSurface = PreviewSurface.get();
  try {
    Rectify(job, ui);
  } catch (const ERectifyError&) {
    // The frame cannot be formed for these corners (the marked area has no
    // extent on the object's plane): nothing was drawn or changed.
    MessageDlg(UnusableCornersMessage, mtInformation, {mbOK});
    return false;
  }
  return true;
}

void TFEntzerren::Vorschau1Click(TObject* /*Sender*/) {
  if (PrepareRun()) RunRectify(true);
}

void TFEntzerren::Fertigstellen1Click(TObject* /*Sender*/) {
  if (!PrepareRun() || !RunRectify(false)) return;
  // The commands stay off from the end of the full-resolution run until the
  // result is with the host and the window closes: a Preview in between
  // would make the close ask about a result already delivered, a second
  // Pretty Print would deliver twice. A refused result gives them back.
  SetCommandsEnabled(false);
  const TScopeExit commandsBack([this] { SetCommandsEnabled(true); });
  Application->ProcessMessages();
  CheckHost(PutHostImage(*ResultSurface->Bitmap));
  Repaint();
  Application->ProcessMessages();
  ResultCode = 1;
  Ende1Click(this);
}

void TFEntzerren::LetzteAuswahl1Click(TObject* /*Sender*/) {
  if (!pictureFetched_) return;
  PictureSurface->SetMarkerCorners(PictureWindowNumber, LastCornerA[0], LastCornerA[1], LastCornerB[0],
                                   LastCornerB[1], LastCornerC[0], LastCornerC[1], LastCornerD[0], LastCornerD[1]);
}

void TFEntzerren::OhneFarbinterpolation1Click(TObject* /*Sender*/) {
  OhneFarbinterpolation1->SetChecked(!OhneFarbinterpolation1->Checked());
}

void TFEntzerren::Ende1Click(TObject* /*Sender*/) { Close(); }

void TFEntzerren::Bedienung1Click(TObject* /*Sender*/) { Application->CreateForm<TBedienung_kurz>()->ShowModal(); }

void TFEntzerren::ber1Click(TObject* /*Sender*/) {
  TInfoform* info = Application->CreateForm<TInfoform>();
  info->setze_sprache();
  info->ShowModal();
}

}  // namespace planora
