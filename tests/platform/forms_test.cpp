// Windows, controls and the headless backend, driven as a user would.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "platform/sysutils.h"

using namespace planora;

namespace {

// A small window in the style of the program's own: controls made in the
// constructor, handlers bound by name, a close question.
class TTestForm : public TForm {
 public:
  TTestForm(TApplication* owner, std::vector<std::string>* log) : TForm(owner, "TestForm"), log_(log) {
    Box = Add<TPaintBox>("PaintBox1");
    Box->SetBounds(10, 20, 40, 30);
    Edit = Add<TEdit>("Edit1");
    Spin = Add<TSpinEdit>("SpinEdit1");
    Spin->SetMinValue(1);
    Spin->SetMaxValue(100);
    Bar = Add<TProgressBar>("ProgressBar1");
    File = MainMenu().Add("Datei1", "File");
    Quit = File->Add("Ende1", "Close");
    Quit->OnClick = [this](TObject*) { Close(); };
    Fail = File->Add("Fail1", "Fail");
    Fail->OnClick = [](TObject*) { throw ERangeError(); };
    OnCreate = [this](TObject*) { log_->push_back("create"); };
    OnShow = [this](TObject*) { log_->push_back("show " + std::to_string(ClientWidth())); };
    OnCloseQuery = [this](TObject*, bool& canClose) {
      log_->push_back("query");
      if (AskOnClose) canClose = MessageDlg("Really?", mtWarning, {mbOK, mbAbort}) != mrAbort;
    };
    OnClose = [this](TObject*, TCloseAction& action) {
      log_->push_back("close");
      action = caFree;
    };
    OnDestroy = [this](TObject*) { log_->push_back("destroy"); };
  }

  TPaintBox* Box;
  TEdit* Edit;
  TSpinEdit* Spin;
  TProgressBar* Bar;
  TMenuItem* File;
  TMenuItem* Quit;
  TMenuItem* Fail;
  bool AskOnClose = false;

 private:
  std::vector<std::string>* log_;
};

struct FormsTest : ::testing::Test {
  std::vector<std::string> log;  // outlives the windows, whose destruction writes to it
  THeadlessWidgetSet ws;
  TApplication app{ws};
};

}  // namespace

TEST_F(FormsTest, ModalRunFollowsTheCloseProtocolAndFreesTheWindow) {
  auto* form = app.CreateForm<TTestForm>(&log);
  form->SetWindowState(wsMaximized);
  ws.SetWorkArea(TRect{0, 0, 1280, 984});
  ws.Post([&] { form->Quit->Click(); });
  int result = form->ShowModal();
  EXPECT_EQ(result, mrCancel);
  // Maximized: the work area less the frame (8 pixels a side).
  EXPECT_EQ(log, (std::vector<std::string>{"create", "show 1264", "query", "close", "destroy"}));
  EXPECT_TRUE(app.Forms().empty());
}

TEST_F(FormsTest, CloseQuestionCanKeepTheWindowOpen) {
  auto* form = app.CreateForm<TTestForm>(&log);
  form->AskOnClose = true;
  ws.AnswerDialogs({mrAbort});  // the first question is refused, the second confirmed by default
  ws.Post([&] { form->Close(); });
  ws.Post([&] { form->Close(); });
  form->ShowModal();
  ASSERT_EQ(ws.Dialogs().size(), 2u);
  EXPECT_EQ(ws.Dialogs()[0].Caption, "Warnung");
  EXPECT_EQ(ws.Dialogs()[0].Text, "Really?");
  EXPECT_EQ(ws.Dialogs()[0].Answer, mrAbort);
  EXPECT_EQ(ws.Dialogs()[1].Answer, mrOk);
  EXPECT_EQ(MsgDlgButtonCaption(mbAbort), "&Abbrechen");
  EXPECT_EQ(std::count(log.begin(), log.end(), "query"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 1);
}

TEST_F(FormsTest, ExceptionInAHandlerIsShownAndTheWindowGoesOn) {
  auto* form = app.CreateForm<TTestForm>(&log);
  ws.Post([&] { form->Fail->Click(); });
  ws.Post([&] { log.push_back("still running"); });
  ws.Post([&] { form->Quit->Click(); });
  form->ShowModal();
  ASSERT_EQ(ws.Dialogs().size(), 1u);
  EXPECT_EQ(ws.Dialogs()[0].Text, "Range check error");
  EXPECT_EQ(ws.Dialogs()[0].Type, mtError);
  EXPECT_NE(std::find(log.begin(), log.end(), "still running"), log.end());
}

TEST_F(FormsTest, ModalLoopWithNothingLeftToDoStallsInsteadOfHanging) {
  auto* form = app.CreateForm<TTestForm>(&log);
  EXPECT_THROW(form->ShowModal(), THeadlessStall);
}

TEST_F(FormsTest, PaintsArriveThroughThePaintEventAndHandlersCanBeSwapped) {
  auto* form = app.CreateForm<TTestForm>(&log);
  int paints = 0;
  form->Box->OnPaint = [&](TObject*) {
    ++paints;
    form->Box->Canvas().SetPixel(0, 0, clYellow);
  };
  std::vector<std::string> mouse;
  form->Box->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    mouse.push_back("down " + std::to_string(b) + (s.Contains(ssLeft) ? " L " : " - ") + std::to_string(x) + "," +
                    std::to_string(y));
  };
  form->Box->OnClick = [&](TObject*) { mouse.push_back("click"); };
  ws.Post([&] {
    EXPECT_EQ(paints, 1);  // the first paint came before the first action
    EXPECT_EQ(form->Box->ScreenImage().Pixel(0, 0), clYellow);
    form->Box->MouseDown(mbLeft, {ssLeft}, 3, 4);
    form->Box->MouseUp(mbLeft, {}, 3, 4);
    // A saved handler can be put back later: swap, use, restore.
    TMouseEvent saved = form->Box->OnMouseDown;
    form->Box->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { mouse.push_back("other"); };
    form->Box->MouseDown(mbRight, {ssRight}, 1, 1);
    form->Box->OnMouseDown = saved;
    form->Box->SetEnabled(false);
    form->Box->MouseDown(mbLeft, {ssLeft}, 5, 5);  // disabled: ignored
    form->Box->SetEnabled(true);
    form->Box->Invalidate();
  });
  ws.Post([&] {
    EXPECT_EQ(paints, 2);
    form->Box->Repaint();  // synchronous
    EXPECT_EQ(paints, 3);
    form->Close();
  });
  form->ShowModal();
  EXPECT_EQ(mouse, (std::vector<std::string>{"down 0 L 3,4", "click", "other"}));
}

