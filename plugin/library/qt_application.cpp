// The plug-in's windows on Qt: made when the host process runs a
// QApplication (the desktop program) or there is a screen to open one on.
// Registered with the application module when the library is loaded.
#include <QAbstractButton>
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

// Carries out PLANORA_SCRIPT on real windows: every tick it takes the next
// step if it can be taken now (an answer when a message box is up, a menu
// item when no box is up and the item can be chosen) and otherwise waits.
// Ticks keep coming inside the windows' own modal loops.
class TScriptRunner {
 public:
  TScriptRunner(TApplication& app, TQtWidgetSet& widgets, std::deque<TScriptStep> steps)
      : app_(app), widgets_(widgets), steps_(std::move(steps)) {
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    if (!steps_.empty()) timer_.start();
  }

 private:
  void Tick() {
    if (steps_.empty()) {
      timer_.stop();
      return;
    }
    const TScriptStep step = steps_.front();
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!step.Shot.empty()) {
      steps_.pop_front();
      Shoot(step.Shot);
      return;
    }
    if (!step.MenuItem.empty()) {
      // Not while a box is up, nor while the windows are busy (the hourglass
      // shows, and ticks also come while a run lets messages through).
      if (box != nullptr || app_.ScreenCursor() != crDefault) return;
      TMenuItem* item = ChoosableMenuItem(app_, step.MenuItem);
      if (item == nullptr) return;
      steps_.pop_front();
      item->Click();  // may run a modal loop of its own; ticks go on inside it
      return;
    }
    if (box == nullptr) return;
    for (QAbstractButton* button : box->buttons()) {
      if (MsgDlgButtonResult(ButtonOf(box, button)) == step.Answer) {
        steps_.pop_front();
        button->click();
        return;
      }
    }
  }

  void Shoot(const std::string& path) {
    for (auto it = app_.Forms().rbegin(); it != app_.Forms().rend(); ++it) {
      if (!(*it)->Visible()) continue;
      if (QMainWindow* window = widgets_.WindowOf(**it)) {
        if (!window->grab().save(QString::fromStdString(path))) std::cerr << "planora: cannot save " << path << "\n";
        return;
      }
    }
  }

  // Which of the framework's buttons a box button is, by its text.
  static TMsgDlgBtn ButtonOf(QMessageBox* /*box*/, QAbstractButton* button) {
    for (TMsgDlgBtn b : {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore}) {
      if (button->text() == QString::fromStdString(MsgDlgButtonCaption(b))) return b;
    }
    return mbIgnore;
  }

  TApplication& app_;
  TQtWidgetSet& widgets_;
  std::deque<TScriptStep> steps_;
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
  ~TQtSide() { Release(); }
};
TQtSide qtSide;

TApplication* MakeQtApplication() {
  if (QApplication::instance() == nullptr && !HaveScreen()) return nullptr;
  qtSide.Widgets = std::make_unique<TQtWidgetSet>();
  qtSide.App = std::make_unique<TApplication>(*qtSide.Widgets);
  qtSide.Runner = std::make_unique<TScriptRunner>(*qtSide.App, *qtSide.Widgets, ReadScript());
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
