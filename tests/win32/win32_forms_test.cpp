// Windows of the Win32 backend: modal runs with their menus and close
// protocol, the host window during a run, check marks, geometry and anchors,
// exceptions in handlers.
#include "tests/win32/win32_fixture.h"

#include "platform/sysutils.h"

namespace planora::test {
namespace {

// The command identifier of item `index` of top-level menu `menu`.
UINT CommandOf(HWND window, int menu, int index) {
  return GetMenuItemID(GetSubMenu(GetMenu(window), menu), index);
}

MENUITEMINFOA ItemInfo(HMENU menu, int position) {
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_STATE;
  GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info);
  return info;
}

class TMenuForm : public TForm {
 public:
  explicit TMenuForm(TApplication* owner) : TForm(owner, "MenuForm") {
    SetCaption("Menu form");
    SetBounds(100, 100, 400, 300);
    File = MainMenu().Add("File", "&File");
    Close1 = File->Add("Close1", "&Close");
    Options = MainMenu().Add("Options", "Options");
    Radio = Options->Add("Radio", "Without Color Interpolation");
    Radio->SetRadioItem(true);
    Separator = Options->Add("Sep", "-");
    Plain = Options->Add("Plain", "Plain");
    Close1->OnClick = [this](TObject*) { Close(); };
    OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
  }
  TMenuItem* File;
  TMenuItem* Close1;
  TMenuItem* Options;
  TMenuItem* Radio;
  TMenuItem* Separator;
  TMenuItem* Plain;
};

using FormsTest = Win32Test;

TEST_F(FormsTest, MenuCommandClosesAndFreesModalFormWhileHostWaitsDisabled) {
  auto* form = app_->CreateForm<TMenuForm>();
  bool destroyed = false;
  form->OnDestroy = [&](TObject*) { destroyed = true; };
  HWND window = nullptr;
  bool hostEnabledDuringRun = true;
  Script({[&] {
            window = widgets_->WindowOf(*form);
            hostEnabledDuringRun = IsWindowEnabled(host_) != FALSE;
            // As the user chooses File/Close: the command frees the window
            // from inside one of its own messages.
            PostMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
            return true;
          }},
         form);
  const int result = form->ShowModal();
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(mrCancel, result);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(app_->Owns(form));
  EXPECT_FALSE(hostEnabledDuringRun);
  EXPECT_TRUE(IsWindowEnabled(host_));
  EXPECT_EQ(host_, GetActiveWindow());
  ASSERT_NE(nullptr, window);
  EXPECT_FALSE(IsWindowVisible(window));
  // The window itself goes once the message that freed it has returned.
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
}

TEST_F(FormsTest, FormFreedInsideItsOwnMenuCommandGoesAfterTheCommand) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->SetColor(clYellow);
  form->Show();
  HWND window = widgets_->WindowOf(*form);
  ASSERT_TRUE(PumpUntil([&] {
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, 390, 5);
    ReleaseDC(window, dc);
    return c == RGB(255, 255, 0);
  }));
  bool destroyed = false;
  form->OnDestroy = [&](TObject*) { destroyed = true; };
  // Not modal: the close action frees the window inside the command.
  SendMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(app_->Owns(form));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  // Messages still on their way to it find no object.
  SendMessageA(window, WM_CLOSE, 0, 0);
  SendMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
}

