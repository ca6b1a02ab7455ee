#include "apps/planora/view/straighten_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUndoCommand>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>
#include <iostream>
#include <sstream>

#include "apps/imageio/imageio.h"
#include "apps/imageio/metadata.h"
#include "apps/planora/main_window.h"
#include "detect/detect.h"
#include "engine/camera.h"

namespace planora {

// The straightened preview, fitted into the pane on a grey ground.
class TPreviewPane : public QWidget {
 public:
  explicit TPreviewPane(QWidget* parent) : QWidget(parent) { setMinimumSize(240, 180); }
  void SetImage(QImage image, QString note) {
    image_ = std::move(image);
    note_ = std::move(note);
    update();
  }
  const QImage& Image() const { return image_; }
  std::function<void()> OnResized;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(58, 58, 58));
    if (!image_.isNull()) {
      const QSize s = image_.size().scaled(size(), Qt::KeepAspectRatio);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s), image_);
    }
    if (!note_.isEmpty()) {
      p.setPen(Qt::white);
      p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, note_);
    }
  }
  void resizeEvent(QResizeEvent*) override {
    if (OnResized) OnResized();
  }

 private:
  QImage image_;
  QString note_;
};

namespace {

constexpr int kMaxRecent = 8;
// A photo larger than this opens with a quick reduced copy first.
constexpr qint64 kQuickPixels = 4'000'000;
// The 35 mm film frame's diagonal, which defines the equivalent focal length.
const double kFilmDiagonal = std::hypot(36.0, 24.0);

class TCornersCommand : public QUndoCommand {
 public:
  TCornersCommand(TStraightenWindow* window, const TCorners& before, const TCorners& after, const QString& what)
      : QUndoCommand(what), window_(window), before_(before), after_(after) {}
  void undo() override { Apply(before_); }
  void redo() override { Apply(after_); }

 private:
  void Apply(const TCorners& c) { window_->ShowCorners(c); }
  TStraightenWindow* window_;
  TCorners before_, after_;
};

QImage ToImage(const TBitmap& b) {
  QImage image(b.Width(), b.Height(), QImage::Format_BGR888);
  for (int y = 0; y < b.Height(); ++y) std::memcpy(image.scanLine(y), b.ScanLine(y), static_cast<std::size_t>(b.Width()) * 3);
  return image;
}

QSettings Settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "planora", "planora-view"); }

}  // namespace

// What the loading thread hands to the window.
struct TStraightenWindow::TLoaded {
  int Generation = 0;
  QString Path;
  QString Problem;
  QSize Size;
  std::vector<QImage> Levels;
  std::unique_ptr<TPreviewSource> Source;
  std::optional<double> ExifFocalRatio;
  bool Found = false;
  TCorners Corners{};
  QString DetectNote;
  QDateTime Stamp;
  qint64 Bytes = 0;
};

TStraightenWindow::TFound TStraightenWindow::FindCorners(const TPhoto& photo) {
  TBitmap bitmap(photo.Width, photo.Height);
  const std::size_t row = static_cast<std::size_t>(photo.Width) * 3;
  for (int y = 0; y < photo.Height; ++y) std::memcpy(bitmap.ScanLine(y), photo.Pixels.data() + y * row, row);
  const TDetection d = DetectRectangle(bitmap);
  TFound f;
  f.Found = d.Found;
  f.Confidence = d.Confidence;
  f.Reason = QString::fromStdString(d.Reason);
  // Not a finding about the photo: the detector is missing, which the user
  // must see rather than read past in the status bar.
  if (!d.Found && !AutomaticCornersAvailable()) {
    f.Problem = f.Reason;
    if (!f.Problem.isEmpty()) f.Problem[0] = f.Problem[0].toUpper();
    f.Problem += ".";
  }
  if (d.Found) {
    // In the marker's order, as the batch tool puts corners given to it.
    double c[4][2];
    std::memcpy(c, d.Corners, sizeof c);
    SortCornersLikeMarker(c);
    for (int k = 0; k < 4; ++k) f.Corners[k] = QPointF(c[k][0], c[k][1]);
  }
  return f;
}

TCorners DefaultCorners(QSize photo) {
  const double w = photo.width(), h = photo.height();
  const double x0 = 0.1 * (w - 1), x1 = 0.9 * (w - 1), y0 = 0.1 * (h - 1), y1 = 0.9 * (h - 1);
  // In the marker's order: upper right, upper left, lower left, lower right.
  return {QPointF(x1, y0), QPointF(x0, y0), QPointF(x0, y1), QPointF(x1, y1)};
}

