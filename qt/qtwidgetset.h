// The Qt 6 Widgets backend of the platform layer: windows become real
// top-level windows with their main menu, controls become Qt widgets, message
// dialogs are real modal message boxes, and the modal loops of the windows
// run on Qt's event loop.
//
//   TQtWidgetSet widgets;          // uses the running QApplication or makes one
//   TApplication app(widgets);
//   auto* form = app.CreateForm<TMyForm>();
//   form->ShowModal();
//
// Nothing here assumes a particular Qt platform: the same code runs on a
// desktop, under a virtual X server and on the offscreen platform the tests use.
#pragma once

#include <QFont>
#include <exception>
#include <functional>
#include <memory>

#include "platform/forms.h"

class QAction;
class QApplication;
class QMainWindow;
class QWidget;

namespace planora {

// Qt's cursor shape for a cursor of the platform layer (crDefault and unknown
// cursors give the arrow).
Qt::CursorShape QtCursorShape(TCursor cursor);

// The font the system has for a font a window names: the family itself when it
// is installed, otherwise the system's fixed-pitch font for typewriter families
// ("Courier New" ...) and the general font for the rest. A negative height is
// the character height in pixels, a positive one the cell height.
QFont QtFont(const TFont& font);

class TQtWidgetSet : public TWidgetSet, public TInputDelivery {
 public:
  // Uses the QApplication that is running, or makes one that this widget set
  // owns (then it must be the last Qt object to go). Exception instead of
  // Qt's abort when there is no display to make one on, and when the running
  // application is a QCoreApplication or QGuiApplication, which cannot carry
  // widgets. The widget set must outlive the application object and its windows.
  TQtWidgetSet();
  ~TQtWidgetSet() override;
  TQtWidgetSet(const TQtWidgetSet&) = delete;
  TQtWidgetSet& operator=(const TQtWidgetSet&) = delete;

  QApplication& App() const { return *app_; }
  bool OwnsApplication() const { return ownApp_ != nullptr; }

  // The Qt counterparts, once the window has been shown (nullptr before).
  QMainWindow* WindowOf(const TForm& form) const;
  QWidget* WidgetOf(const TControl& control) const;
  QAction* ActionOf(const TForm& form, const TMenuItem& item) const;

  // TWidgetSet
  void ShowForm(TForm& form, bool modal) override;
  void HideForm(TForm& form) override;
  void FormDestroyed(TForm& form) override;
  void HandleMessage() override;
  void ProcessMessages() override;
  int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                 const TMsgDlgButtons& buttons) override;
  void SetScreenCursor(TCursor cursor) override;
  TRect WorkArea() const override;

  // Deliver (TInputDelivery) runs the user's input from inside a Qt event
  // handler; RethrowPending raises a kept exception now, for programs that
  // run Qt's own event loop.

 private:
  std::unique_ptr<QApplication> ownApp_;
  QApplication* app_ = nullptr;
  bool overrideCursor_ = false;
};

}  // namespace planora