TEST_F(FormsTest, ModalFormOverAModalFormGivesItBackWhenItCloses) {
  auto* outer = app_->CreateForm<TMenuForm>();
  TMenuForm* inner = nullptr;
  bool outerEnabledUnderInner = true, hostEnabledUnderInner = true, innerOwnedByOuter = false;
  bool outerActiveAfterInner = false, hostEnabledAfterInner = true;
  outer->Plain->OnClick = [&](TObject*) {
    inner = app_->CreateForm<TMenuForm>();
    inner->ShowModal();
    outerActiveAfterInner = GetActiveWindow() == widgets_->WindowOf(*outer);
    hostEnabledAfterInner = IsWindowEnabled(host_) != FALSE;
  };
  Script({[&] {
            HWND window = widgets_->WindowOf(*outer);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 1, 2), 0);
            return true;
          },
          [&] {
            if (inner == nullptr || !inner->Visible()) return false;
            HWND window = widgets_->WindowOf(*inner);
            outerEnabledUnderInner = IsWindowEnabled(widgets_->WindowOf(*outer)) != FALSE;
            hostEnabledUnderInner = IsWindowEnabled(host_) != FALSE;
            innerOwnedByOuter = GetWindow(window, GW_OWNER) == widgets_->WindowOf(*outer);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
            return true;
          },
          [&] {
            if (app_->Owns(inner)) return false;
            HWND window = widgets_->WindowOf(*outer);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
            return true;
          }},
         outer);
  EXPECT_EQ(mrCancel, outer->ShowModal());
  EXPECT_TRUE(ScriptDone());
  EXPECT_FALSE(outerEnabledUnderInner);
  EXPECT_FALSE(hostEnabledUnderInner);
  EXPECT_TRUE(innerOwnedByOuter);
  EXPECT_TRUE(outerActiveAfterInner);
  EXPECT_FALSE(hostEnabledAfterInner);
  EXPECT_TRUE(IsWindowEnabled(host_));
  EXPECT_EQ(host_, GetActiveWindow());
}

TEST_F(FormsTest, CloseBoxAsksTheCloseProtocol) {
  auto* form = app_->CreateForm<TMenuForm>();
  int questions = 0;
  form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++questions > 1; };
  bool stillShownAfterRefusal = false;
  Script({[&] {
            PostMessageA(widgets_->WindowOf(*form), WM_CLOSE, 0, 0);
            return true;
          },
          [&] {
            if (questions < 1) return false;
            stillShownAfterRefusal = IsWindowVisible(widgets_->WindowOf(*form)) != FALSE;
            PostMessageA(widgets_->WindowOf(*form), WM_CLOSE, 0, 0);
            return true;
          }},
         form);
  EXPECT_EQ(mrCancel, form->ShowModal());
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(2, questions);
  EXPECT_TRUE(stillShownAfterRefusal);
  EXPECT_FALSE(app_->Owns(form));
}

TEST_F(FormsTest, MenuShowsCheckMarksRadioBulletsSeparatorsAndEnabledStates) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->Radio->SetChecked(true);
  form->Plain->SetEnabled(false);
  form->Show();
  HWND window = widgets_->WindowOf(*form);
  HMENU options = GetSubMenu(GetMenu(window), 1);
  ASSERT_NE(nullptr, options);
  EXPECT_EQ(3, GetMenuItemCount(options));

  MENUITEMINFOA radio = ItemInfo(options, 0);
  EXPECT_TRUE(radio.fType & MFT_RADIOCHECK);
  EXPECT_TRUE(radio.fState & MFS_CHECKED);
  EXPECT_TRUE(ItemInfo(options, 1).fType & MFT_SEPARATOR);
  MENUITEMINFOA plain = ItemInfo(options, 2);
  EXPECT_FALSE(plain.fType & MFT_RADIOCHECK);
  EXPECT_TRUE(plain.fState & MFS_DISABLED);

  // Sync updates the shown menu in place.
  form->Radio->SetChecked(false);
  form->Plain->SetEnabled(true);
  form->Plain->SetChecked(true);
  EXPECT_FALSE(ItemInfo(options, 0).fState & MFS_CHECKED);
  EXPECT_TRUE(ItemInfo(options, 0).fType & MFT_RADIOCHECK);
  EXPECT_FALSE(ItemInfo(options, 2).fState & MFS_DISABLED);
  EXPECT_TRUE(ItemInfo(options, 2).fState & MFS_CHECKED);

  char caption[64] = {};
  GetMenuStringA(GetMenu(window), 0, caption, sizeof caption, MF_BYPOSITION);
  EXPECT_STREQ("&File", caption);

  // A new item rebuilds the menu; commands reach the new item.
  bool added = false;
  form->Options->Add("Added", "Added")->OnClick = [&](TObject*) { added = true; };
  options = GetSubMenu(GetMenu(window), 1);
  EXPECT_EQ(4, GetMenuItemCount(options));
  SendMessageA(window, WM_COMMAND, GetMenuItemID(options, 3), 0);
  EXPECT_TRUE(added);

  // Opening a submenu is its item's click.
  bool opened = false;
  form->Options->OnClick = [&](TObject*) { opened = true; };
  SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(options), MAKELPARAM(1, FALSE));
  EXPECT_TRUE(opened);
  form->Hide();
}