TBatchOptions ExportBatchOptions(const std::string& input, const std::string& output, const TCorners& corners,
                                 const TStraightenOptions& options) {
  TBatchOptions o;
  o.Input = input;
  o.Output = output;
  std::vector<double> v;
  for (const QPointF& c : corners) {
    v.push_back(c.x());
    v.push_back(c.y());
  }
  o.Corners = v;
  o.PixelCorners = true;
  o.Crop = options.Crop;
  o.Nearest = options.Nearest;
  o.Quality = options.Quality;
  o.Focal35mm = options.Focal35mm;
  if (!options.AspectText.empty()) {
    o.AspectText = options.AspectText;
    o.Aspect = ParseAspect(options.AspectText);
    o.AspectNamed = options.AspectText.find(':') == std::string::npos;
  }
  o.Frame = options.ObjectFrame ? "object" : "photo";
  return o;
}

TStraightenWindow::TStraightenWindow() {
  setWindowTitle("Planora");
  resize(1280, 800);
  setAcceptDrops(true);

  auto* split = new QSplitter(this);
  canvas_ = new TPhotoCanvas(split);
  split->addWidget(canvas_);
  split->addWidget(BuildSidePanel());
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  setCentralWidget(split);

  canvas_->OnCornersMoving = [this](const TCorners&) { RequestPreview(); };
  canvas_->OnCornersEdited = [this](const TCorners& before, const TCorners& after, const QString& what) {
    // The canvas has moved the corners already; redo, which the stack runs
    // on push, sets them again to the same values.
    undo_.push(new TCornersCommand(this, before, after, what));
  };
  preview_->OnResized = [this] { RequestPreview(); };

  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setMaximumWidth(240);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  statusBar()->showMessage("Open a photo with File \u25B8 Open, or drop one on the window");

  BuildMenus();
  connect(&undo_, &QUndoStack::cleanChanged, this, [this] { UpdateTitle(); });
  UpdateActions();
}

TStraightenWindow::~TStraightenWindow() { JoinWorkers(); }

QWidget* TStraightenWindow::Preview() const { return preview_; }

void TStraightenWindow::JoinWorkers() {
  if (loader_.joinable()) loader_.join();
  if (detector_.joinable()) detector_.join();
  if (exporter_.joinable()) exporter_.join();
}

void TStraightenWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  openAction_ = file->addAction("&Open…", QKeySequence::Open, this, [this] { ChooseAndOpen(); });
  recentMenu_ = file->addMenu("Open &Recent");
  connect(recentMenu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  FillRecentMenu();
  exportAction_ = file->addAction("&Export…", QKeySequence(Qt::CTRL | Qt::Key_E), this, [this] { ChooseAndExport(); });
  file->addSeparator();
  file->addAction("&Quit", QKeySequence::Quit, this, [this] { close(); });

  QMenu* edit = menuBar()->addMenu("&Edit");
  undoAction_ = undo_.createUndoAction(this, "&Undo");
  undoAction_->setShortcut(QKeySequence::Undo);
  redoAction_ = undo_.createRedoAction(this, "&Redo");
  redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence::Redo});
  edit->addAction(undoAction_);
  edit->addAction(redoAction_);
  edit->addSeparator();
  detectAction_ = edit->addAction("&Find Corners Automatically", QKeySequence(Qt::CTRL | Qt::Key_D), this,
                                  [this] { DetectCorners(); });
  resetAction_ = edit->addAction("&Reset Corners", QKeySequence(Qt::CTRL | Qt::Key_R), this, [this] { ResetCorners(); });

  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("Zoom &In", QKeySequence::ZoomIn, canvas_, [this] { canvas_->ZoomIn(); });
  view->addAction("Zoom &Out", QKeySequence::ZoomOut, canvas_, [this] { canvas_->ZoomOut(); });
  view->addAction("&Fit to Window", QKeySequence(Qt::CTRL | Qt::Key_0), canvas_, [this] { canvas_->FitToWindow(); });
  view->addAction("&Actual Pixels (100 %)", QKeySequence(Qt::CTRL | Qt::Key_1), canvas_, [this] { canvas_->ActualSize(); });

  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction("&How to Straighten a Photo", this, [this] {
    QMessageBox::information(
        this, "Planora",
        "Drag the four round handles onto the corners of the object (the loupe shows the photo's own pixels "
        "while you drag). Tab selects the next corner; the arrow keys move it by one photo pixel, with Shift by "
        "ten, with Ctrl by a tenth.\n\nZoom with the mouse wheel or + and −, 0 fits the photo, 1 shows it at "
        "100 %. Drag empty space, or hold the space bar, to pan.\n\nThe preview follows every move. File \u25B8 "
        "Export writes the straightened photo at full resolution.");
  });
}

