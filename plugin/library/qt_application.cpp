// The plug-in's windows on Qt: made when the host process runs a
// QApplication (the desktop program) or there is a screen to open one on.
// Registered with the application module when the library is loaded.
#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <iostream>
#include <cstdlib>
#include <deque>
#include <memory>

#include "plugin/library/application.h"
#include "qt/qtwidgetset.h"

namespace planora {

namespace {

bool HaveScreen() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] != '\0') return true;
  }
  return false;
}

// Carries out PLANORA_SCRIPT on Qt's windows: a QTimer ticks (Qt does not
// fire a timer again while its own tick runs, so steps are queued calls).
class TScriptRunner : public TTickingScriptRunner {
 public:
  TScriptRunner(TApplication& app, TQtWidgetSet& widgets) : TTickingScriptRunner(app), widgets_(widgets) {
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }

 private:
  void StartTicks() override { timer_.start(); }
  void StopTicks() override { timer_.stop(); }
  bool BoxUp() override { return Box() != nullptr; }

  static QMessageBox* Box() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

  void PressBox(int answer) override {
    QMessageBox* box = Box();
    if (box == nullptr) return;
    for (QAbstractButton* button : box->buttons()) {
      if (answer != mrNone && MsgDlgButtonResult(ButtonOf(button)) == answer) {
        button->click();
        return;
      }
    }
    if (QAbstractButton* button = box->defaultButton()) {
      button->click();
    } else if (!box->buttons().isEmpty()) {
      box->buttons().front()->click();
    }
  }

  bool SaveWindow(TForm& form, const std::string& path) override {
    QMainWindow* window = widgets_.WindowOf(form);
    return window != nullptr && window->grab().save(QString::fromStdString(path));
  }

  bool Queue() override {
    QTimer::singleShot(0, &timer_, [this] { TakeQueuedStep(); });
    return true;
  }

  // Which of the framework's buttons a box button is, by its text.
  static TMsgDlgBtn ButtonOf(QAbstractButton* button) {
    for (TMsgDlgBtn b : {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore}) {
      if (button->text() == QString::fromStdString(MsgDlgButtonCaption(b))) return b;
    }
    return mbIgnore;
  }

  TQtWidgetSet& widgets_;
  QTimer timer_;
};

// The plug-in's Qt objects. With the host's QApplication they must be gone
// before it is (its windows are Qt widgets): they go when its event loop
// ends. A QApplication of the library's own goes last, with the library.
struct TQtSide {
  std::unique_ptr<TQtWidgetSet> Widgets;
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TScriptRunner> Runner;
  void Release() {
    Runner.reset();
    if (App && Application == App.get()) Application = nullptr;
    App.reset();  // destroys the windows still open (hidden help windows)
    Widgets.reset();
  }
  ~TQtSide() {
    // A QApplication of the library's own is left to the end of the
    // process: this runs among the exit handlers, after those of the
    // platform plug-in that Qt loaded later, and ~QApplication would reach
    // into what they already took down (a host without Qt, as GIMP's
    // plug-in process, crashed here on the way out).
    if (Widgets && Widgets->OwnsApplication()) {
      (void)Runner.release();
      (void)App.release();
      (void)Widgets.release();
      return;
    }
    Release();
  }
};
TQtSide qtSide;

TApplication* MakeQtApplication() {
  if (QApplication::instance() == nullptr && !HaveScreen()) return nullptr;
  qtSide.Widgets = std::make_unique<TQtWidgetSet>();
  qtSide.App = std::make_unique<TApplication>(*qtSide.Widgets);
  qtSide.Runner = std::make_unique<TScriptRunner>(*qtSide.App, *qtSide.Widgets);
  if (!qtSide.Widgets->OwnsApplication()) {
    QObject::connect(&qtSide.Widgets->App(), &QCoreApplication::aboutToQuit, [] { qtSide.Release(); });
  }
  return qtSide.App.get();
}

struct TRegisterQt {
  TRegisterQt() { SetApplicationFactory(MakeQtApplication); }
} registerQt;

}  // namespace

}  // namespace planora
