#include "platform/controls.h"

#include <algorithm>

#include "platform/forms.h"
#include "platform/sysutils.h"

namespace planora {

void DispatchEvent(const std::function<void()>& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const std::exception& e) {
    if (Application) {
      Application->HandleException(e);
    } else {
      throw;
    }
  }
}

// ---- TControl

TControl::TControl(TForm* owner, std::string name) : owner_(owner), name_(std::move(name)) {}

TControl::~TControl() = default;

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  Changed();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Changed();
}

void TControl::SetCursor(TCursor c) {
  if (c == cursor_) return;
  cursor_ = c;
  Changed();
}

void TControl::SetAnchors(TAnchors a) {
  anchors_ = a;
  Changed();
}

void TControl::SetFont(const TFont& f) {
  font_ = f;
  Changed();
}

void TControl::SetPeer(std::unique_ptr<TPeer> peer) {
  peer_ = std::move(peer);
  if (peer_) peer_->Sync();
}

void TControl::Changed() {
  if (peer_) peer_->Sync();
}

// ---- TPaintBox

TPaintBox::TPaintBox(TForm* owner, std::string name) : TControl(owner, std::move(name)) {
  screen_.Canvas().OnChange = [this](const TRect& r) {
    if (Peer()) Peer()->Invalidate(r);
  };
}

void TPaintBox::SetBounds(int left, int top, int width, int height) {
  bool resized = width != Width() || height != Height();
  TControl::SetBounds(left, top, width, height);
  if (resized) {
    screen_.SetSize(Width(), Height());
    Invalidate();
  }
}

void TPaintBox::Invalidate() {
  paintPending_ = true;
  if (Peer()) Peer()->Invalidate(TRect{0, 0, Width(), Height()});
}

void TPaintBox::Repaint() { Paint(); }

void TPaintBox::Paint() {
  paintPending_ = false;
  if (OnPaint) {
    TNotifyEvent handler = OnPaint;  // the handler may replace itself
    DispatchEvent([&] { handler(this); });
  }
}

void TPaintBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (!Enabled()) return;
  if (button == mbLeft) leftPressed_ = true;
  if (OnMouseDown) {
    TMouseEvent handler = OnMouseDown;
    DispatchEvent([&] { handler(this, button, shift, x, y); });
  }
}

void TPaintBox::MouseMove(TShiftState shift, int x, int y) {
  if (!Enabled()) return;
  if (OnMouseMove) {
    TMouseMoveEvent handler = OnMouseMove;
    DispatchEvent([&] { handler(this, shift, x, y); });
  }
}

void TPaintBox::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (!Enabled()) return;
  bool click = button == mbLeft && leftPressed_ && x >= 0 && y >= 0 && x < Width() && y < Height();
  if (button == mbLeft) leftPressed_ = false;
  if (OnMouseUp) {
    TMouseEvent handler = OnMouseUp;
    DispatchEvent([&] { handler(this, button, shift, x, y); });
  }
  if (click && OnClick) {
    TNotifyEvent handler = OnClick;
    DispatchEvent([&] { handler(this); });
  }
}

// ---- TLabel, TEdit, TSpinEdit

TLabel::TLabel(TForm* owner, std::string name, std::string caption)
    : TControl(owner, std::move(name)), caption_(std::move(caption)) {}

void TLabel::SetCaption(const std::string& c) {
  if (c == caption_) return;
  caption_ = c;
  Changed();
}

TEdit::TEdit(TForm* owner, std::string name) : TControl(owner, std::move(name)) {}

void TEdit::SetText(const std::string& t) {
  if (t == text_) return;
  text_ = t;
  Changed();
  if (OnChange) {
    TNotifyEvent handler = OnChange;
    DispatchEvent([&] { handler(this); });
  }
}

void TEdit::UserTyped(const std::string& t) {
  if (!Enabled()) return;
  SetText(t);
}