QWidget* TStraightenWindow::BuildSidePanel() {
  auto* panel = new QWidget;
  auto* v = new QVBoxLayout(panel);
  preview_ = new TPreviewPane(panel);
  v->addWidget(preview_, 1);
  focalLabel_ = new QLabel(panel);
  proportionsLabel_ = new QLabel(panel);
  plausibilityLabel_ = new QLabel(panel);
  plausibilityLabel_->setWordWrap(true);
  for (QLabel* l : {focalLabel_, proportionsLabel_, plausibilityLabel_}) {
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(l);
  }

  auto* box = new QGroupBox("Options", panel);
  auto* form = new QFormLayout(box);
  optionsForm_ = form;
  frame_ = new QComboBox(box);
  frame_->addItems({"The whole photo, straightened", "The object only"});
  form->addRow("Framing:", frame_);
  crop_ = new QSpinBox(box);
  crop_->setRange(1, 100);
  crop_->setValue(90);
  crop_->setSuffix(" %");
  crop_->setToolTip("How much of the output the marked rectangle fills");
  form->addRow("Rectangle fills:", crop_);
  sampling_ = new QComboBox(box);
  sampling_->addItems({"Smooth (bilinear)", "Nearest pixel"});
  form->addRow("Sampling:", sampling_);
  focalKnown_ = new QCheckBox("Known focal length", box);
  focal_ = new QDoubleSpinBox(box);
  focal_->setRange(4, 2000);
  focal_->setDecimals(1);
  focal_->setSuffix(" mm (35 mm equiv.)");
  focal_->setValue(35);
  focal_->setEnabled(false);
  form->addRow(focalKnown_, focal_);
  focalNote_ = new QLabel(box);
  focalNote_->setWordWrap(true);
  form->addRow(focalNote_);
  aspect_ = new QComboBox(box);
  aspect_->setEditable(true);
  aspect_->addItems({"Not known", "A4", "A3", "A5", "Letter", "Legal", "Square", "4:3", "3:2", "16:9"});
  aspect_->setToolTip("The object's proportions, as W:H or a sheet's name; either orientation fits");
  form->addRow("Proportions:", aspect_);
  aspectNote_ = new QLabel(box);
  aspectNote_->setWordWrap(true);
  form->addRow(aspectNote_);
  form->setRowVisible(aspectNote_, false);
  quality_ = new QSpinBox(box);
  quality_->setRange(1, 100);
  quality_->setValue(95);
  quality_->setToolTip("Used when exporting as JPEG");
  form->addRow("JPEG quality:", quality_);
  v->addWidget(box);

  auto changed = [this] { OptionsChanged(); };
  connect(frame_, &QComboBox::currentIndexChanged, this, changed);
  connect(crop_, &QSpinBox::valueChanged, this, changed);
  connect(sampling_, &QComboBox::currentIndexChanged, this, changed);
  connect(focalKnown_, &QCheckBox::toggled, this, changed);
  connect(focal_, &QDoubleSpinBox::valueChanged, this, changed);
  connect(aspect_, &QComboBox::currentTextChanged, this, changed);
  connect(quality_, &QSpinBox::valueChanged, this, changed);
  return panel;
}

TStraightenOptions TStraightenWindow::Options() const {
  TStraightenOptions o;
  o.ObjectFrame = frame_->currentIndex() == 1;
  o.Crop = crop_->value();
  o.Nearest = sampling_->currentIndex() == 1;
  if (focalKnown_->isChecked()) o.Focal35mm = focal_->value();
  const QString aspect = aspect_->currentText().trimmed();
  if (!aspect.isEmpty() && aspect != "Not known") {
    try {
      ParseAspect(aspect.toStdString());
      o.AspectText = aspect.toLower().toStdString();
    } catch (const EUsageError&) {
      // Shown beside the field; the proportions stay unknown meanwhile.
    }
  }
  o.Quality = quality_->value();
  return o;
}

