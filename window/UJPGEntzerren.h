// TFEntzerren: the rectification window. It fetches the host's picture,
// shows it in the left pane under a four-corner marker the user drags onto
// the photographed rectangle, previews the straightened picture in the
// right pane and finally hands the full-resolution result back to the host.
//
// The implementation is spread over files named after what each part does:
// entzerren_form.cpp (controls, life cycle, layout, settings), marker.cpp
// (the marker set-up and its notification) and commands.cpp (the menu).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/camera.h"
#include "engine/rectify.h"
#include "engine/settings.h"
#include "platform/controls.h"
#include "platform/forms.h"
#include "platform/inifiles.h"
#include "plot/glib2.h"

namespace planora {

// 0 until a full-resolution result has been handed to the host, then 1;
// Execute returns it.
extern std::uint8_t ResultCode;

// The message texts of the window.
inline constexpr const char* CloseQuestion = "Finish without result for Pictoria?";
inline constexpr const char* UnusableCornersMessage =
    "The four corners do not outline a usable quadrilateral: a corner lies outside the picture, three of them "
    "lie on one line or two lie on top of each other. Move them onto the corners of the photographed rectangle.";

class TFEntzerren : public TForm {
 public:
  explicit TFEntzerren(TApplication* owner);
  ~TFEntzerren() override;

  // ---- controls
  TPaintBox* PaintBox1;
  TPaintBox* PaintBox2;
  TLabel* Label2;
  TEdit* Edit1;
  TLabel* Label3;
  TEdit* Edit2;
  TLabel* Label1;
  TEdit* Edit3;
  TLabel* Label4;
  TSpinEdit* SpinEdit1;
  TProgressBar* ProgressBar1;
  // ---- menu
  TMenuItem* Datei1;
  TMenuItem* Ende1;
  TMenuItem* Bearbeiten1;
  TMenuItem* LetzteAuswahl1;
  TMenuItem* N2;
  TMenuItem* Vorschau1;
  TMenuItem* Fertigstellen1;
  TMenuItem* Options1;
  TMenuItem* OhneFarbinterpolation1;
  TMenuItem* N3;
  TMenuItem* Bedienung1;
  TMenuItem* N4;
  TMenuItem* ber1;

  // ---- fields, in declaration order
  std::unique_ptr<TIniFile> SettingsFile;
  std::unique_ptr<TPlottFlaeche> PictureSurface;
  std::unique_ptr<TPlottFlaeche> PreviewSurface;
  std::unique_ptr<TPlottFlaeche> SourceSurface;
  std::unique_ptr<TPlottFlaeche> ResultSurface;
  std::int32_t ImageHeight = 0;
  std::int32_t ImageWidth = 0;
  double Diagonal = 0;
  double LastCornerA[2] = {}, LastCornerB[2] = {}, LastCornerC[2] = {}, LastCornerD[2] = {};
  std::int32_t CornerWindow = 0;
  std::int32_t PictureHash = 0;
  std::int32_t StoredHash = 0;
  std::unique_ptr<TBitmap> PictureBitmap;
  bool PreviewShown = false;
  // The camera solver's fields (FocalLength, FocalRatio, CornerA ... CornerD
  // and the plane frame), created and released with the window.
  std::unique_ptr<TCameraSolver> Camera;

  // ---- life cycle
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void FormDestroy(TObject* Sender);

  // ---- marker
  void MarkerSetUp();
  // The last-marker corners lie on the picture's window 1.
  bool StoredCornersUsable() const;
  void MarkerNotify(TShiftState Shift, bool Found, double X, double Y);

  // ---- commands
  void Vorschau1Click(TObject* Sender);
  void Fertigstellen1Click(TObject* Sender);
  void LetzteAuswahl1Click(TObject* Sender);
  void OhneFarbinterpolation1Click(TObject* Sender);
  void Ende1Click(TObject* Sender);
  void Bedienung1Click(TObject* Sender);
  void ber1Click(TObject* Sender);

  // True while a resampling run lets messages through: the menu and the
  // panes are disabled meanwhile.
  bool Running() const { return running_; }
  bool PictureFetched() const { return pictureFetched_; }

 private:
  class TWindowUi;
  void ReadCorners();
  // Reads the marker, solves the camera, shows the focal ratio; false (and
  // nothing changed but the read corners) when there is nothing to run.
  bool PrepareRun();
  // False when the frame cannot be formed (the user has been told).
  bool RunRectify(bool Preview);
  void SetCommandsEnabled(bool Enabled);
  void LayoutFirstPass(int& Avail, double& PaneW, double& PaneAspect);
  void LayoutSecondPass(int Avail, double PaneW, double PaneAspect);

  // True once the host has handed over the picture: before that (or after
  // a refusal) the panes are empty and no command has anything to work on.
  bool pictureFetched_ = false;
  bool running_ = false;
};

}  // namespace planora
