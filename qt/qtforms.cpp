// Windows as Qt top-level windows: caption, bounds and frame, border icons,
// window state and position, the main menu, anchored controls and the close box.
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "qt/qtpeers.h"
#include "qt/qtwidgetset.h"

namespace planora {

namespace {

QString ToQ(const std::string& s) { return QString::fromStdString(s); }

// Showing a window waits until the window system has put it on the screen,
// so that its real frame and size are known when the window's own show
// handler lays it out; a system that does not answer is given this long.
constexpr int kExposeWaitMs = 1500;

Qt::WindowFlags FlagsOf(TBorderIcons icons) {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  // The close box belongs to the system menu, as on the desktop the windows come from.
  if (icons & biSystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (icons & biMinimize) flags |= Qt::WindowMinimizeButtonHint;
  if (icons & biMaximize) flags |= Qt::WindowMaximizeButtonHint;
  if (icons & biHelp) flags |= Qt::WindowContextHelpButtonHint;
  return flags;
}

// The client area; tells the peer when its size changes, for the anchors.
class TQtClientArea : public QWidget {
 public:
  TQtClientArea(TQtFormPeer* peer, QWidget* parent) : QWidget(parent), peer_(peer) {}
  void Detach() { peer_ = nullptr; }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    if (peer_) peer_->ClientResized(e->size());
  }

 private:
  TQtFormPeer* peer_;
};

}  // namespace

class TQtMenuAction : public QAction {
 public:
  TQtMenuAction(TMenuItem* item, QObject* owner) : QAction(owner), item_(item) {}
  TMenuItem* Item() const { return item_; }
  void Detach() { item_ = nullptr; }

 private:
  TMenuItem* item_;
};

// ---- TQtFormWindow

TQtFormWindow::TQtFormWindow(TQtFormPeer* peer) : peer_(peer) {
  setContextMenuPolicy(Qt::NoContextMenu);
}

void TQtFormWindow::closeEvent(QCloseEvent* event) {
  // The window object decides (close question, close action) and hides the
  // window itself when it closes.
  event->ignore();
  if (peer_) peer_->CloseRequested();
}

void TQtFormWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (peer_) peer_->WindowGeometryChanged();
}

void TQtFormWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (peer_) peer_->WindowGeometryChanged();
}

void TQtFormWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (peer_ && event->type() == QEvent::WindowStateChange) peer_->WindowStateChanged();
}

// ---- TQtFormPeer

TQtFormPeer::TQtFormPeer(TQtWidgetSet& widgets, TForm& form) : widgets_(widgets), form_(&form) {
  window_ = new TQtFormWindow(this);
  auto* client = new TQtClientArea(this, window_);
  client_ = client;
  window_->setCentralWidget(client_);
  flags_ = FlagsOf(form.BorderIcons());
  window_->setWindowFlags(flags_);
  // The controls stand where their window put them, relative to the client area.
  anchorBase_ = QSize(form.ClientWidth(), form.ClientHeight());
}

TQtFormPeer::~TQtFormPeer() {
  Detach();
  if (window_) window_->deleteLater();
}

void TQtFormPeer::Detach() {
  if (window_) {
    window_->Detach();
    if (auto* client = dynamic_cast<TQtClientArea*>(client_)) client->Detach();
    window_->hide();
    window_->setWindowModality(Qt::NonModal);
  }
  for (auto& [item, action] : actions_) {
    if (action) action->Detach();
  }
  form_ = nullptr;
}

QAction* TQtFormPeer::ActionOf(const TMenuItem& item) const {
  for (const auto& [i, action] : actions_) {
    if (i == &item) return action.data();
  }
  return nullptr;
}

void TQtFormPeer::AddControlPeers() {
  if (!form_) return;
  for (const auto& control : form_->Controls()) {
    if (control->Peer() == nullptr) {
      if (auto peer = MakeControlPeer(widgets_, *control, client_)) control->SetPeer(std::move(peer));
    }
  }
}

void TQtFormPeer::Sync() {
  if (!form_ || !window_) return;
  SyncWindow();
  SyncMenu();
  if (!readingBack_) ApplyGeometry();
}

void TQtFormPeer::SyncWindow() {
  ++applying_;
  const QString caption = ToQ(form_->Caption());
  if (window_->windowTitle() != caption) window_->setWindowTitle(caption);

  const Qt::WindowFlags flags = FlagsOf(form_->BorderIcons());
  if (flags != flags_) {
    // New flags take the window off the screen: put it back as it was.
    flags_ = flags;
    const bool shown = window_->isVisible();
    window_->setWindowFlags(flags);
    if (shown) window_->show();
  }

  if (window_->isVisible()) {
    Qt::WindowStates state = window_->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
    if (form_->WindowState() == wsMaximized) state |= Qt::WindowMaximized;
    if (form_->WindowState() == wsMinimized) state |= Qt::WindowMinimized;
    if (state != window_->windowState()) window_->setWindowState(state);
  }

  const TFont& f = form_->Font();
  if (!fontSet_ || f.Name != font_.Name || f.Height != font_.Height) {
    font_ = f;
    fontSet_ = true;
    client_->setFont(QtFont(f));
  }
  // The button face is the system's colour: the style's window colour stays.
  if (form_->Color() != clBtnFace) {
    QPalette palette = client_->palette();
    const QColor colour(ColorRed(form_->Color()), ColorGreen(form_->Color()), ColorBlue(form_->Color()));
    if (palette.color(QPalette::Window) != colour) {
      palette.setColor(QPalette::Window, colour);
      client_->setPalette(palette);
      client_->setAutoFillBackground(true);
    }
  }
  --applying_;
}

