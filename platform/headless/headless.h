// A backend that runs windows without a screen. Tests drive it as a user and
// a windowing system would: they queue the user's actions (menu clicks, mouse
// events, typing), queue answers to message dialogs and read what the dialogs
// said, and queue work that arrives while a long run lets messages through.
//
// Message order, as on a real desktop: a modal loop first delivers pending
// paints, then runs the next queued action; ProcessMessages delivers pending
// paints and the actions queued for it with PostDuringWork. A modal loop that
// has nothing left to do raises THeadlessStall (not a std::exception, so no
// event handler swallows it): a test that forgets to close a window fails
// instead of hanging.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/forms.h"

namespace planora {

struct THeadlessStall {
  std::string Window;
};

struct TDialogRecord {
  std::string Caption;
  std::string Text;
  TMsgDlgType Type;
  std::vector<TMsgDlgBtn> Buttons;
  int Answer;
};

class THeadlessWidgetSet : public TWidgetSet {
 public:
  THeadlessWidgetSet();

  // The user's next action for the modal loop; it runs after the previous
  // one's handlers have returned. Exceptions it raises are shown like those
  // of any event handler.
  void Post(std::function<void()> action);
  // Work that arrives at the next ProcessMessages (or at the modal loop, if
  // no long run comes first).
  void PostDuringWork(std::function<void()> action);
  std::size_t PendingActions() const { return actions_.size() + duringWork_.size(); }

  // Answers for the next message dialogs, in order (modal results such as
  // mrAbort). Without a queued answer a dialog is confirmed with its default button.
  void AnswerDialogs(std::initializer_list<int> answers);
  const std::vector<TDialogRecord>& Dialogs() const { return dialogs_; }
  void ClearDialogs() { dialogs_.clear(); }

  TCursor ScreenCursor() const { return cursor_; }
  int ProcessMessagesCalls() const { return processMessagesCalls_; }

  void SetWorkArea(const TRect& r) { workArea_ = r; }
  // Frame widths every window gets: sides and bottom, caption, and the menu bar.
  void SetFrame(int border, int caption, int menuBar);

  // Delivers every pending paint of the visible windows' paint boxes.
  void DeliverPaints();

  // TWidgetSet
  void ShowForm(TForm& form, bool modal) override;
  void HideForm(TForm& form) override;
  void FormDestroyed(TForm& form) override;
  void HandleMessage() override;
  void ProcessMessages() override;
  int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                 const TMsgDlgButtons& buttons) override;
  void SetScreenCursor(TCursor cursor) override;
  TRect WorkArea() const override { return workArea_; }

 private:
  void Run(std::function<void()>& action);

  std::deque<std::function<void()>> actions_;
  std::deque<std::function<void()>> duringWork_;
  std::deque<int> answers_;
  std::vector<TDialogRecord> dialogs_;
  std::vector<TForm*> visible_;
  TCursor cursor_ = crDefault;
  int processMessagesCalls_ = 0;
  TRect workArea_{0, 0, 1920, 1040};
  int border_ = 8, caption_ = 31, menuBar_ = 20;
};

}  // namespace planora
