// The desktop program's own straightening view: the photo with its corners
// (zoom, loupe, nudging), a live preview with the focal ratio, proportions
// and plausibility beside it, the options in a side panel, undo and redo
// for every change of the corners, and Export, which runs the batch tool's
// own code so that the same corners and options give the same bytes.
#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <QUndoStack>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "apps/imageio/imageio.h"
#include "apps/planora/view/live_preview.h"
#include "apps/planora/view/photo_canvas.h"
#include "apps/rectify/batch.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QSpinBox;

namespace planora {

// The options of the side panel, as the batch tool takes them.
struct TStraightenOptions {
  bool ObjectFrame = false;
  int Crop = 90;
  bool Nearest = false;
  std::optional<double> Focal35mm;  // a known focal length, 35 mm equivalent
  std::string AspectText;           // known proportions ("a4", "4:3"); empty: none
  int Quality = 95;
};

// The batch tool's options for exporting `input` to `output` with these
// corners (photo pixels) and options. EUsageError for proportions it
// does not understand.
TBatchOptions ExportBatchOptions(const std::string& input, const std::string& output, const TCorners& corners,
                                 const TStraightenOptions& options);

// The default rectangle: 80 % of the photo's width and height, centred.
TCorners DefaultCorners(QSize photo);

class TPreviewPane;

class TStraightenWindow : public QMainWindow {
 public:
  TStraightenWindow();
  ~TStraightenWindow() override;

  // Starts opening a photo: a quick reduced copy is shown at once, the
  // full photo, its preview copy and its automatic corners are made on a
  // worker thread. False (after saying why) when it cannot even start.
  bool OpenPhoto(const QString& path);
  // As OpenPhoto, but unsaved work is not dropped without asking.
  bool OpenPhotoAsked(const QString& path);
  bool Loading() const { return loading_; }
  bool HasPhoto() const { return source_ != nullptr; }
  const QString& PhotoPath() const { return photoPath_; }

  // Starts an export to path on a worker thread; the window stays usable
  // (zoom, pan) and shows the progress. False when it cannot start.
  bool Export(const QString& path);
  bool Exporting() const { return exporting_; }
  // "" after the last export succeeded, else what went wrong.
  const QString& ExportProblem() const { return exportProblem_; }

  // True when nothing unsaved would be lost, or the user exported it or
  // agreed to drop it. Automated runs (Interactive off) are not asked.
  bool MayDropWork();
  bool Unsaved() const;

  TPhotoCanvas* Canvas() const { return canvas_; }
  QWidget* Preview() const;  // the live preview's pane
  QUndoStack* UndoStack() { return &undo_; }
  QAction* UndoAction() const { return undoAction_; }
  QAction* RedoAction() const { return redoAction_; }

  TStraightenOptions Options() const;
  void SetOptions(const TStraightenOptions& options);
  // The last preview's read-outs, as shown.
  const TPreviewResult& LastPreview() const { return lastPreview_; }
  int PreviewCount() const { return previewCount_; }
  QString ReadoutText() const;

  // Puts the corners on the photo and redraws the preview; not a step of
  // its own (the undo stack's steps call it).
  void ShowCorners(const TCorners& corners);
  // Edits that go onto the undo stack, as the menu items make them.
  void SetCornersUndoable(const TCorners& corners, const QString& what);
  // Looks for the object on a worker thread; the corners found become an
  // undo step when it is done (Detecting() false again).
  void DetectCorners();
  bool Detecting() const { return detecting_; }
  void ResetCorners();

  // Shows errors and questions in dialogs; off for automated runs, which
  // write errors to standard error instead.
  bool Interactive = true;
  // Opens the window that runs the plug-in on a photo; the Plug-ins menu
  // is offered when it is set (before show()).
  std::function<void(const QString& photo)> OnOpenPluginHost;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct TLoaded;
  // What the detector found, in the view's terms.
  struct TFound {
    bool Found = false;
    TCorners Corners{};
    double Confidence = 0;
    QString Reason;   // why nothing was found
    QString Problem;  // the photo could not be read, or there is no detector
  };
  static TFound FindCorners(const TPhoto& photo);
  void FinishDetection(const TFound& found);
  void BuildMenus();
  QWidget* BuildSidePanel();
  void ChooseAndOpen();
  void ChooseAndExport();
  void Install(std::shared_ptr<TLoaded> loaded);
  void FinishExport(int code, const QString& messages, const QString& path);
  void RequestPreview();
  void RenderPreviewNow();
  void OptionsChanged();
  void UpdateTitle();
  void UpdateActions();
  void RememberRecent(const QString& path);
  void FillRecentMenu();
  void ShowError(const QString& text);
  void JoinWorkers();
  // Why the photo on disk is no longer the one shown, or "".
  QString PhotoChangedOnDisk() const;

  TPhotoCanvas* canvas_ = nullptr;
  TPreviewPane* preview_ = nullptr;
  QLabel* focalLabel_ = nullptr;
  QLabel* proportionsLabel_ = nullptr;
  QLabel* plausibilityLabel_ = nullptr;
  QComboBox* frame_ = nullptr;
  QSpinBox* crop_ = nullptr;
  QComboBox* sampling_ = nullptr;
  QCheckBox* focalKnown_ = nullptr;
  QDoubleSpinBox* focal_ = nullptr;
  QLabel* focalNote_ = nullptr;
  QComboBox* aspect_ = nullptr;
  QLabel* aspectNote_ = nullptr;
  QFormLayout* optionsForm_ = nullptr;
  QSpinBox* quality_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QMenu* pluginMenu_ = nullptr;
  QAction* exportAction_ = nullptr;
  QAction* detectAction_ = nullptr;
  QAction* resetAction_ = nullptr;
  QAction* undoAction_ = nullptr;
  QAction* redoAction_ = nullptr;
  QAction* openAction_ = nullptr;

  QUndoStack undo_;
  QString photoPath_;
  QDateTime photoStamp_;
  qint64 photoBytes_ = 0;
  int exportIndex_ = 0;  // the undo step the running export started from
  std::unique_ptr<TPreviewSource> source_;
  std::optional<double> exifFocalRatio_;
  TPreviewResult lastPreview_;
  int previewCount_ = 0;
  bool previewPending_ = false;
  bool optionsDirty_ = false;
  bool settingOptions_ = false;
  bool loading_ = false;
  bool exporting_ = false;
  bool detecting_ = false;
  bool closeAfterExport_ = false;  // closed while exporting: close when written
  QString exportProblem_;
  // Bumped by every open: a load that finishes after another was started
  // is dropped.
  std::shared_ptr<std::atomic<int>> generation_ = std::make_shared<std::atomic<int>>(0);
  std::thread loader_, exporter_, detector_;
  // What was shown before a load began, shown again if it fails.
  std::vector<QImage> previousLevels_;
  QSize previousSize_;
  TCorners previousCorners_{};
};

}  // namespace planora