TEST_F(FormsTest, ProcessMessagesDeliversOnlyWorkQueuedForIt) {
  auto* form = app.CreateForm<TTestForm>(&log);
  std::vector<int> order;
  ws.Post([&] {
    ws.PostDuringWork([&] {
      order.push_back(1);
      ws.PostDuringWork([&] { order.push_back(3); });  // waits for the next call
    });
    for (int i = 0; i < 3; ++i) {
      order.push_back(i == 0 ? 0 : 2 * i);
      app.ProcessMessages();
    }
    form->Close();
  });
  ws.Post([&] { order.push_back(99); });  // never reached: the window closed first
  form->ShowModal();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(ws.ProcessMessagesCalls(), 3);
  EXPECT_EQ(ws.PendingActions(), 1u);
}

TEST(ControlsTest, SpinFieldClampsSetValuesAndTypedValuesOnExit) {
  THeadlessWidgetSet ws;
  TApplication app(ws);
  TForm form(&app, "F");
  auto* spin = form.Add<TSpinEdit>("SpinEdit1");
  spin->SetMinValue(1);
  spin->SetMaxValue(100);
  spin->SetValue(250);
  EXPECT_EQ(spin->Value(), 100);
  spin->SetValue(0);
  EXPECT_EQ(spin->Value(), 1);
  spin->UserTyped("abc");
  EXPECT_EQ(spin->Value(), 1);  // not an integer: reads as the minimum
  spin->UserTyped("250");
  EXPECT_EQ(spin->Value(), 250);  // still being typed
  spin->Exit();
  EXPECT_EQ(spin->Value(), 100);
  EXPECT_EQ(spin->Text(), "100");
  spin->UserTyped(" 42 ");
  spin->Exit();
  EXPECT_EQ(spin->Text(), "42");

  auto* bar = form.Add<TProgressBar>("ProgressBar1");
  bar->SetPosition(150);
  EXPECT_EQ(bar->Position(), 100);
  bar->SetPosition(-3);
  EXPECT_EQ(bar->Position(), 0);
}

TEST(ControlsTest, MenuItemsCheckMarksAndDisabledBranches) {
  THeadlessWidgetSet ws;
  TApplication app(ws);
  TForm form(&app, "F");
  TMenuItem* top = form.MainMenu().Add("Options1", "Options");
  TMenuItem* item = top->Add("Ohne1", "Without");
  item->SetRadioItem(true);
  int clicks = 0;
  item->OnClick = [&](TObject* sender) {
    ++clicks;
    auto* self = static_cast<TMenuItem*>(sender);
    self->SetChecked(!self->Checked());
  };
  item->Click();
  EXPECT_TRUE(item->Checked());
  top->SetEnabled(false);
  item->Click();  // under a disabled parent
  EXPECT_EQ(clicks, 1);
  top->SetEnabled(true);
  item->Click();
  EXPECT_FALSE(item->Checked());
  EXPECT_EQ(form.FindMenuItem("Ohne1"), item);
  EXPECT_TRUE(form.HasMenu());
}

namespace {

TEST_F(FormsTest, ControlsFollowTheirAnchorsWhenTheClientAreaChanges) {
  TForm form(&app, "F");
  auto* fixed = form.Add<TEdit>("Fixed");  // left and top: stays
  fixed->SetBounds(10, 10, 50, 20);
  auto* stretch = form.Add<TPaintBox>("Stretch");  // all four edges: grows with the area
  stretch->SetBounds(10, 40, 200, 100);
  stretch->SetAnchors(akLeft | akTop | akRight | akBottom);
  auto* right = form.Add<TEdit>("Right");  // the far edges: keeps its distance to them
  right->SetBounds(300, 250, 60, 20);
  right->SetAnchors(akRight | akBottom);
  auto* free = form.Add<TEdit>("Free");  // no edge: keeps its centre's share of the area
  free->SetBounds(90, 0, 20, 10);
  free->SetAnchors(0);

  auto bounds = [](const TControl* c) { return TRect{c->Left(), c->Top(), c->Left() + c->Width(), c->Top() + c->Height()}; };
  form.AnchorControls(400, 300, 600, 250);
  EXPECT_EQ(bounds(fixed), (TRect{10, 10, 60, 30}));
  EXPECT_EQ(bounds(stretch), (TRect{10, 40, 410, 90}));
  EXPECT_EQ(bounds(right), (TRect{500, 200, 560, 220}));
  EXPECT_EQ(free->Left(), 140);  // centre 100 of 400 becomes 150 of 600
  EXPECT_EQ(free->Width(), 20);
  // Shrunk below nothing: a size never goes negative.
  form.AnchorControls(600, 250, 100, 50);
  EXPECT_EQ(stretch->Width(), 0);
  EXPECT_EQ(stretch->Height(), 0);
}

}  // namespace
