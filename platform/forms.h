// Windows and the application object: life-cycle events, the close protocol,
// modal runs, message processing, the screen cursor and message dialogs.
//
// The platform is independent of any toolkit. A TWidgetSet (the backend) makes
// the windows real: it shows and hides them, waits for and handles the
// user's input, answers message dialogs and shows the cursor. The headless
// backend does this without a screen for tests; a toolkit backend does it for
// people. The window logic is the same on either.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/controls.h"

namespace planora {

class TApplication;

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TBorderIcon { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = int;
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poScreenCenter, poDesktopCenter };

inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore };

class TMsgDlgButtons {
 public:
  TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) bits_ |= 1u << b;
  }
  bool Contains(TMsgDlgBtn b) const { return (bits_ & (1u << b)) != 0; }
  std::vector<TMsgDlgBtn> List() const;

 private:
  unsigned bits_ = 0;
};

// The framework's dialog texts (this build's are German).
std::string MsgDlgCaption(TMsgDlgType type);
std::string MsgDlgButtonCaption(TMsgDlgBtn button);
int MsgDlgButtonResult(TMsgDlgBtn button);
// The button a dialog answers with when the user just confirms it.
TMsgDlgBtn MsgDlgDefaultButton(const TMsgDlgButtons& buttons);

class TForm : public TObject {
 public:
  TForm(TApplication* owner, std::string name);
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  const std::string& Name() const { return name_; }
  TApplication* Owner() const { return owner_; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  // The inside of the window: the outer size less the frame, caption and menu.
  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientWidth(int w);
  // Widths of the frame on each side (the top includes caption and menu);
  // the backend sets them from the window system.
  TRect FrameExtents() const { return frame_; }
  void SetFrameExtents(const TRect& extents);

  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons icons);
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState s);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition p);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& f);
  TColor Color() const { return color_; }
  void SetColor(TColor c);

  // The main menu: its top-level items are the children of MainMenu().
  TMenuItem& MainMenu() { return *menu_; }
  const TMenuItem& MainMenu() const { return *menu_; }
  bool HasMenu() const { return !menu_->Items().empty(); }
  TMenuItem* FindMenuItem(const std::string& name) { return menu_->Find(name); }

  template <class T, class... Args>
  T* Add(Args&&... args) {
    auto control = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = control.get();
    controls_.push_back(std::move(control));
    return raw;
  }
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }

  // Life-cycle events.
  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;
  std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;
  TNotifyEvent OnDestroy;

  bool Visible() const { return visible_; }
  bool Modal() const { return modal_; }
  // Shows the window and runs its modal loop until it closes; returns the
  // modal result. A window whose close action is caFree is destroyed before
  // this returns.
  int ShowModal();
  void Show();
  void Hide();
  // Asks the window to close: a modal window ends its run (through the close
  // protocol); any other asks OnCloseQuery and then runs OnClose.
  void Close();
  bool CloseQuery();
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int r) { modalResult_ = r; }

  // Redraws every control: paint boxes get their paint at once.
  void Repaint();
  // Marks every paint box for a paint: what a backend does when the window
  // is shown, or comes back from the task bar, so that the program draws
  // its boxes again.
  void InvalidatePaintBoxes();
  // Moves and sizes the controls by their anchors after the client area
  // changed from fromW x fromH to toW x toH pixels: what a backend does
  // when the user resizes the window.
  void AnchorControls(int fromW, int fromH, int toW, int toH);

  TPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<TPeer> peer);

  // Called by the application object: creation and destruction events.
  void DoCreate();
  void DoDestroy();

 protected:
  void Changed();

 private:
  void CloseModal();
  void DoClose(TCloseAction& action);

  TApplication* owner_;
  std::string name_;
  std::string caption_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TRect frame_{8, 31, 8, 8};
  TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TWindowState windowState_ = wsNormal;
  TPosition position_ = poDesigned;
  TFont font_;
  TColor color_ = clBtnFace;
  std::unique_ptr<TMenuItem> menu_;
  std::vector<std::unique_ptr<TControl>> controls_;
  bool visible_ = false;
  bool modal_ = false;
  bool destroyed_ = false;
  int modalResult_ = mrNone;
  TCloseAction lastCloseAction_ = caNone;
  std::unique_ptr<TPeer> peer_;
};

// For a backend whose input arrives inside the toolkit's own callbacks,
// through which nothing may unwind: Deliver runs the user's input (an event
// entry point of a control or window); an exception the application's
// handler does not take is kept, and the backend raises it again with
// RethrowPending on the way out of its next HandleMessage, ProcessMessages
// or MessageDlg.
class TInputDelivery {
 public:
  void Deliver(const std::function<void()>& input) noexcept;
  void RethrowPending();
  bool HasPending() const { return static_cast<bool>(pending_); }

 private:
  std::exception_ptr pending_;
};

// A window that is not maximized and asks to be centred (poScreenCenter,
// poDesktopCenter) gets its size centred in the work area; the backends
// call this as they show it.
void CentreIfAsked(TForm& form, const TRect& workArea);

// The backend that makes windows real.
class TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;
  // A window is about to become visible (modal or not): give it and its
  // controls peers, apply its window state and position.
  virtual void ShowForm(TForm& form, bool modal) = 0;
  virtual void HideForm(TForm& form) = 0;
  // A window is being destroyed: drop what belongs to it.
  virtual void FormDestroyed(TForm& form) = 0;
  // Waits for at least one message and handles it (used by modal loops).
  virtual void HandleMessage() = 0;
  // Handles every message that is pending now, without waiting.
  virtual void ProcessMessages() = 0;
  // A modal message dialog; returns the modal result of the button chosen.
  virtual int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                         const TMsgDlgButtons& buttons) = 0;
  virtual void SetScreenCursor(TCursor cursor) = 0;
  // The area a maximized window covers.
  virtual TRect WorkArea() const = 0;
};

class TApplication : public TObject {
 public:
  // The first application object made becomes the global `Application`.
  explicit TApplication(TWidgetSet& widgetSet);
  ~TApplication() override;

  TWidgetSet& WidgetSet() { return *widgetSet_; }

  std::string Title = "Planora";

  // Makes a window owned by this application and runs its creation event.
  template <class T, class... Args>
  T* CreateForm(Args&&... args) {
    auto form = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = form.get();
    forms_.push_back(std::move(form));
    raw->DoCreate();
    return raw;
  }
  // Runs the window's destruction event and frees it.
  void DestroyForm(TForm* form);
  const std::vector<std::unique_ptr<TForm>>& Forms() const { return forms_; }
  bool Owns(const TForm* form) const;

  void ProcessMessages() { widgetSet_->ProcessMessages(); }
  void HandleMessage() { widgetSet_->HandleMessage(); }

  TCursor ScreenCursor() const { return screenCursor_; }
  void SetScreenCursor(TCursor c);

  int MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons);
  // The default handler for an exception raised in an event handler: shows its message.
  void HandleException(const std::exception& e);

 private:
  TWidgetSet* widgetSet_;
  std::vector<std::unique_ptr<TForm>> forms_;
  TCursor screenCursor_ = crDefault;
};

// The application object the windows use.
extern TApplication* Application;

// Message dialog through the global application object.
int MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons, int helpContext = 0);

}  // namespace planora