void TStraightenWindow::SetOptions(const TStraightenOptions& o) {
  settingOptions_ = true;
  frame_->setCurrentIndex(o.ObjectFrame ? 1 : 0);
  crop_->setValue(o.Crop);
  sampling_->setCurrentIndex(o.Nearest ? 1 : 0);
  focalKnown_->setChecked(o.Focal35mm.has_value());
  if (o.Focal35mm) focal_->setValue(*o.Focal35mm);
  aspect_->setCurrentText(o.AspectText.empty() ? QString("Not known") : QString::fromStdString(o.AspectText));
  quality_->setValue(o.Quality);
  settingOptions_ = false;
  OptionsChanged();
}

void TStraightenWindow::OptionsChanged() {
  crop_->setEnabled(frame_->currentIndex() == 0);
  focal_->setEnabled(focalKnown_->isChecked());
  const QString aspect = aspect_->currentText().trimmed();
  QString note;
  if (!aspect.isEmpty() && aspect != "Not known") {
    try {
      ParseAspect(aspect.toStdString());
    } catch (const EUsageError&) {
      note = "<span style='color:#c0392b'>Not understood: write W:H (such as 4:3) or a sheet's name (A4, Letter "
             "…).</span>";
    }
  }
  aspectNote_->setText(note);
  optionsForm_->setRowVisible(aspectNote_, !note.isEmpty());
  if (HasPhoto() && !settingOptions_) {
    optionsDirty_ = true;
    UpdateTitle();
  }
  RequestPreview();
}

void TStraightenWindow::UpdateTitle() {
  setWindowTitle(photoPath_.isEmpty() ? QString("Planora") : QFileInfo(photoPath_).fileName() + "[*] — Planora");
  setWindowModified(Unsaved());
}

bool TStraightenWindow::Unsaved() const { return HasPhoto() && (!undo_.isClean() || optionsDirty_); }

void TStraightenWindow::UpdateActions() {
  const bool ready = HasPhoto() && !loading_ && !exporting_ && !detecting_;
  exportAction_->setEnabled(ready);
  detectAction_->setEnabled(ready);
  resetAction_->setEnabled(ready);
  openAction_->setEnabled(!exporting_);
  recentMenu_->setEnabled(!exporting_);
  // The corners are the export's while it runs.
  undoAction_->setEnabled(ready && undo_.canUndo());
  redoAction_->setEnabled(ready && undo_.canRedo());
  canvas_->SetEditable(ready);
  for (QWidget* w : std::initializer_list<QWidget*>{frame_, sampling_, focalKnown_, aspect_, quality_}) w->setEnabled(!exporting_);
  crop_->setEnabled(!exporting_ && frame_->currentIndex() == 0);
  focal_->setEnabled(!exporting_ && focalKnown_->isChecked());
}

void TStraightenWindow::ShowError(const QString& text) {
  statusBar()->showMessage(text.section('\n', 0, 0));
  if (Interactive) {
    QMessageBox::critical(this, "Planora", text);
  } else {
    std::cerr << "planora: " << text.toStdString() << "\n";
  }
}

// ---------------------------------------------------------------- opening

void TStraightenWindow::ChooseAndOpen() {
  const QString path = QFileDialog::getOpenFileName(this, "Open a photo", QFileInfo(photoPath_).absolutePath(),
                                                    PhotoOpenFilter);
  if (!path.isEmpty()) OpenPhotoAsked(path);
}

bool TStraightenWindow::OpenPhotoAsked(const QString& path) { return MayDropWork() && OpenPhoto(path); }