TEST_F(FormsTest, CentredFormReportsItsFrameAndFollowsResizesWithAnchors) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->SetPosition(poScreenCenter);
  auto* right = form->Add<TLabel>("Right", "right");
  right->SetAnchors(akTop | akRight);
  right->SetBounds(300, 10, 60, 15);
  const int distance = form->ClientWidth() - right->Left();
  form->Show();
  HWND window = widgets_->WindowOf(*form);

  const TRect work = widgets_->WorkArea();
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  EXPECT_EQ(400, outer.right - outer.left);
  EXPECT_EQ(300, outer.bottom - outer.top);
  EXPECT_NEAR(work.Left + (work.Width() - 400) / 2, outer.left, 1);
  EXPECT_NEAR(work.Top + (work.Height() - 300) / 2, outer.top, 1);
  EXPECT_EQ(client.right, form->ClientWidth());
  EXPECT_EQ(client.bottom, form->ClientHeight());
  EXPECT_EQ(distance, form->ClientWidth() - right->Left());

  // The user makes the window wider.
  SetWindowPos(window, nullptr, outer.left, outer.top, 520, 330, SWP_NOZORDER);
  GetClientRect(window, &client);
  EXPECT_EQ(520, form->Width());
  EXPECT_EQ(330, form->Height());
  EXPECT_EQ(client.right, form->ClientWidth());
  EXPECT_EQ(distance, form->ClientWidth() - right->Left());
  RECT label;
  GetWindowRect(widgets_->WindowOf(*right), &label);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&label), 2);
  EXPECT_EQ(right->Left(), label.left);
  form->Hide();
}

TEST_F(FormsTest, MaximizedFormWithoutMaximizeBoxKeepsItsDesignBoundsForRestore) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->SetBounds(120, 80, 640, 480);
  form->SetWindowState(wsMaximized);
  form->SetBorderIcons(form->BorderIcons() & ~biMaximize);
  form->Show();
  HWND window = widgets_->WindowOf(*form);
  // Whatever the display sends after the show, the window stays maximized.
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(IsZoomed(window));
  EXPECT_FALSE(GetWindowLongPtrA(window, GWL_STYLE) & WS_MAXIMIZEBOX);
  EXPECT_TRUE(GetWindowLongPtrA(window, GWL_STYLE) & WS_MINIMIZEBOX);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, form->ClientWidth());
  EXPECT_EQ(client.bottom, form->ClientHeight());
  EXPECT_GT(form->ClientWidth(), 640);

  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  EXPECT_EQ(640, placement.rcNormalPosition.right - placement.rcNormalPosition.left);
  EXPECT_EQ(480, placement.rcNormalPosition.bottom - placement.rcNormalPosition.top);

  ShowWindow(window, SW_RESTORE);
  EXPECT_TRUE(PumpUntil([&] { return form->WindowState() == wsNormal; }));
  EXPECT_EQ(640, form->Width());

  // The program maximizes it again: its bounds are the system's.
  form->SetWindowState(wsMaximized);
  EXPECT_TRUE(IsZoomed(window));
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, form->Width());
  EXPECT_EQ(outer.bottom - outer.top, form->Height());
  form->Hide();
}

