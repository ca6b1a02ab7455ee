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

// Carries out PLANORA_SCRIPT on real windows: every tick it asks the
// player what to do and does it. A step's handler may run a modal loop of
// its own (a message box, a help window); the step is therefore carried out
// from a queued call, not inside the tick, so that the timer goes on ticking
// inside that loop (Qt does not fire a timer again while its own tick runs).
class TScriptRunner {
 public:
  TScriptRunner(TApplication& app, TQtWidgetSet& widgets) : app_(app), widgets_(widgets), player_(app) {
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    player_.OnRestart = [this] {
      pending_ = false;
      if (player_.Playing()) timer_.start();
    };
    SetScriptPlayer(&player_);
  }
  ~TScriptRunner() { SetScriptPlayer(nullptr); }
  TScriptRunner(const TScriptRunner&) = delete;
  TScriptRunner& operator=(const TScriptRunner&) = delete;

 private:
  void Tick() {
    if (pending_) return;  // the last step has not started yet
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    const TScriptPlayer::TAction a = player_.Next(box != nullptr);
    switch (a.Kind) {
      case TScriptPlayer::skIdle:
        timer_.stop();
        return;
      case TScriptPlayer::skWait:
        return;
      case TScriptPlayer::skShot:
        Shoot(a.Shot);
        return;
      case TScriptPlayer::skAnswer:
        if (box != nullptr) Press(box, a.Answer);
        return;
      case TScriptPlayer::skClick: {
        const std::string name = a.Item->Name();
        Later([this, name] {
          // Still the item to choose: nothing in between took it away.
          if (TMenuItem* item = ChoosableMenuItem(app_, name)) item->Click();
        });
        return;
      }
      case TScriptPlayer::skClose: {
        TForm* window = a.Window;
        Later([this, window] {
          if (app_.Owns(window) && window->Visible()) window->Close();
        });
        return;
      }
    }
  }

  void Later(std::function<void()> step) {
    pending_ = true;
    QTimer::singleShot(0, &timer_, [this, step = std::move(step)] {
      pending_ = false;
      step();
    });
  }

  // The button with that result; without one (or for mrNone) the box's default.
  static void Press(QMessageBox* box, int answer) {
    for (QAbstractButton* button : box->buttons()) {
      if (answer != mrNone && MsgDlgButtonResult(ButtonOf(box, button)) == answer) {
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
  TScriptPlayer player_;
  QTimer timer_;
  bool pending_ = false;
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