bool TStraightenWindow::OpenPhoto(const QString& path) {
  if (exporting_ || detecting_) return false;
  if (!QFileInfo(path).isFile()) {
    ShowError("The photo cannot be opened.\n\n\"" + path + "\" is not a file.");
    return false;
  }
  // A previous load still running is of no more use; it is waited for so
  // that one worker at most holds a photo's memory.
  if (loader_.joinable()) loader_.join();
  const int generation = ++*generation_;
  if (!loading_) {
    previousLevels_ = canvas_->Levels();
    previousSize_ = canvas_->PhotoSize();
    previousCorners_ = canvas_->Corners();
  }
  loading_ = true;
  UpdateActions();
  statusBar()->showMessage("Opening " + QFileInfo(path).fileName() + " …");

  // The quick copy: the JPEG decoder scales while it decodes, so a large
  // photo is on screen at once.
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize stored = reader.size();
  // Only JPEG decodes at a reduced size for less work; another format
  // would be decoded whole here, on the window's thread, for nothing.
  if (reader.format() == "jpeg" && stored.isValid() && qint64(stored.width()) * stored.height() > kQuickPixels) {
    reader.setScaledSize(stored.scaled(1600, 1600, Qt::KeepAspectRatio));
    const QImage quick = reader.read();
    if (!quick.isNull()) {
      // Turned by its EXIF orientation, the quick copy's proportions say
      // how the full photo will stand.
      const bool turned = (quick.width() > quick.height()) != (stored.width() > stored.height());
      canvas_->ClearCorners();
      canvas_->SetPhoto({quick}, turned ? stored.transposed() : stored);
    }
  }

  const std::string file = path.toStdString();
  auto gen = generation_;
  loader_ = std::thread([this, file, path, generation, gen] {
    auto loaded = std::make_shared<TLoaded>();
    loaded->Generation = generation;
    loaded->Path = path;
    try {
      // Taken before the read: a change while it reads shows as a change.
      const QFileInfo info(path);
      loaded->Stamp = info.lastModified();
      loaded->Bytes = info.size();
      TPhoto photo = ReadPhoto(file);
      if (photo.Width < 2 || photo.Height < 2) throw EInOutError("\"" + file + "\" has too few pixels to straighten.");
      if (*gen != generation) return;
      loaded->Size = QSize(photo.Width, photo.Height);
      loaded->ExifFocalRatio = ExifFocalRatio(photo.Exif, photo.Width, photo.Height);
      const std::size_t row = static_cast<std::size_t>(photo.Width) * 3;
      loaded->Source = MakePreviewSource(photo.Pixels.data(), photo.Width, photo.Height, row);
      const TFound found = FindCorners(photo);
      loaded->Found = found.Found;
      loaded->Corners = found.Corners;
      loaded->DetectNote = found.Reason;
      if (*gen != generation) return;
      // The screen's copies: the full photo, then halves down to a size
      // that fits any screen, so that drawing at any zoom scales little.
      QImage full(photo.Width, photo.Height, QImage::Format_RGB32);
      for (int y = 0; y < photo.Height; ++y) {
        const std::uint8_t* in = photo.Pixels.data() + y * row;
        auto* out = reinterpret_cast<QRgb*>(full.scanLine(y));
        for (int x = 0; x < photo.Width; ++x) out[x] = qRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
      }
      std::vector<std::uint8_t>().swap(photo.Pixels);
      loaded->Levels.push_back(std::move(full));
      while (std::max(loaded->Levels.back().width(), loaded->Levels.back().height()) > 1024) {
        const QImage& last = loaded->Levels.back();
        loaded->Levels.push_back(last.scaled(last.width() / 2, last.height() / 2, Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation));
      }
    } catch (const std::bad_alloc&) {
      loaded->Problem = "There is not enough memory for a photo of this size.";
    } catch (const std::exception& e) {
      loaded->Problem = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, loaded] { Install(loaded); }, Qt::QueuedConnection);
  });
  return true;
}

