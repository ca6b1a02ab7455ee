#include "qt/qtwidgetset.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include "platform/sysutils.h"
#include "qt/qtpeers.h"

namespace planora {

namespace {

// The program name Qt is started with when it is started here; Qt keeps
// referring to both for the application's whole life.
int gArgc = 1;
char gProgram[] = "planora";
char* gArgv[] = {gProgram, nullptr};

bool IsTypewriterFamily(const std::string& name) {
  const QString n = QString::fromStdString(name).toLower();
  for (const char* family : {"courier", "mono", "consol", "fixedsys", "terminal", "lucida console", "typewriter"}) {
    if (n.contains(QLatin1String(family))) return true;
  }
  return false;
}

QMessageBox::Icon IconOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole RoleOf(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return QMessageBox::YesRole;
    case mbNo: return QMessageBox::NoRole;
    case mbOK: return QMessageBox::AcceptRole;
    case mbCancel: return QMessageBox::RejectRole;
    case mbAbort: return QMessageBox::RejectRole;
    case mbRetry: return QMessageBox::AcceptRole;
    case mbIgnore: return QMessageBox::AcceptRole;
  }
  return QMessageBox::AcceptRole;
}

// The button Escape and the dialog's close box answer with: Cancel, else No,
// else OK, as the framework's dialogs do.
TMsgDlgBtn EscapeButton(const TMsgDlgButtons& buttons) {
  if (buttons.Contains(mbCancel)) return mbCancel;
  if (buttons.Contains(mbNo)) return mbNo;
  return mbOK;
}

TQtFormPeer* FormPeer(const TForm& form) { return dynamic_cast<TQtFormPeer*>(form.Peer()); }

// Qt's widgets live on the thread of the application object; touched from
// another they corrupt it. Drawing on a paint box is the one thing other
// threads may do (its peer hands the change over).
void RequireGuiThread(const char* what) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    throw Exception(std::string(what) + " is only possible on the user-interface thread");
  }
}

}  // namespace

Qt::CursorShape QtCursorShape(TCursor cursor) {
  switch (cursor) {
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crHourGlass: return Qt::WaitCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

QFont QtFont(const TFont& font) {
  const QString family = QString::fromStdString(font.Name);
  const bool typewriter = IsTypewriterFamily(font.Name);
  QFont f = QApplication::font();
  if (!family.isEmpty() && QFontDatabase::hasFamily(family)) {
    f.setFamily(family);
  } else if (typewriter) {
    f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  if (typewriter) {
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
  }
  if (font.Height < 0) {
    f.setPixelSize(-font.Height);
  } else if (font.Height > 0) {
    // The cell height includes the leading above the characters.
    f.setPixelSize(font.Height);
    const int cell = QFontMetrics(f).height();
    if (cell > 0) f.setPixelSize(std::max(1, font.Height * font.Height / cell));
  }
  return f;
}

// ---- TQtWidgetSet

TQtWidgetSet::TQtWidgetSet() {
  QCoreApplication* running = QCoreApplication::instance();
  if (running == nullptr) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt would end the process when it finds no display to connect to.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
      throw Exception("No display to show windows on: DISPLAY is not set (QT_QPA_PLATFORM=offscreen runs without one)");
    }
#endif
    ownApp_ = std::make_unique<QApplication>(gArgc, gArgv);
    app_ = ownApp_.get();
  } else {
    app_ = qobject_cast<QApplication*>(running);
    if (app_ == nullptr) throw Exception("The running Qt application has no widgets: windows cannot be shown");
  }
}

TQtWidgetSet::~TQtWidgetSet() {
  if (overrideCursor_) QApplication::restoreOverrideCursor();
  // Windows freed from their own events wait for an event loop to go; the
  // last chance for that is now.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QMainWindow* TQtWidgetSet::WindowOf(const TForm& form) const {
  TQtFormPeer* peer = FormPeer(form);
  return peer ? peer->Window() : nullptr;
}

QWidget* TQtWidgetSet::WidgetOf(const TControl& control) const { return ControlWidget(control.Peer()); }

QAction* TQtWidgetSet::ActionOf(const TForm& form, const TMenuItem& item) const {
  TQtFormPeer* peer = FormPeer(form);
  return peer ? peer->ActionOf(item) : nullptr;
}

void TQtWidgetSet::ShowForm(TForm& form, bool modal) {
  RequireGuiThread("Showing a window");
  TQtFormPeer* peer = FormPeer(form);
  if (peer == nullptr) {
    auto made = std::make_unique<TQtFormPeer>(*this, form);
    peer = made.get();
    form.SetPeer(std::move(made));
  }
  peer->Show(modal);
  RethrowPending();
}

void TQtWidgetSet::HideForm(TForm& form) {
  RequireGuiThread("Hiding a window");
  if (TQtFormPeer* peer = FormPeer(form)) peer->Hide();
}

void TQtWidgetSet::FormDestroyed(TForm& form) {
  if (TQtFormPeer* peer = FormPeer(form)) peer->Detach();
}

void TQtWidgetSet::HandleMessage() {
  RethrowPending();
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  RethrowPending();
}

void TQtWidgetSet::ProcessMessages() {
  RethrowPending();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  RethrowPending();
}

int TQtWidgetSet::MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                             const TMsgDlgButtons& buttons) {
  RequireGuiThread("A message dialog");
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = QApplication::activeWindow();
  QMessageBox box(IconOf(type), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::NoButton,
                  parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);

  std::vector<TMsgDlgBtn> list = buttons.List();
  if (list.empty()) list.push_back(mbOK);
  const TMsgDlgBtn defaultButton = MsgDlgDefaultButton(buttons);
  const TMsgDlgBtn escapeButton = EscapeButton(buttons);
  std::vector<std::pair<QAbstractButton*, int>> results;
  for (TMsgDlgBtn b : list) {
    QPushButton* button = box.addButton(QString::fromStdString(MsgDlgButtonCaption(b)), RoleOf(b));
    results.emplace_back(button, MsgDlgButtonResult(b));
    if (b == defaultButton) box.setDefaultButton(button);
    if (b == escapeButton) box.setEscapeButton(button);
  }
  box.exec();
  RethrowPending();
  for (const auto& [button, result] : results) {
    if (button == box.clickedButton()) return result;
  }
  // Closed without a button of its own (the box went with its window).
  return mrCancel;
}

void TQtWidgetSet::SetScreenCursor(TCursor cursor) {
  RequireGuiThread("Setting the screen cursor");
  if (cursor == crDefault) {
    if (overrideCursor_) QApplication::restoreOverrideCursor();
    overrideCursor_ = false;
  } else if (overrideCursor_) {
    QApplication::changeOverrideCursor(QCursor(QtCursorShape(cursor)));
  } else {
    QApplication::setOverrideCursor(QCursor(QtCursorShape(cursor)));
    overrideCursor_ = true;
  }
}

TRect TQtWidgetSet::WorkArea() const {
  QScreen* screen = nullptr;
  if (QWidget* active = QApplication::activeWindow()) screen = active->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return TRect{};
  const QRect a = screen->availableGeometry();
  return TRect{a.x(), a.y(), a.x() + a.width(), a.y() + a.height()};
}

}  // namespace planora
