// The desktop program's window: it shows a photo, offers the plug-in in its
// menu under the plug-in's own name and glyph, runs it as a host does, and
// saves the straightened result.
#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>

#include "apps/imageio/imageio.h"
#include "apps/host/plugin_host.h"

class QAction;
class QLabel;

namespace planora {

class TPhotoView;

class TMainWindow : public QMainWindow {
 public:
  // plugin may be null: the menu then says why the plug-in is missing.
  TMainWindow(std::unique_ptr<TPluginLibrary> plugin, const QString& pluginProblem);
  ~TMainWindow() override;

  // Opens a photo; on failure a dialog says why and the old photo stays.
  bool OpenPhoto(const QString& path);
  // Runs the plug-in on the open photo; true when it handed back a result.
  bool RunPlugin();
  // Writes the result (atomically); false after a dialog saying why.
  bool SaveResult(const QString& path);
  // Asks where to save the result, proposing "<photo>-rectified.<ext>";
  // true when it was saved.
  bool SaveResultAs();
  // Opens a photo the user chose: a result not saved yet is not dropped
  // without asking.
  bool OpenPhotoAsked(const QString& path);
  // True when no result would be lost unsaved, or the user saved it or
  // agreed to drop it; false when the user keeps it. Automated runs
  // (Interactive off) are not asked.
  bool MayDropResult();
  bool ResultSaved() const { return resultSaved_; }

  QAction* PluginAction() const { return pluginAction_; }
  bool HasResult() const { return result_.has_value(); }
  const QString& StatusText() const { return statusText_; }
  bool PluginClosed() const { return pluginClosed_; }
  // False while the plug-in runs: it owns the screen meanwhile.
  bool Idle() const { return !running_; }

  // Asks before the result is saved, and shows errors in dialogs; off for
  // automated runs, which write errors to standard error instead.
  bool Interactive = true;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ChooseAndOpen();
  void ShowPhoto(const TPhoto& photo);
  void UpdateActions();
  void ShowError(const QString& text);

  std::unique_ptr<TPluginLibrary> plugin_;
  std::optional<TPhoto> photo_;
  std::optional<TPhoto> result_;
  QString photoPath_;
  QString statusText_;
  bool resultSaved_ = false;
  bool pluginClosed_ = false;
  bool running_ = false;
  TPhotoView* view_ = nullptr;
  QAction* pluginAction_ = nullptr;
  QAction* saveAction_ = nullptr;
};

// "photo.jpg" -> "photo-rectified.jpg", beside the photo.
std::string RectifiedName(const std::string& photoPath);

}  // namespace planora