TSpinEdit::TSpinEdit(TForm* owner, std::string name) : TEdit(owner, std::move(name)) { text_.assign(1, '0'); }

void TSpinEdit::SetMinValue(int v) {
  min_ = v;
  Changed();
}

void TSpinEdit::SetMaxValue(int v) {
  max_ = v;
  Changed();
}

int TSpinEdit::CheckValue(int v) const {
  // With equal bounds the field is unbounded.
  if (max_ != min_) {
    if (v < min_) return min_;
    if (v > max_) return max_;
  }
  return v;
}

int TSpinEdit::Value() const {
  std::int32_t v = 0;
  return TryStrToInt(text_, v) ? v : min_;
}

void TSpinEdit::SetValue(int v) { SetText(IntToStr(CheckValue(v))); }

void TSpinEdit::Exit() {
  int v = Value();
  if (CheckValue(v) != v || IntToStr(v) != text_) SetValue(v);
}

// ---- TProgressBar, TMemo

TProgressBar::TProgressBar(TForm* owner, std::string name) : TControl(owner, std::move(name)) {}

void TProgressBar::SetPosition(int p) {
  p = std::clamp(p, min_, std::max(min_, max_));
  if (p == position_) return;
  position_ = p;
  Changed();
}

void TProgressBar::SetRange(int mn, int mx) {
  min_ = mn;
  max_ = mx;
  position_ = std::clamp(position_, min_, std::max(min_, max_));
  Changed();
}

TMemo::TMemo(TForm* owner, std::string name) : TControl(owner, std::move(name)) {}

void TMemo::Clear() {
  lines_.clear();
  Changed();
}

void TMemo::Add(const std::string& line) {
  lines_.push_back(line);
  Changed();
}

std::string TMemo::Text() const {
  std::string s;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i) s += '\n';
    s += lines_[i];
  }
  return s;
}

void TMemo::SetScrollBars(TScrollStyle s) {
  scrollBars_ = s;
  Changed();
}

void TMemo::SetWantReturns(bool w) {
  wantReturns_ = w;
  Changed();
}

// ---- TMenuItem

TMenuItem::TMenuItem(TForm* owner, std::string name, std::string caption)
    : owner_(owner), name_(std::move(name)), caption_(std::move(caption)) {}

void TMenuItem::Changed() {
  if (owner_ && owner_->Peer()) owner_->Peer()->Sync();
}

void TMenuItem::SetCaption(const std::string& c) {
  caption_ = c;
  Changed();
}

void TMenuItem::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  Changed();
}

void TMenuItem::SetRadioItem(bool r) {
  radio_ = r;
  Changed();
}

void TMenuItem::SetEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  Changed();
}

TMenuItem* TMenuItem::Add(std::string name, std::string caption) {
  items_.push_back(std::make_unique<TMenuItem>(owner_, std::move(name), std::move(caption)));
  items_.back()->parent_ = this;
  Changed();
  return items_.back().get();
}

TMenuItem* TMenuItem::Find(const std::string& name) {
  if (name_ == name) return this;
  for (auto& item : items_) {
    if (TMenuItem* found = item->Find(name)) return found;
  }
  return nullptr;
}

void TMenuItem::Click() {
  for (const TMenuItem* m = this; m; m = m->parent_) {
    if (!m->enabled_) return;
  }
  if (IsSeparator() || !OnClick) return;
  TNotifyEvent handler = OnClick;
  DispatchEvent([&] { handler(this); });
}

std::vector<TMenuShape> MenuShapeOf(const TMenuItem& root) {
  std::vector<TMenuShape> shape;
  std::function<void(const TMenuItem&)> walk = [&](const TMenuItem& parent) {
    for (const auto& item : parent.Items()) {
      shape.push_back(TMenuShape{item.get(), &parent, item->IsSeparator(), !item->Items().empty()});
      walk(*item);
    }
  };
  walk(root);
  return shape;
}

}  // namespace planora