void TStraightenWindow::Install(std::shared_ptr<TLoaded> loaded) {
  if (loaded->Generation != *generation_) return;
  loading_ = false;
  if (!loaded->Problem.isEmpty()) {
    // The photo shown before stays, with its corners and its undo steps.
    canvas_->SetPhoto(previousLevels_, previousSize_);
    if (HasPhoto()) canvas_->SetCorners(previousCorners_);
    previousLevels_.clear();
    UpdateActions();
    RequestPreview();
    ShowError("The photo cannot be opened.\n\n" + loaded->Problem);
    return;
  }
  previousLevels_.clear();
  photoPath_ = loaded->Path;
  photoStamp_ = loaded->Stamp;
  photoBytes_ = loaded->Bytes;
  source_ = std::move(loaded->Source);
  exifFocalRatio_ = loaded->ExifFocalRatio;
  canvas_->SetPhoto(std::move(loaded->Levels), loaded->Size);
  canvas_->SetCorners(loaded->Found ? loaded->Corners : DefaultCorners(loaded->Size));
  canvas_->SetSelected(1);
  undo_.clear();
  settingOptions_ = true;
  if (exifFocalRatio_) {
    focal_->setValue(*exifFocalRatio_ * kFilmDiagonal);
    focalNote_->setText("The photo's EXIF gives " + QString::number(*exifFocalRatio_ * kFilmDiagonal, 'f', 1) +
                        " mm; it is used where the corners cannot tell the focal length.");
  } else {
    focalNote_->setText("The photo has no focal length in its EXIF.");
  }
  settingOptions_ = false;
  optionsDirty_ = false;
  RememberRecent(photoPath_);
  UpdateTitle();
  UpdateActions();
  canvas_->setFocus();
  statusBar()->showMessage(QString("%1 × %2 pixels; ").arg(loaded->Size.width()).arg(loaded->Size.height()) +
                           (loaded->Found ? "corners found automatically — check them with the loupe"
                                          : "no object found automatically (" + loaded->DetectNote +
                                                "); drag the corners onto it"));
  RequestPreview();
}

void TStraightenWindow::RememberRecent(const QString& path) {
  QSettings s = Settings();
  QStringList list = s.value("RecentFiles").toStringList();
  const QString absolute = QFileInfo(path).absoluteFilePath();
  list.removeAll(absolute);
  list.prepend(absolute);
  while (list.size() > kMaxRecent) list.removeLast();
  s.setValue("RecentFiles", list);
}

void TStraightenWindow::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList list = Settings().value("RecentFiles").toStringList();
  for (const QString& path : list) {
    recentMenu_->addAction(QFileInfo(path).fileName(), this, [this, path] { OpenPhotoAsked(path); })->setToolTip(path);
  }
  if (list.isEmpty()) recentMenu_->addAction("(none yet)")->setEnabled(false);
}

void TStraightenWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() == 1 && urls.front().isLocalFile()) event->acceptProposedAction();
}

void TStraightenWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.front().toLocalFile();
  // Asked after the drop has ended: a dialog inside it would hold the
  // other program's drag.
  QTimer::singleShot(0, this, [this, path] { OpenPhotoAsked(path); });
}

// ---------------------------------------------------------------- corners

void TStraightenWindow::ShowCorners(const TCorners& corners) {
  canvas_->SetCorners(corners);
  RequestPreview();
}

void TStraightenWindow::SetCornersUndoable(const TCorners& corners, const QString& what) {
  if (!HasPhoto()) return;
  const TCorners before = canvas_->Corners();
  undo_.push(new TCornersCommand(this, before, corners, what));
}

QString TStraightenWindow::PhotoChangedOnDisk() const {
  const QFileInfo now(photoPath_);
  if (!now.exists()) return "\"" + photoPath_ + "\" is no longer there.";
  if (now.lastModified() != photoStamp_ || now.size() != photoBytes_) {
    // The corners were put on the photo as it was; on another one they
    // would straighten something else.
    return "\"" + photoPath_ + "\" has changed since it was opened; open it again and check the corners.";
  }
  return "";
}

void TStraightenWindow::DetectCorners() {
  if (!HasPhoto() || loading_ || exporting_ || detecting_) return;
  if (const QString changed = PhotoChangedOnDisk(); !changed.isEmpty()) {
    ShowError("The corners were not looked for.\n\n" + changed);
    return;
  }
  if (detector_.joinable()) detector_.join();
  detecting_ = true;
  progress_->setRange(0, 0);
  progress_->show();
  statusBar()->showMessage("Looking for the object's corners …");
  UpdateActions();
  // The screen keeps the photo as RGB; the detector wants the BGR rows of
  // the file, which a worker reads again while the window goes on.
  const std::string file = photoPath_.toStdString();
  detector_ = std::thread([this, file] {
    auto found = std::make_shared<TFound>();
    try {
      const TPhoto photo = ReadPhoto(file);
      *found = FindCorners(photo);
    } catch (const std::bad_alloc&) {
      found->Problem = "There is not enough memory for a photo of this size.";
    } catch (const std::exception& e) {
      found->Problem = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, found] { FinishDetection(*found); }, Qt::QueuedConnection);
  });
}

