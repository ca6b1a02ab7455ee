// Message dialogs of the Win32 backend: the framework's captions and button
// texts in the framework's order, default and Escape buttons, the icon, the
// host window while the dialog is up, and answers through the hooks.
#include "tests/win32/win32_fixture.h"

namespace planora::test {
namespace {

struct TShownDialog {
  std::string Caption;
  std::vector<std::string> Buttons;
  std::string DefaultButton;
  std::vector<std::string> Texts;
  HICON Icon = nullptr;
  bool HostEnabled = true;
};

TShownDialog ReadDialog(HWND dialog, HWND host) {
  TShownDialog shown;
  shown.Caption = WindowText(dialog);
  shown.HostEnabled = IsWindowEnabled(host) != FALSE;
  for (HWND child : Children(dialog)) {
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if (ClassOf(child) == "Button") {
      shown.Buttons.push_back(WindowText(child));
      if ((style & 0x0F) == BS_DEFPUSHBUTTON) shown.DefaultButton = WindowText(child);
    } else if ((style & SS_TYPEMASK) == SS_ICON) {
      shown.Icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    } else {
      shown.Texts.push_back(WindowText(child));
    }
  }
  return shown;
}

using DialogsTest = Win32Test;

TWin32WidgetSet* gAnswering = nullptr;
bool* gFormEnabled = nullptr;
bool* gHostEnabled = nullptr;
HWND gHostWindow = nullptr;
HWND gFormWindow = nullptr;

void CALLBACK AnswerNestedDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  if (!gAnswering->DialogOpen()) return;
  *gFormEnabled = IsWindowEnabled(gFormWindow) != FALSE;
  *gHostEnabled = IsWindowEnabled(gHostWindow) != FALSE;
  gAnswering->AnswerOpenDialog(mrYes);
  KillTimer(nullptr, timer);
}

TEST_F(DialogsTest, ShowsTheFrameworksTextsAndAnswersThroughTheHook) {
  TShownDialog shown;
  bool wrongAnswerRefused = false;
  Script({[&] {
    if (!widgets_->DialogOpen()) return false;
    shown = ReadDialog(widgets_->DialogWindow(), host_);
    wrongAnswerRefused = !widgets_->AnswerOpenDialog(mrYes);
    return widgets_->AnswerOpenDialog(mrAbort);
  }},
         nullptr);
  const int answer = MessageDlg("Finish without result?", mtWarning, {mbAbort, mbOK});
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(mrAbort, answer);
  EXPECT_EQ(MsgDlgCaption(mtWarning), shown.Caption);
  // The framework's order, not the order the caller named them in.
  EXPECT_EQ((std::vector<std::string>{MsgDlgButtonCaption(mbOK), MsgDlgButtonCaption(mbAbort)}), shown.Buttons);
  EXPECT_EQ(MsgDlgButtonCaption(MsgDlgDefaultButton({mbAbort, mbOK})), shown.DefaultButton);
  EXPECT_EQ(std::vector<std::string>{"Finish without result?"}, shown.Texts);
  EXPECT_EQ(LoadIconA(nullptr, IDI_WARNING), shown.Icon);
  EXPECT_TRUE(wrongAnswerRefused);
  EXPECT_FALSE(shown.HostEnabled);
  EXPECT_TRUE(IsWindowEnabled(host_));
  EXPECT_FALSE(widgets_->DialogOpen());
}

TEST_F(DialogsTest, IconAndCaptionFollowTheType) {
  const std::pair<TMsgDlgType, LPCSTR> cases[] = {
      {mtError, IDI_ERROR}, {mtInformation, IDI_INFORMATION}, {mtConfirmation, IDI_QUESTION}};
  for (const auto& [type, icon] : cases) {
    TShownDialog shown;
    Script({[&] {
      if (!widgets_->DialogOpen()) return false;
      shown = ReadDialog(widgets_->DialogWindow(), host_);
      return widgets_->AnswerOpenDialog(mrYes);
    }},
           nullptr);
    EXPECT_EQ(mrYes, MessageDlg("?", type, {mbYes, mbNo}));
    EXPECT_EQ(MsgDlgCaption(type), shown.Caption);
    EXPECT_EQ(LoadIconA(nullptr, icon), shown.Icon);
    EXPECT_EQ((std::vector<std::string>{"&Ja", "&Nein"}), shown.Buttons);
  }
}

// Escape answers with Cancel, else No, else OK; Enter with the default button.
TEST_F(DialogsTest, KeysAndCloseBoxAnswerWithTheEscapeAndDefaultButtons) {
  struct Case {
    TMsgDlgButtons Buttons;
    WPARAM Key;  // 0: the close box
    int Expected;
  };
  const Case cases[] = {{{mbYes, mbNo, mbCancel}, VK_ESCAPE, mrCancel},
                        {{mbYes, mbNo}, VK_ESCAPE, mrNo},
                        {{mbOK, mbAbort}, VK_ESCAPE, mrOk},
                        {{mbYes, mbNo}, 0, mrNo},
                        {{mbYes, mbNo, mbCancel}, VK_RETURN, mrYes},
                        {{mbAbort, mbRetry, mbIgnore}, VK_RETURN, mrAbort}};
  for (const Case& c : cases) {
    Script({[&] {
      if (!widgets_->DialogOpen()) return false;
      HWND dialog = widgets_->DialogWindow();
      if (c.Key == 0) {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        // The key goes to the button that has the focus, as typed.
        HWND target = GetFocus();
        if (target == nullptr || !IsChild(dialog, target)) target = Children(dialog).back();
        PostMessageA(target, WM_KEYDOWN, c.Key, 1);
      }
      return true;
    }},
           nullptr);
    EXPECT_EQ(c.Expected, MessageDlg("Taste", mtConfirmation, c.Buttons)) << "key " << c.Key;
    EXPECT_TRUE(ScriptDone());
  }
}

TEST_F(DialogsTest, DialogOverAModalFormDisablesItAndGivesTheFocusBack) {
  auto* form = app_->CreateForm<TForm>("Owner");
  form->SetBounds(100, 100, 300, 200);
  auto* edit = form->Add<TEdit>("Edit");
  edit->SetBounds(10, 10, 100, 21);
  bool formEnabledDuringDialog = true, hostEnabledDuringDialog = true;
  HWND focusBefore = nullptr, focusAfter = nullptr;
  Script({[&] {
            SetFocus(widgets_->WindowOf(*edit));
            focusBefore = GetFocus();
            return true;
          },
          [&] {
            // A handler of the form asks something.
            MessageDlg("Sicher?", mtConfirmation, {mbYes, mbNo});
            focusAfter = GetFocus();
            form->SetModalResult(mrOk);
            return true;
          }},
         form);
  // The nested dialog is answered from a timer of its own: the script's
  // second step waits inside the dialog.
  gAnswering = widgets_.get();
  gFormEnabled = &formEnabledDuringDialog;
  gHostEnabled = &hostEnabledDuringDialog;
  gHostWindow = host_;
  form->OnShow = [&](TObject*) { gFormWindow = widgets_->WindowOf(*form); };
  SetTimer(nullptr, 0, 40, AnswerNestedDialog);
  EXPECT_EQ(mrOk, form->ShowModal());
  EXPECT_FALSE(formEnabledDuringDialog);
  EXPECT_FALSE(hostEnabledDuringDialog);
  EXPECT_NE(nullptr, focusBefore);
  EXPECT_EQ(focusBefore, focusAfter);
  EXPECT_TRUE(IsWindowEnabled(host_));
}

}  // namespace
}  // namespace planora::test
