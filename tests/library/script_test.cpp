// PLANORA_SCRIPT as every runner plays it: which step may be taken when,
// modal windows, message boxes, and the close at the end of a script. The
// headless runner of the library is driven through the same calls Execute
// makes.
#include "plugin/library/application.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/headless/headless.h"

namespace planora {
namespace {

TScriptStep Menu(const std::string& name) {
  TScriptStep step;
  step.MenuItem = name;
  return step;
}
TScriptStep Answer(int answer) {
  TScriptStep step;
  step.Answer = answer;
  return step;
}

// A main window with two commands and a close question, and a modal help
// window opened by one of them.
struct TScriptedWindows {
  TForm* main = nullptr;
  std::vector<std::string> log;

  TForm* Make(TApplication& app) {
    main = app.CreateForm<TForm>("Main");
    TMenuItem* file = main->MainMenu().Add("File1", "File");
    TMenuItem* act = file->Add("Action1", "Act");
    TMenuItem* help = file->Add("Help1", "Help");
    act->OnClick = [this](TObject*) { log.push_back("act"); };
    help->OnClick = [this, &app](TObject*) {
      log.push_back("help");
      TForm* h = app.CreateForm<TForm>("Help");
      h->MainMenu().Add("HelpOnly1", "Only here")->OnClick = [this](TObject*) { log.push_back("help-item"); };
      h->OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
      h->ShowModal();
      log.push_back("help closed");
    };
    main->OnCloseQuery = [this](TObject*, bool& canClose) {
      const int answer = MessageDlg("Close?", mtWarning, {mbOK, mbAbort});
      log.push_back(answer == mrOk ? "asked: ok" : "asked: other");
      canClose = answer != mrAbort;
    };
    main->OnClose = [this](TObject*, TCloseAction& a) {
      log.push_back("closed");
      a = caFree;
    };
    return main;
  }
};

TEST(ScriptPlayer, TakesStepsOnlyWhenAUserCould) {
  THeadlessWidgetSet ws;
  TApplication app(ws);
  TScriptedWindows w;
  TForm* main = w.Make(app);
  TScriptPlayer player(app);
  std::vector<std::string> seen;
  const auto kind = [&](bool box) { return player.Next(box).Kind; };

  ws.Post([&] {
    player.Restart({Menu("Help1"), Menu("Action1"), Answer(mrAbort)}, true);
    // Busy windows: nothing but an answer.
    app.SetScreenCursor(crHourGlass);
    EXPECT_EQ(kind(false), TScriptPlayer::skWait);
    app.SetScreenCursor(crDefault);
    // A box the script does not answer next gets its default button.
    TScriptPlayer::TAction a = player.Next(true);
    EXPECT_EQ(a.Kind, TScriptPlayer::skAnswer);
    EXPECT_EQ(a.Answer, mrNone);
    a = player.Next(false);
    ASSERT_EQ(a.Kind, TScriptPlayer::skClick);
    ws.Post([&] {
      // Under the modal help window the main window's menu cannot be chosen.
      EXPECT_EQ(ChoosableMenuItem(app, "Action1"), nullptr);
      EXPECT_NE(ChoosableMenuItem(app, "HelpOnly1"), nullptr);
      EXPECT_EQ(ReachableWindow(app)->Name(), "Help");
      EXPECT_EQ(kind(false), TScriptPlayer::skWait);
      app.Forms().back()->Close();
    });
    a.Item->Click();
    EXPECT_EQ(ChoosableMenuItem(app, "Action1"), main->FindMenuItem("Action1"));
    EXPECT_EQ(kind(false), TScriptPlayer::skClick);
    // An answer waits for its box, then the end of the script closes the window.
    EXPECT_EQ(kind(false), TScriptPlayer::skWait);
    a = player.Next(true);
    EXPECT_EQ(a.Answer, mrAbort);
    a = player.Next(false);
    EXPECT_EQ(a.Kind, TScriptPlayer::skClose);
    EXPECT_EQ(a.Window, main);
    EXPECT_EQ(player.Next(true).Answer, mrOk);  // the close question on the way out
    ws.AnswerDialogs({mrOk});
    main->Close();
  });
  main->ShowModal();
  EXPECT_EQ(player.Next(false).Kind, TScriptPlayer::skIdle);  // everything is closed

  // Without closeWhenDone a used-up script leaves the windows to the user.
  player.Restart({}, false);
  EXPECT_EQ(player.Next(false).Kind, TScriptPlayer::skIdle);
  // Once the run is over, nothing of the script is played (the host's own boxes are not its business).
  player.Restart({Answer(mrOk)}, true);
  player.Stop();
  EXPECT_EQ(player.Next(true).Kind, TScriptPlayer::skIdle);
}

TEST(ScriptPlayer, HeadlessRunsPlayTheScriptAnewAndCloseThroughTheClosePath) {
  ASSERT_EQ(Application, nullptr);
  EnsureApplication();
  TApplication& app = *Application;
  // Steps inside the help window's own loop; a menu item under it is
  // skipped; "close" closes it; the end of the script closes the main window
  // through its close question, answered OK.
  ::setenv("PLANORA_SCRIPT", "Help1;Action1;HelpOnly1;close;Action1", 1);
  for (int run = 0; run < 2; ++run) {
    RestartScript();
    TScriptedWindows w;
    w.Make(app)->ShowModal();
    EXPECT_EQ(w.log, (std::vector<std::string>{"help", "help-item", "help closed", "act", "asked: ok", "closed"}))
        << "run " << run;
    EXPECT_TRUE(app.Forms().empty());
  }
  // No script at all: nothing to do headless, so the window closes as a user's would.
  ::unsetenv("PLANORA_SCRIPT");
  RestartScript();
  TScriptedWindows w;
  w.Make(app)->ShowModal();
  EXPECT_EQ(w.log, (std::vector<std::string>{"asked: ok", "closed"}));
}

}  // namespace
}  // namespace planora
