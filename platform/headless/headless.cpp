#include "platform/headless/headless.h"

#include <algorithm>

namespace planora {

THeadlessWidgetSet::THeadlessWidgetSet() = default;

void THeadlessWidgetSet::Post(std::function<void()> action) { actions_.push_back(std::move(action)); }

void THeadlessWidgetSet::PostDuringWork(std::function<void()> action) {
  duringWork_.push_back(std::move(action));
}

void THeadlessWidgetSet::AnswerDialogs(std::initializer_list<int> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void THeadlessWidgetSet::SetFrame(int border, int caption, int menuBar) {
  border_ = border;
  caption_ = caption;
  menuBar_ = menuBar;
}

void THeadlessWidgetSet::ShowForm(TForm& form, bool /*modal*/) {
  form.SetFrameExtents(TRect{border_, caption_ + (form.HasMenu() ? menuBar_ : 0), border_, border_});
  if (form.WindowState() == wsMaximized) {
    form.SetBounds(workArea_.Left, workArea_.Top, workArea_.Width(), workArea_.Height());
  } else {
    CentreIfAsked(form, workArea_);
  }
  form.InvalidatePaintBoxes();
  if (std::find(visible_.begin(), visible_.end(), &form) == visible_.end()) visible_.push_back(&form);
}

void THeadlessWidgetSet::HideForm(TForm& form) {
  visible_.erase(std::remove(visible_.begin(), visible_.end(), &form), visible_.end());
}

void THeadlessWidgetSet::FormDestroyed(TForm& form) { HideForm(form); }

void THeadlessWidgetSet::DeliverPaints() {
  // A paint handler may show or hide windows: walk a copy.
  std::vector<TForm*> forms = visible_;
  for (TForm* form : forms) {
    if (std::find(visible_.begin(), visible_.end(), form) == visible_.end()) continue;
    for (const auto& c : form->Controls()) {
      auto* pb = dynamic_cast<TPaintBox*>(c.get());
      if (pb && pb->Visible() && pb->PaintPending()) {
        pb->Paint();
      }
    }
  }
}

void THeadlessWidgetSet::Run(std::function<void()>& action) { DispatchEvent(action); }

void THeadlessWidgetSet::HandleMessage() {
  DeliverPaints();
  std::deque<std::function<void()>>* queue = !duringWork_.empty() ? &duringWork_ : &actions_;
  if (queue->empty()) {
    std::string name = visible_.empty() ? std::string() : visible_.back()->Name();
    throw THeadlessStall{name};
  }
  std::function<void()> action = std::move(queue->front());
  queue->pop_front();
  Run(action);
}

void THeadlessWidgetSet::ProcessMessages() {
  ++processMessagesCalls_;
  DeliverPaints();
  // Only what is queued now: work queued by these actions waits for the next call.
  std::size_t n = duringWork_.size();
  for (std::size_t i = 0; i < n && !duringWork_.empty(); ++i) {
    std::function<void()> action = std::move(duringWork_.front());
    duringWork_.pop_front();
    Run(action);
  }
}

int THeadlessWidgetSet::MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                                   const TMsgDlgButtons& buttons) {
  int answer = MsgDlgButtonResult(MsgDlgDefaultButton(buttons));
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  dialogs_.push_back(TDialogRecord{caption, text, type, buttons.List(), answer});
  return answer;
}

void THeadlessWidgetSet::SetScreenCursor(TCursor cursor) {
  cursor_ = cursor;
}

}  // namespace planora