void TStraightenWindow::FinishDetection(const TFound& found) {
  detecting_ = false;
  progress_->hide();
  UpdateActions();
  if (!found.Problem.isEmpty()) {
    ShowError("The corners were not looked for.\n\n" + found.Problem);
  } else if (!found.Found) {
    statusBar()->showMessage("No object found automatically: " + found.Reason);
  } else {
    SetCornersUndoable(found.Corners, "Find Corners Automatically");
    statusBar()->showMessage(QString("Corners found (confidence %1)").arg(found.Confidence, 0, 'f', 2));
  }
}

void TStraightenWindow::ResetCorners() {
  if (!HasPhoto() || loading_ || exporting_) return;
  SetCornersUndoable(DefaultCorners(canvas_->PhotoSize()), "Reset Corners");
}

// ---------------------------------------------------------------- preview

void TStraightenWindow::RequestPreview() {
  // Mouse moves come faster than the screen shows them: one render for
  // all the moves that arrived meanwhile.
  if (previewPending_) return;
  previewPending_ = true;
  QTimer::singleShot(0, this, [this] { RenderPreviewNow(); });
}

QString TStraightenWindow::ReadoutText() const {
  return focalLabel_->text() + "\n" + proportionsLabel_->text() + "\n" + plausibilityLabel_->text();
}

void TStraightenWindow::RenderPreviewNow() {
  previewPending_ = false;
  if (!source_ || !canvas_->HasCorners()) {
    preview_->SetImage({}, loading_ ? "Loading …" : "");
    return;
  }
  const TStraightenOptions o = Options();
  TPreviewSettings s;
  s.ObjectFrame = o.ObjectFrame;
  s.Crop = o.Crop;
  s.Nearest = o.Nearest;
  if (o.Focal35mm) s.KnownFocalRatio = FocalRatioFrom35mm(*o.Focal35mm);
  s.ExifFocalRatio = exifFocalRatio_;
  if (!o.AspectText.empty()) {
    s.Aspect = ParseAspect(o.AspectText);
    s.AspectNamed = o.AspectText.find(':') == std::string::npos;
  }
  double corners[4][2];
  for (int k = 0; k < 4; ++k) {
    corners[k][0] = canvas_->Corners()[k].x();
    corners[k][1] = canvas_->Corners()[k].y();
  }
  const qreal dpr = preview_->devicePixelRatioF();
  lastPreview_ = RenderPreview(*source_, corners, s, std::max(1, int(preview_->width() * dpr)),
                               std::max(1, int(preview_->height() * dpr)));
  ++previewCount_;
  const TPreviewResult& r = lastPreview_;
  if (!r.Ok) {
    preview_->SetImage({}, QString::fromStdString(r.Problem));
    focalLabel_->setText("Focal length: —");
    proportionsLabel_->setText("Proportions: —");
    plausibilityLabel_->setText("<span style='color:#c0392b'>" + QString::fromStdString(r.Problem).toHtmlEscaped() +
                                "</span>");
    return;
  }
  preview_->SetImage(ToImage(*r.Image), "");
  static const std::pair<const char*, const char*> sources[] = {
      {"corners", "from the corners"}, {"exif", "from the photo's EXIF"}, {"given", "as given"},
      {"proportions", "from the known proportions"}, {"diagonal", "the corners cannot tell; the diagonal"}};
  QString why;
  for (const auto& [key, text] : sources) {
    if (r.FocalSource == key) why = text;
  }
  focalLabel_->setText(QString("Focal length / diagonal: %1 (%2 mm, 35 mm equiv.; %3)")
                           .arg(r.FocalRatio, 0, 'f', 3)
                           .arg(r.FocalRatio * kFilmDiagonal, 0, 'f', 0)
                           .arg(why));
  proportionsLabel_->setText("Proportions: " + QString::fromStdString(ProportionsText(r.Aspect)));
  plausibilityLabel_->setText(r.Plausible ? "<span style='color:#2e8b57'>The corners look like a photographed "
                                            "rectangle.</span>"
                                          : "<span style='color:#d35400'>The corners do not look like a photographed "
                                            "rectangle: check them, or give the focal length.</span>");
}

// ---------------------------------------------------------------- export

void TStraightenWindow::ChooseAndExport() {
  if (!HasPhoto() || exporting_) return;
  // The file dialog asks before it replaces an existing file.
  const QString path = QFileDialog::getSaveFileName(this, "Export the straightened photo",
                                                    QString::fromStdString(RectifiedName(photoPath_.toStdString())),
                                                    "JPEG (*.jpg *.jpeg);;PNG (*.png);;TIFF (*.tif *.tiff);;"
                                                    "BMP (*.bmp);;PPM (*.ppm)");
  if (!path.isEmpty()) Export(path);
}

