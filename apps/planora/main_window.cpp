#include "apps/planora/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>
#include <QWidget>

#include <cstring>
#include <iostream>

#include "platform/sysutils.h"

namespace planora {

// The photo scaled to fit the window, proportions kept, on a grey ground.
class TPhotoView : public QWidget {
 public:
  explicit TPhotoView(QWidget* parent) : QWidget(parent) { setMinimumSize(320, 240); }
  void SetImage(QImage image) {
    image_ = std::move(image);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(64, 64, 64));
    if (image_.isNull()) {
      p.setPen(Qt::white);
      p.drawText(rect(), Qt::AlignCenter, "Open a photo with File \u25B8 Open");
      return;
    }
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, image_);
  }

 private:
  QImage image_;
};

namespace {

QImage ToImage(const TPhoto& photo) {
  // The photo's rows are packed BGR: wrap them, then copy once so the image owns its pixels.
  return QImage(photo.Pixels.data(), photo.Width, photo.Height, photo.Width * 3, QImage::Format_BGR888).copy();
}

QIcon GlyphIcon(const TGlyph& g) {
  if (g.Width <= 0) return {};
  QImage image(g.Width, g.Height, QImage::Format_Indexed8);
  QVector<QRgb> colours;
  for (const TPluginPaletteEntry& e : g.Palette) colours.push_back(qRgb(e.Red, e.Green, e.Blue));
  image.setColorTable(colours);
  for (int y = 0; y < g.Height; ++y) std::memcpy(image.scanLine(y), g.Indices.data() + y * g.Width, g.Width);
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

TMainWindow::TMainWindow(std::unique_ptr<TPluginLibrary> plugin, const QString& pluginProblem)
    : plugin_(std::move(plugin)) {
  setWindowTitle("Planora");
  resize(1024, 700);
  view_ = new TPhotoView(this);
  setCentralWidget(view_);

  QMenu* file = menuBar()->addMenu("&File");
  QAction* open = file->addAction("&Open…");
  open->setShortcut(QKeySequence::Open);
  connect(open, &QAction::triggered, this, [this] { ChooseAndOpen(); });
  saveAction_ = file->addAction("&Save Result As…");
  saveAction_->setShortcut(QKeySequence::SaveAs);
  connect(saveAction_, &QAction::triggered, this, [this] { SaveResultAs(); });
  file->addSeparator();
  QAction* quit = file->addAction("&Quit");
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, [this] { close(); });

  QMenu* plugins = menuBar()->addMenu("&Plug-ins");
  if (plugin_) {
    pluginAction_ = plugins->addAction(GlyphIcon(plugin_->Glyph()), QString::fromStdString(plugin_->Name()) + "…");
    pluginAction_->setToolTip(QString::fromStdString(plugin_->Name() + " version" + plugin_->Version()));
    connect(pluginAction_, &QAction::triggered, this, [this] { RunPlugin(); });
  } else {
    pluginAction_ = plugins->addAction("(no plug-in: " + pluginProblem + ")");
    pluginAction_->setEnabled(false);
  }
  statusBar()->showMessage(plugin_ ? "Ready" : "The plug-in could not be loaded: " + pluginProblem);
  UpdateActions();
}

TMainWindow::~TMainWindow() = default;

void TMainWindow::ShowError(const QString& text) {
  if (Interactive) {
    QMessageBox::critical(this, "Planora", text);
  } else {
    std::cerr << "planora: " << text.toStdString() << "\n";
  }
}

void TMainWindow::UpdateActions() {
  if (plugin_) pluginAction_->setEnabled(photo_.has_value() && !running_);
  saveAction_->setEnabled(result_.has_value() && !running_);
}

void TMainWindow::ShowPhoto(const TPhoto& photo) { view_->SetImage(ToImage(photo)); }

void TMainWindow::ChooseAndOpen() {
  const QString path = QFileDialog::getOpenFileName(this, "Open a photo", QFileInfo(photoPath_).absolutePath(),
                                                    PhotoOpenFilter);
  if (!path.isEmpty()) OpenPhotoAsked(path);
}

bool TMainWindow::OpenPhotoAsked(const QString& path) { return MayDropResult() && OpenPhoto(path); }

bool TMainWindow::MayDropResult() {
  if (!Interactive || !result_ || resultSaved_) return true;
  QMessageBox box(QMessageBox::Warning, "Planora", "The straightened photo has not been saved. Save it now?",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save: return SaveResultAs();
    case QMessageBox::Discard: return true;
    default: return false;
  }
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  // The plug-in's window is modal while it runs; nothing to ask then.
  if (running_ || MayDropResult()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TMainWindow::OpenPhoto(const QString& path) {
  try {
    TPhoto photo = ReadPhoto(path.toStdString());
    photo_ = std::move(photo);
  } catch (const std::exception& e) {
    ShowError(QString("The photo cannot be opened.\n\n") + QString::fromStdString(e.what()));
    return false;
  }
  photoPath_ = path;
  result_.reset();
  ShowPhoto(*photo_);
  setWindowTitle(QFileInfo(path).fileName() + " — Planora");
  statusBar()->showMessage(QString("%1 × %2 pixels").arg(photo_->Width).arg(photo_->Height));
  UpdateActions();
  return true;
}

bool TMainWindow::RunPlugin() {
  if (!plugin_ || !photo_ || running_) return false;
  TPhoto result;
  TPluginLibrary::THost host;
  host.Width = photo_->Width;
  host.Height = photo_->Height;
  host.GetImage = [this](const TPluginLibrary::TRows& rows) {
    const std::size_t row = static_cast<std::size_t>(rows.Width) * 3;
    for (int y = 0; y < rows.Height; ++y) std::memcpy(rows.Row(y), photo_->Pixels.data() + y * row, row);
    return true;
  };
  host.PutImage = [this, &result](const TPluginLibrary::TRows& rows) {
    result.Width = rows.Width;
    result.Height = rows.Height;
    const std::size_t row = static_cast<std::size_t>(rows.Width) * 3;
    result.Pixels.resize(row * static_cast<std::size_t>(rows.Height));
    for (int y = 0; y < rows.Height; ++y) std::memcpy(result.Pixels.data() + y * row, rows.Row(y), row);
    // The straightened photo keeps the original's metadata and colours.
    result.Exif = photo_->Exif;
    result.Icc = photo_->Icc;
    return true;
  };
  host.SettingsPath = PluginSettingsPath();
  host.ShowText = [this](const std::string& text) {
    statusText_ = QString::fromStdString(text);
    statusBar()->showMessage(statusText_.isEmpty() ? QString("The plug-in is open") : statusText_);
  };
  host.NotifyClose = [this] { pluginClosed_ = true; };
  pluginClosed_ = false;
  running_ = true;
  UpdateActions();
  const int code = plugin_->Run(host);
  running_ = false;
  if (code != 1) {
    statusBar()->showMessage("The plug-in closed without a result");
    UpdateActions();
    return false;
  }
  result_ = std::move(result);
  resultSaved_ = false;
  ShowPhoto(*result_);
  statusBar()->showMessage("Straightened: save it with File \u25B8 Save Result As");
  UpdateActions();
  if (Interactive) {
    // "Not now" keeps the result: it can be saved later, and is not lost
    // without a question.
    QMessageBox box(QMessageBox::Question, "Planora", "Save the straightened photo?", QMessageBox::Save, this);
    box.addButton("Not Now", QMessageBox::RejectRole);
    box.setDefaultButton(QMessageBox::Save);
    if (box.exec() == QMessageBox::Save) SaveResultAs();
  }
  return true;
}

bool TMainWindow::SaveResultAs() {
  if (!result_) return false;
  // The file dialog asks before it replaces an existing file.
  const QString path = QFileDialog::getSaveFileName(this, "Save the straightened photo",
                                                    QString::fromStdString(RectifiedName(photoPath_.toStdString())),
                                                    "JPEG (*.jpg *.jpeg);;PNG (*.png);;TIFF (*.tif *.tiff);;"
                                                    "BMP (*.bmp);;PPM (*.ppm)");
  return !path.isEmpty() && SaveResult(path);
}

bool TMainWindow::SaveResult(const QString& path) {
  if (!result_) return false;
  try {
    WritePhoto(path.toStdString(), *result_);
  } catch (const std::exception& e) {
    ShowError(QString("The photo was not saved.\n\n") + QString::fromStdString(e.what()));
    return false;
  }
  resultSaved_ = true;
  statusBar()->showMessage("Saved " + path);
  return true;
}

std::string RectifiedName(const std::string& photoPath) {
  const std::size_t slash = photoPath.find_last_of('/');
  const std::size_t dot = photoPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return photoPath + "-rectified.jpg";
  return photoPath.substr(0, dot) + "-rectified" + photoPath.substr(dot);
}


}  // namespace planora
