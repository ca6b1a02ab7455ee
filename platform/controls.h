// Controls of the windows: paint boxes, edit fields, labels, the integer spin
// field, the progress bar, memos and menu items.
//
// Controls are plain objects owned by their form. A backend (headless for
// tests, a real toolkit for people) gives each one a peer: the control tells
// its peer when its properties change (Sync) and when part of a paint box's
// screen image changed (Invalidate); the backend delivers the user's input by
// calling the event entry points (MouseDown, Click, UserTyped, ...), which run
// the handlers of the moment. An exception a handler raises is shown by the
// application in a message box and the window goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"

namespace planora {

class TForm;

class TObject {
 public:
  virtual ~TObject() = default;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };

// The modifier keys and mouse buttons held during an event.
class TShiftState {
 public:
  TShiftState() = default;
  TShiftState(std::initializer_list<TShiftFlag> flags) {
    for (TShiftFlag f : flags) bits_ |= Bit(f);
  }
  bool Contains(TShiftFlag f) const { return (bits_ & Bit(f)) != 0; }
  bool Empty() const { return bits_ == 0; }
  TShiftState& operator+=(TShiftFlag f) { bits_ |= Bit(f); return *this; }
  TShiftState& operator-=(TShiftFlag f) { bits_ &= static_cast<std::uint8_t>(~Bit(f)); return *this; }
  std::uint8_t Bits() const { return bits_; }
  friend bool operator==(const TShiftState&, const TShiftState&) = default;

 private:
  static std::uint8_t Bit(TShiftFlag f) { return static_cast<std::uint8_t>(1u << f); }
  std::uint8_t bits_ = 0;
};

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crSizeNESW = -6;
inline constexpr TCursor crSizeNS = -7;
inline constexpr TCursor crSizeNWSE = -8;
inline constexpr TCursor crSizeWE = -9;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crSizeAll = -22;

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

// Runs an event handler; an exception it raises is shown by the application
// (message box with its text) instead of ending the window's run.
void DispatchEvent(const std::function<void()>& handler);

enum TAnchorKind { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = int;

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = -11;  // negative: character height in pixels at 96 pixels per inch
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The backend's counterpart of a control or form.
class TPeer {
 public:
  virtual ~TPeer() = default;
  // Properties changed: take them over from the control.
  virtual void Sync() = 0;
  // Part of a paint box's screen image changed.
  virtual void Invalidate(const TRect& /*area*/) {}
};

class TControl : public TObject {
 public:
  TControl(TForm* owner, std::string name);
  ~TControl() override;

  const std::string& Name() const { return name_; }
  TForm* Owner() const { return owner_; }

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor c);
  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors a);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& f);

  TPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<TPeer> peer);

 protected:
  void Changed();

 private:
  TForm* owner_;
  std::string name_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  TCursor cursor_ = crDefault;
  TAnchors anchors_ = akLeft | akTop;
  TFont font_;
  std::unique_ptr<TPeer> peer_;
};

// A rectangle the program paints itself. Its screen image is the bitmap the
// user sees; drawing on Canvas() draws on it.
class TPaintBox : public TControl {
 public:
  TPaintBox(TForm* owner, std::string name);

  TCanvas& Canvas() { return screen_.Canvas(); }
  TBitmap& ScreenImage() { return screen_; }
  const TBitmap& ScreenImage() const { return screen_; }

  void SetBounds(int left, int top, int width, int height) override;

  // Handlers of the moment; they can be read, saved and replaced at any time.
  TNotifyEvent OnPaint;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnClick;

  // Asks for a paint; the backend delivers it when it processes messages.
  void Invalidate();
  bool PaintPending() const { return paintPending_; }
  // Paints now: runs OnPaint before returning.
  void Repaint();

  // Entry points for the backend (the windowing system's events). Mouse
  // events reach the handlers only while the paint box is enabled; a left
  // press and release on it make a click.
  void Paint();
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  void MouseMove(TShiftState shift, int x, int y);
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y);

 private:
  TBitmap screen_;
  bool paintPending_ = true;
  bool leftPressed_ = false;
};

class TLabel : public TControl {
 public:
  TLabel(TForm* owner, std::string name, std::string caption = {});
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);

 private:
  std::string caption_;
};

class TEdit : public TControl {
 public:
  TEdit(TForm* owner, std::string name);
  const std::string& Text() const { return text_; }
  void SetText(const std::string& t);
  TNotifyEvent OnChange;
  // Backend: the user changed the text.
  void UserTyped(const std::string& t);

 protected:
  std::string text_;
};

// Integer field with up and down buttons. Setting a value clamps it to
// MinValue..MaxValue; typed text is read as it stands (text that is not an
// integer reads as MinValue) until the field loses the focus, which clamps it.
class TSpinEdit : public TEdit {
 public:
  TSpinEdit(TForm* owner, std::string name);
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  void SetMinValue(int v);
  void SetMaxValue(int v);
  int Value() const;
  void SetValue(int v);
  int CheckValue(int v) const;
  // Backend: the field lost the focus; the up or down button was pressed.
  void Exit();
  void StepUp() { SetValue(Value() + 1); }
  void StepDown() { SetValue(Value() - 1); }

 private:
  int min_ = 0;
  int max_ = 0;
};

class TProgressBar : public TControl {
 public:
  TProgressBar(TForm* owner, std::string name);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Positions outside Min..Max are clamped, as the system's bar does.
  void SetPosition(int p);
  void SetRange(int mn, int mx);

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};

class TMemo : public TControl {
 public:
  TMemo(TForm* owner, std::string name);
  const std::vector<std::string>& Lines() const { return lines_; }
  void Clear();
  void Add(const std::string& line);
  std::string Text() const;  // lines joined with "\n"
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle s);
  bool WantReturns() const { return wantReturns_; }
  void SetWantReturns(bool w);

 private:
  std::vector<std::string> lines_;
  TScrollStyle scrollBars_ = ssNone;
  bool wantReturns_ = true;
};

class TMenuItem;

// The structure of a menu, item by item in order: what a toolkit's menu is
// rebuilt for when it changes (captions, check marks and enabled states are
// updated in place).
struct TMenuShape {
  const TMenuItem* Item;
  const TMenuItem* Parent;
  bool Separator;
  bool Submenu;
  friend bool operator==(const TMenuShape&, const TMenuShape&) = default;
};
std::vector<TMenuShape> MenuShapeOf(const TMenuItem& root);

class TMenuItem : public TObject {
 public:
  TMenuItem(TForm* owner, std::string name, std::string caption);

  const std::string& Name() const { return name_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);
  bool IsSeparator() const { return caption_ == "-"; }
  bool Checked() const { return checked_; }
  void SetChecked(bool c);
  bool RadioItem() const { return radio_; }
  void SetRadioItem(bool r);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);

  TNotifyEvent OnClick;

  TMenuItem* Add(std::string name, std::string caption);
  const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return items_; }
  TMenuItem* Parent() const { return parent_; }
  TMenuItem* Find(const std::string& name);

  // Backend: the user chose the item. Disabled items and items under a
  // disabled parent do nothing.
  void Click();

 private:
  void Changed();

  TForm* owner_;
  std::string name_;
  std::string caption_;
  bool checked_ = false;
  bool radio_ = false;
  bool enabled_ = true;
  TMenuItem* parent_ = nullptr;
  std::vector<std::unique_ptr<TMenuItem>> items_;
};

}  // namespace planora