// ---- menu

void TQtFormPeer::SyncMenu() {
  std::vector<TMenuShape> shape = MenuShapeOf(form_->MainMenu());
  if (shape != menuShape_) {
    menuShape_ = std::move(shape);
    BuildMenu();
  }
  // Captions, check marks and enabled states in place: a command that changes
  // its own item must find its action still there when it returns.
  for (auto& [item, action] : actions_) {
    if (!action || item->IsSeparator()) continue;
    const QString text = ToQ(item->Caption());
    if (action->text() != text) action->setText(text);
    const bool checkable = item->Checked() || item->RadioItem();
    if (action->isCheckable() != checkable) action->setCheckable(checkable);
    if (action->isChecked() != item->Checked()) action->setChecked(item->Checked());
    if (action->isEnabled() != item->Enabled()) action->setEnabled(item->Enabled());
  }
}

void TQtFormPeer::BuildMenu() {
  // The old actions may be inside the very command that changed the menu:
  // they stop answering now and go once that command has returned.
  for (auto& [item, action] : actions_) {
    if (action) action->Detach();
  }
  actions_.clear();
  if (window_->menuWidget()) window_->menuBar()->clear();
  if (menuOwner_) menuOwner_->deleteLater();
  menuOwner_ = new QObject(window_);
  if (!form_->HasMenu()) {
    if (window_->menuWidget()) window_->menuWidget()->hide();
    return;
  }
  QMenuBar* bar = window_->menuBar();
  bar->show();
  BuildItems(form_->MainMenu(), bar);
}

void TQtFormPeer::BuildItems(const TMenuItem& parent, QWidget* container) {
  for (const auto& owned : parent.Items()) {
    TMenuItem* item = owned.get();
    TQtMenuAction* action = nullptr;
    if (item->IsSeparator()) {
      action = new TQtMenuAction(item, menuOwner_);
      action->setSeparator(true);
      container->addAction(action);
      actions_.emplace_back(item, action);
      continue;
    }
    action = new TQtMenuAction(item, menuOwner_);
    if (item->RadioItem()) {
      // Qt draws the dot of a radio item for an exclusive group; a group of
      // one leaves every check mark to the program, as the item's own state.
      auto* group = new QActionGroup(menuOwner_);
      group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
      group->addAction(action);
    }
    if (!item->Items().empty()) {
      // Owned by the window, retired with the actions.
      auto* menu = new QMenu(window_);
      QObject::connect(menuOwner_.data(), &QObject::destroyed, menu, &QObject::deleteLater);
      action->setMenu(menu);
      // Opening a submenu is its item's click, as on the desktop: programs
      // set the check marks of the items below there.
      QObject::connect(menu, &QMenu::aboutToShow, action, [&widgets = widgets_, action] {
        if (TMenuItem* it = action->Item()) widgets.Deliver([it] { it->Click(); });
      });
      BuildItems(*item, menu);
    } else {
      QObject::connect(action, &QAction::triggered, action, [&widgets = widgets_, guard = QPointer<TQtMenuAction>(action)] {
        TMenuItem* it = guard ? guard->Item() : nullptr;
        if (!it) return;
        widgets.Deliver([it] { it->Click(); });
        // Qt toggled the mark of a checkable action itself; the item's own
        // state stands (its handler may or may not have changed it).
        if (guard && guard->Item()) guard->setChecked(guard->Item()->Checked());
      });
    }
    container->addAction(action);
    actions_.emplace_back(item, action);
  }
}

// ---- geometry

QMargins TQtFormPeer::Decoration() const {
  // Before the window is on the screen its frame is unknown: the one it had
  // last time, or none.
  if (window_ && window_->isVisible() && window_->windowHandle()) return window_->windowHandle()->frameMargins();
  return decoration_;
}

int TQtFormPeer::MenuHeight() const {
  QWidget* bar = window_->menuWidget();
  if (!bar || !form_ || !form_->HasMenu()) return 0;
  const int width = std::max(1, window_->width());
  return bar->hasHeightForWidth() ? bar->heightForWidth(width) : bar->sizeHint().height();
}

