// The peers of the Qt backend: what stands between a window or control object
// of the platform layer and its Qt widget. Internal to qt/.
//
// Lifetimes: a peer belongs to its control or window object, a widget to Qt.
// Every widget keeps a plain pointer back to its object and the peer clears it
// when the object goes; the widget itself is hidden and deleted later by Qt,
// because the object may go from inside one of the widget's own events (a
// window freed from its close box or from one of its menu commands).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <vector>

#include "platform/forms.h"

class QAction;
class QMenu;

namespace planora {

class TQtWidgetSet;
class TQtFormPeer;

// A top-level window. Its close box asks the window object, which decides
// through its close protocol; Qt never closes it by itself.
class TQtFormWindow : public QMainWindow {
 public:
  explicit TQtFormWindow(TQtFormPeer* peer);
  void Detach() { peer_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  TQtFormPeer* peer_;
};

// A menu command's action; it knows its item while the window lives.
class TQtMenuAction;

class TQtFormPeer : public TPeer {
 public:
  TQtFormPeer(TQtWidgetSet& widgets, TForm& form);
  ~TQtFormPeer() override;

  void Sync() override;

  TQtFormWindow* Window() const { return window_; }
  QWidget* Client() const { return client_; }
  QAction* ActionOf(const TMenuItem& item) const;

  // Makes peers for the controls that have none yet.
  void AddControlPeers();
  void Show(bool modal);
  void Hide();
  // The window object is being destroyed: forget it and put the window away.
  void Detach();

  // From the window's events.
  void CloseRequested();
  void WindowGeometryChanged();
  void WindowStateChanged();
  void ClientResized(const QSize& size);

 private:

  void SyncWindow();
  void SyncMenu();
  void BuildMenu();
  void BuildItems(const TMenuItem& parent, QWidget* container);
  void ApplyGeometry();
  void ReadBack();
  QMargins Decoration() const;
  int MenuHeight() const;
  // False when the window went meanwhile (then this peer may be gone too).
  bool WaitUntilExposed();

  TQtWidgetSet& widgets_;
  TForm* form_;
  // Lets a wait inside this peer see that the peer itself was destroyed.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  QPointer<TQtFormWindow> window_;
  QWidget* client_ = nullptr;
  // Actions and submenus of the menu bar, owned here so that a rebuild can
  // retire them after the command that caused it has returned.
  QPointer<QObject> menuOwner_;
  std::vector<std::pair<const TMenuItem*, QPointer<TQtMenuAction>>> actions_;
  std::vector<TMenuShape> menuShape_;
  // Our own changes to the window do not come back as the user's.
  int applying_ = 0;
  bool readingBack_ = false;
  TRect applied_{-1, -1, -1, -1};
  Qt::WindowFlags flags_;
  TFont font_;
  bool fontSet_ = false;
  QMargins decoration_;
  bool decorationKnown_ = false;
  // The client size the controls' positions were last anchored to.
  QSize anchorBase_;
};

// Gives a control its peer and widget inside the window's client area;
// nullptr for a kind of control the backend does not know.
std::unique_ptr<TPeer> MakeControlPeer(TQtWidgetSet& widgets, TControl& control, QWidget* client);

// The widget of a control made by MakeControlPeer.
QWidget* ControlWidget(const TPeer* peer);

}  // namespace planora
