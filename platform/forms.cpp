#include "platform/forms.h"

#include <algorithm>
#include <cmath>

#include "platform/sysutils.h"

namespace planora {

TApplication* Application = nullptr;

// ---- dialog texts

std::vector<TMsgDlgBtn> TMsgDlgButtons::List() const {
  std::vector<TMsgDlgBtn> out;
  for (TMsgDlgBtn b : {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore}) {
    if (Contains(b)) out.push_back(b);
  }
  return out;
}

std::string MsgDlgCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "Warnung";
    case mtError: return "Fehler";
    case mtInformation: return "Informationen";
    case mtConfirmation: return "Bestätigen";
    case mtCustom: break;
  }
  return Application ? Application->Title : std::string();
}

std::string MsgDlgButtonCaption(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return "&Ja";
    case mbNo: return "&Nein";
    case mbOK: return "OK";
    case mbCancel: return "Abbrechen";
    case mbAbort: return "&Abbrechen";
    case mbRetry: return "&Wiederholen";
    case mbIgnore: return "&Ignorieren";
  }
  return {};
}

int MsgDlgButtonResult(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
  }
  return mrNone;
}

TMsgDlgBtn MsgDlgDefaultButton(const TMsgDlgButtons& buttons) {
  if (buttons.Contains(mbOK)) return mbOK;
  if (buttons.Contains(mbYes)) return mbYes;
  auto list = buttons.List();
  return list.empty() ? mbOK : list.front();
}

// ---- TForm

TForm::TForm(TApplication* owner, std::string name)
    : owner_(owner), name_(std::move(name)), menu_(std::make_unique<TMenuItem>(this, "", "")) {}

TForm::~TForm() {
  // Controls and menu go first: their peers may refer to the window's peer.
  controls_.clear();
  menu_.reset();
  peer_.reset();
}

void TForm::Changed() {
  if (peer_) peer_->Sync();
}

void TForm::SetCaption(const std::string& c) {
  caption_ = c;
  Changed();
}

void TForm::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  Changed();
}

int TForm::ClientWidth() const { return std::max(0, width_ - frame_.Left - frame_.Right); }
int TForm::ClientHeight() const { return std::max(0, height_ - frame_.Top - frame_.Bottom); }
void TForm::SetClientWidth(int w) { SetBounds(left_, top_, w + frame_.Left + frame_.Right, height_); }
void TForm::SetFrameExtents(const TRect& extents) { frame_ = extents; }

void TForm::SetBorderIcons(TBorderIcons icons) {
  borderIcons_ = icons;
  Changed();
}

void TForm::SetWindowState(TWindowState s) {
  windowState_ = s;
  Changed();
}

void TForm::SetPosition(TPosition p) { position_ = p; }

void TForm::SetFont(const TFont& f) {
  font_ = f;
  Changed();
}

void TForm::SetColor(TColor c) {
  color_ = c;
  Changed();
}

void TForm::SetPeer(std::unique_ptr<TPeer> peer) {
  peer_ = std::move(peer);
  if (peer_) peer_->Sync();
}

void TForm::DoCreate() {
  if (OnCreate) DispatchEvent([&] { OnCreate(this); });
}

void TForm::DoDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  if (OnDestroy) DispatchEvent([&] { OnDestroy(this); });
}

void TForm::Show() {
  if (!visible_) {
    owner_->WidgetSet().ShowForm(*this, false);
    visible_ = true;
    if (OnShow) DispatchEvent([&] { OnShow(this); });
  }
}

void TForm::Hide() {
  if (!visible_) return;
  visible_ = false;
  owner_->WidgetSet().HideForm(*this);
}

int TForm::ShowModal() {
  if (visible_ || modal_) throw Exception("Cannot make a visible window modal");
  modal_ = true;
  modalResult_ = mrNone;
  lastCloseAction_ = caNone;
  owner_->WidgetSet().ShowForm(*this, true);
  visible_ = true;
  if (OnShow) DispatchEvent([&] { OnShow(this); });
  while (true) {
    if (modalResult_ != mrNone) {
      CloseModal();
      if (modalResult_ != mrNone) break;
    }
    owner_->WidgetSet().HandleMessage();
  }
  int result = modalResult_;
  modal_ = false;
  Hide();
  if (lastCloseAction_ == caFree) owner_->DestroyForm(this);
  return result;
}

void TForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  lastCloseAction_ = action;
  if (action == caNone) modalResult_ = mrNone;
}

void TForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caHide || action == caFree) Hide();
  if (action == caFree) owner_->DestroyForm(this);
}

bool TForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) DispatchEvent([&] { OnCloseQuery(this, canClose); });
  return canClose;
}

void TForm::DoClose(TCloseAction& action) {
  if (OnClose) DispatchEvent([&] { OnClose(this, action); });
}

namespace {

// Moves a control along one axis of a client area that changed from `from` to
// `to` pixels: anchored to both edges it stretches, to the far edge only it
// keeps its distance to that edge, to neither it keeps its centre's share.
void Anchor(bool nearEdge, bool farEdge, int from, int to, int& pos, int& size) {
  const int delta = to - from;
  if (nearEdge && farEdge) {
    size = std::max(0, size + delta);
  } else if (farEdge) {
    pos += delta;
  } else if (!nearEdge && from > 0) {
    const double centre = (pos + size / 2.0) * to / from;
    pos = static_cast<int>(std::lround(centre - size / 2.0));
  }
}

}  // namespace

void TForm::AnchorControls(int fromW, int fromH, int toW, int toH) {
  for (const auto& c : controls_) {
    const TAnchors a = c->Anchors();
    if (a == (akLeft | akTop)) continue;
    int left = c->Left(), top = c->Top(), w = c->Width(), h = c->Height();
    Anchor(a & akLeft, a & akRight, fromW, toW, left, w);
    Anchor(a & akTop, a & akBottom, fromH, toH, top, h);
    c->SetBounds(left, top, w, h);
  }
}

void TForm::InvalidatePaintBoxes() {
  for (const auto& c : controls_) {
    if (auto* pb = dynamic_cast<TPaintBox*>(c.get())) pb->Invalidate();
  }
}

void TForm::Repaint() {
  for (const auto& c : controls_) {
    if (auto* pb = dynamic_cast<TPaintBox*>(c.get())) pb->Repaint();
  }
}

// ---- TApplication

TApplication::TApplication(TWidgetSet& widgetSet) : widgetSet_(&widgetSet) {
  if (!Application) Application = this;
}

TApplication::~TApplication() {
  while (!forms_.empty()) DestroyForm(forms_.back().get());
  if (Application == this) Application = nullptr;
}

bool TApplication::Owns(const TForm* form) const {
  return std::any_of(forms_.begin(), forms_.end(), [&](const auto& f) { return f.get() == form; });
}

void TApplication::DestroyForm(TForm* form) {
  auto it = std::find_if(forms_.begin(), forms_.end(), [&](const auto& f) { return f.get() == form; });
  if (it == forms_.end()) return;
  form->DoDestroy();
  widgetSet_->FormDestroyed(*form);
  // Take it out of the list before it dies, so that nothing reaches a half-destroyed window.
  std::unique_ptr<TForm> dying = std::move(*it);
  forms_.erase(it);
  dying.reset();
}

void TApplication::SetScreenCursor(TCursor c) {
  screenCursor_ = c;
  widgetSet_->SetScreenCursor(c);
}

int TApplication::MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons) {
  return widgetSet_->MessageDlg(MsgDlgCaption(type), text, type, buttons);
}

void TApplication::HandleException(const std::exception& e) {
  widgetSet_->MessageDlg(Title, e.what(), mtError, {mbOK});
}

int MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons, int /*helpContext*/) {
  if (!Application) throw Exception("No application object for a message dialog: " + text);
  return Application->MessageDlg(text, type, buttons);
}

void TInputDelivery::Deliver(const std::function<void()>& input) noexcept {
  try {
    input();
  } catch (const std::exception& e) {
    // What a handler raised reached here past the handlers' own net (the
    // window's close protocol, a paint box's entry point ...): shown as any
    // handler's exception is, when there is an application to show it.
    try {
      if (Application == nullptr) throw;
      Application->HandleException(e);
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
    }
  } catch (...) {
    if (!pending_) pending_ = std::current_exception();
  }
}

void TInputDelivery::RethrowPending() {
  if (!pending_) return;
  std::exception_ptr e = pending_;
  pending_ = nullptr;
  std::rethrow_exception(e);
}

void CentreIfAsked(TForm& form, const TRect& workArea) {
  if (form.WindowState() == wsMaximized) return;
  if (form.Position() != poScreenCenter && form.Position() != poDesktopCenter) return;
  form.SetBounds(workArea.Left + (workArea.Width() - form.Width()) / 2,
                 workArea.Top + (workArea.Height() - form.Height()) / 2, form.Width(), form.Height());
}

}  // namespace planora