void TQtFormPeer::ApplyGeometry() {
  if (!form_ || !window_) return;
  const TRect bounds{form_->Left(), form_->Top(), form_->Left() + form_->Width(), form_->Top() + form_->Height()};
  if (bounds == applied_) return;
  applied_ = bounds;
  // A maximized or minimized window has the size the window system gives it;
  // the bounds are taken back from there.
  if (window_->isVisible() && (window_->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))) return;
  const QMargins d = Decoration();
  ++applying_;
  // The window's size includes the menu bar; the frame around it is the system's.
  window_->resize(std::max(1, form_->Width() - d.left() - d.right()),
                  std::max(1, form_->Height() - d.top() - d.bottom()));
  const TPosition p = form_->Position();
  if (window_->isVisible() || (p != poDefault && p != poDefaultPosOnly)) window_->move(form_->Left(), form_->Top());
  --applying_;
}

void TQtFormPeer::ReadBack() {
  if (!form_ || !window_ || !window_->isVisible()) return;
  if (window_->layout()) window_->layout()->activate();
  const QMargins d = Decoration();
  const QRect inner = window_->geometry();
  const QRect outer = inner.marginsAdded(d);
  readingBack_ = true;
  form_->SetFrameExtents(TRect{d.left(), d.top() + MenuHeight(), d.right(), d.bottom()});
  form_->SetBounds(outer.x(), outer.y(), outer.width(), outer.height());
  readingBack_ = false;
  applied_ = TRect{form_->Left(), form_->Top(), form_->Left() + form_->Width(), form_->Top() + form_->Height()};
}

void TQtFormPeer::WindowGeometryChanged() {
  if (applying_ == 0) ReadBack();
}

void TQtFormPeer::WindowStateChanged() {
  if (applying_ != 0 || !form_ || !window_) return;
  const Qt::WindowStates s = window_->windowState();
  const TWindowState state = (s & Qt::WindowMinimized) ? wsMinimized : (s & Qt::WindowMaximized) ? wsMaximized : wsNormal;
  if (state == form_->WindowState()) return;
  readingBack_ = true;
  form_->SetWindowState(state);
  readingBack_ = false;
  // Coming back from the task bar: the program paints its boxes again.
  if (state != wsMinimized) form_->InvalidatePaintBoxes();
}

void TQtFormPeer::ClientResized(const QSize& size) {
  if (!form_ || anchorBase_ == size) return;
  const QSize from = anchorBase_;
  anchorBase_ = size;
  form_->AnchorControls(from.width(), from.height(), size.width(), size.height());
}

// ---- showing and closing

bool TQtFormPeer::WaitUntilExposed() {
  // User input waits for the window's show handler: only the window system's
  // answers and work already posted are handled here. That work may even
  // free the window object, and this peer with it.
  const std::weak_ptr<bool> alive = alive_;
  QPointer<TQtFormWindow> window = window_;
  QDeadlineTimer deadline(kExposeWaitMs);
  auto exposed = [&] { return window && window->windowHandle() && window->windowHandle()->isExposed(); };
  while (window && window->isVisible() && !exposed() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (alive.expired()) return false;
    if (!exposed()) QThread::msleep(2);
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  return !alive.expired() && window && window->isVisible();
}

void TQtFormPeer::Show(bool modal) {
  if (!form_ || !window_) return;
  AddControlPeers();
  if (!window_->isVisible()) window_->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);

  const TRect work = widgets_.WorkArea();
  CentreIfAsked(*form_, work);
  Sync();

  // Until the frame is known, what the window system reports is not yet
  // the window's size: the designed bounds stand.
  ++applying_;
  switch (form_->WindowState()) {
    case wsMaximized: window_->showMaximized(); break;
    case wsMinimized: window_->showMinimized(); break;
    case wsNormal: window_->show(); break;
  }
  window_->raise();
  window_->activateWindow();
  const std::weak_ptr<bool> alive = alive_;
  const bool exposed = WaitUntilExposed();
  if (alive.expired()) return;
  --applying_;
  if (!exposed || !form_ || !window_) return;

  // Now the frame is the system's: keep the window's outer size with it.
  const QMargins real = window_->windowHandle() ? window_->windowHandle()->frameMargins() : QMargins();
  if (!decorationKnown_ || real != decoration_) {
    decoration_ = real;
    decorationKnown_ = true;
    applied_ = TRect{-1, -1, -1, -1};
    ApplyGeometry();
  }
  if (form_->WindowState() == wsMaximized) {
    // Without a window manager nobody maximizes: the window takes the work area itself.
    const QRect area(work.Left, work.Top, work.Width(), work.Height());
    const QRect outer = window_->geometry().marginsAdded(decoration_);
    if (!outer.contains(area.adjusted(8, 8, -8, -8))) {
      ++applying_;
      window_->setGeometry(area.marginsRemoved(decoration_));
      --applying_;
    }
  }
  ReadBack();
  // Paint boxes get their first paint after the show handler, as on the desktop.
  form_->InvalidatePaintBoxes();
}

void TQtFormPeer::Hide() {
  if (!window_) return;
  ++applying_;
  window_->hide();
  window_->setWindowModality(Qt::NonModal);
  --applying_;
}

void TQtFormPeer::CloseRequested() {
  if (TForm* form = form_) widgets_.Deliver([form] { form->Close(); });
}

}  // namespace planora