TEST_F(FormsTest, ExceptionInAHandlerIsShownAndTheRunGoesOn) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->Plain->OnClick = [](TObject*) { throw Exception("Division durch null"); };
  std::string caption, text;
  Script({[&] {
            HWND window = widgets_->WindowOf(*form);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 1, 2), 0);
            return true;
          },
          [&] {
            if (!widgets_->DialogOpen()) return false;
            HWND dialog = widgets_->DialogWindow();
            caption = WindowText(dialog);
            for (HWND child : Children(dialog)) {
              if (WindowText(child) == "Division durch null") text = WindowText(child);
            }
            return widgets_->AnswerOpenDialog(mrOk);
          },
          [&] {
            if (widgets_->DialogOpen()) return false;
            HWND window = widgets_->WindowOf(*form);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 0, 0), 0);
            return true;
          }},
         form);
  EXPECT_EQ(mrCancel, form->ShowModal());
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(app_->Title, caption);
  EXPECT_EQ("Division durch null", text);
}

TEST_F(FormsTest, LastWidgetSetTakesItsWindowClassesAlong) {
  // A host may unload the plug-in and load it again: the classes must then
  // name the new code, so the old registration goes with the widget set.
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  HMODULE module = GetModuleHandleA(nullptr);
  EXPECT_TRUE(GetClassInfoExA(module, "PlanoraForm", &info));
  app_.reset();
  widgets_.reset();
  EXPECT_FALSE(GetClassInfoExA(module, "PlanoraForm", &info));
  EXPECT_FALSE(GetClassInfoExA(module, "PlanoraPaintBox", &info));
  widgets_ = std::make_unique<TWin32WidgetSet>();
  app_ = std::make_unique<TApplication>(*widgets_);
  auto* form = app_->CreateForm<TMenuForm>();
  form->Show();
  EXPECT_TRUE(IsWindowVisible(widgets_->WindowOf(*form)));
}

TEST_F(FormsTest, ForeignExceptionLeavesTheLoopAndTheHostComesBack) {
  auto* form = app_->CreateForm<TMenuForm>();
  form->Plain->OnClick = [](TObject*) { throw 42; };
  Script({[&] {
            HWND window = widgets_->WindowOf(*form);
            PostMessageA(window, WM_COMMAND, CommandOf(window, 1, 2), 0);
            return true;
          }},
         form);
  // Not a std::exception: no handler takes it; it leaves through the modal loop.
  EXPECT_THROW(form->ShowModal(), int);
  EXPECT_FALSE(IsWindowEnabled(host_));
  app_->DestroyForm(form);
  EXPECT_TRUE(IsWindowEnabled(host_));
}

// Answers the dialog the tick opened, from a timer of its own: the dialog's
// loop dispatches it as it dispatches the widget set's tick.
TWin32WidgetSet* gAnswering = nullptr;
int gAnswerCalls = 0;
int* gTicks = nullptr;
int gTicksWhenAnswered = -1;

void CALLBACK AnswerAfterAWhile(HWND, UINT, UINT_PTR timer, DWORD) {
  if (++gAnswerCalls < 5 || !gAnswering->DialogOpen()) return;
  gTicksWhenAnswered = *gTicks;
  gAnswering->AnswerOpenDialog(mrNo);
  KillTimer(nullptr, timer);
}

TEST_F(FormsTest, IdleTickIsNotEnteredAgainInsideItsOwnDialog) {
  int depth = 0, deepest = 0, ticks = 0;
  int answer = mrNone;
  widgets_->SetIdleTick(
      [&] {
        ++ticks;
        deepest = std::max(deepest, ++depth);
        if (ticks == 1) answer = MessageDlg("Frage", mtConfirmation, {mbYes, mbNo});
        --depth;
      },
      10);
  gAnswering = widgets_.get();
  gAnswerCalls = 0;
  gTicks = &ticks;
  SetTimer(nullptr, 0, 30, AnswerAfterAWhile);
  ASSERT_TRUE(PumpUntil([&] { return ticks > 2; }));
  EXPECT_EQ(mrNo, answer);
  EXPECT_EQ(1, gTicksWhenAnswered);
  EXPECT_EQ(1, deepest);
}

}  // namespace
}  // namespace planora::test