bool TStraightenWindow::Export(const QString& path) {
  if (!HasPhoto() || loading_ || exporting_ || detecting_) return false;
  TBatchOptions o;
  try {
    o = ExportBatchOptions(photoPath_.toStdString(), path.toStdString(), canvas_->Corners(), Options());
  } catch (const Exception& e) {
    ShowError("The photo was not exported.\n\n" + QString::fromStdString(e.Message()));
    return false;
  }
  if (exporter_.joinable()) exporter_.join();
  if (const QString changed = PhotoChangedOnDisk(); !changed.isEmpty()) {
    ShowError("The photo was not exported.\n\n" + changed);
    return false;
  }
  exporting_ = true;
  exportIndex_ = undo_.index();
  exportProblem_.clear();
  // A bar that moves until the resampling reports its share: reading the
  // photo and the object-only output report none.
  progress_->setRange(0, 0);
  progress_->show();
  statusBar()->showMessage("Exporting " + QFileInfo(path).fileName() + " …");
  UpdateActions();
  o.Progress = [this](int percent) {
    QMetaObject::invokeMethod(
        this,
        [this, percent] {
          progress_->setRange(0, 100);
          progress_->setValue(percent);
        },
        Qt::QueuedConnection);
  };
  exporter_ = std::thread([this, o, path] {
    std::ostringstream out, err;
    // The batch tool's own run: the same reading, camera steps, resampling
    // and safe writing, so the file is the one planora-rectify makes.
    const int code = RunBatch(o, out, err, false);
    const QString messages = QString::fromStdString(err.str());
    QMetaObject::invokeMethod(this, [this, code, messages, path] { FinishExport(code, messages, path); },
                              Qt::QueuedConnection);
  });
  return true;
}

void TStraightenWindow::FinishExport(int code, const QString& messages, const QString& path) {
  exporting_ = false;
  progress_->hide();
  UpdateActions();
  QString text = messages.trimmed();
  text.replace("planora-rectify: ", "");
  text.remove("\n(see planora-rectify --help)");
  const bool closing = closeAfterExport_;
  closeAfterExport_ = false;
  if (code != kExitOk) {
    exportProblem_ = text.isEmpty() ? QString("the export failed") : text;
    ShowError("The photo was not exported.\n\n" + exportProblem_);
    return;
  }
  // What was exported is the state the export started from.
  if (undo_.index() == exportIndex_) {
    undo_.setClean();
    optionsDirty_ = false;
  }
  UpdateTitle();
  // A warning (corners that do not look like a rectangle) is news, not a failure.
  statusBar()->showMessage("Exported " + path + (text.isEmpty() ? QString() : " — " + text.section('\n', 0, 0)));
  if (closing) close();
}

// ---------------------------------------------------------------- closing

void TStraightenWindow::showEvent(QShowEvent* event) {
  if (OnOpenPluginHost && pluginMenu_ == nullptr) {
    pluginMenu_ = new QMenu("&Plug-ins", this);
    menuBar()->insertMenu(menuBar()->actions().back(), pluginMenu_);
    pluginMenu_->addAction("Planora (the plug-in's own window)…", this, [this] {
      if (OnOpenPluginHost) OnOpenPluginHost(photoPath_);
    });
  }
  QMainWindow::showEvent(event);
}

bool TStraightenWindow::MayDropWork() {
  if (!Interactive || !Unsaved()) return true;
  QMessageBox box(QMessageBox::Warning, "Planora",
                  "The straightened photo has not been exported since the corners or options changed. Export it now?",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.button(QMessageBox::Save)->setText("Export…");
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save:
      // The export runs on; the question is asked again if it fails.
      ChooseAndExport();
      return false;
    case QMessageBox::Discard: return true;
    default: return false;
  }
}

void TStraightenWindow::closeEvent(QCloseEvent* event) {
  if (exporting_) {
    // Stopping the writer half-way gains nothing: the file is written
    // whole or not at all. The window closes once it is written.
    closeAfterExport_ = true;
    statusBar()->showMessage("An export is running; the window closes when it has finished writing.");
    event->ignore();
    return;
  }
  if (MayDropWork()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace planora
