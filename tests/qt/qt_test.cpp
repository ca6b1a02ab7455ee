// The Qt backend with real widgets (offscreen in the test run): windows,
// menus, paint boxes, fields, dialogs, the close box and cursors, driven
// through Qt's events as a user and the window system would.
#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/sysutils.h"
#include "qt/qtwidgetset.h"

using namespace planora;

namespace {

// A small window in the style of the program's own.
class TTestForm : public TForm {
 public:
  explicit TTestForm(TApplication* owner) : TForm(owner, "TestForm") {
    SetCaption("Test & Window");
    SetBounds(100, 80, 420, 300);
    Box = Add<TPaintBox>("PaintBox1");
    Box->SetBounds(10, 40, 120, 90);
    Edit = Add<TEdit>("Edit1");
    Edit->SetBounds(10, 10, 80, 21);
    Spin = Add<TSpinEdit>("SpinEdit1");
    Spin->SetBounds(100, 10, 65, 22);
    Spin->SetMinValue(1);
    Spin->SetMaxValue(100);
    Spin->SetValue(90);
    Bar = Add<TProgressBar>("ProgressBar1");
    Bar->SetBounds(180, 12, 200, 16);
    Bar->SetAnchors(akTop | akRight);
    Label = Add<TLabel>("Label1", "x-position");
    Label->SetBounds(140, 140, 0, 0);
    Memo = Add<TMemo>("Memo1");
    Memo->SetBounds(140, 40, 260, 90);
    Memo->SetFont(TFont{"Courier New", -13});
    Memo->SetScrollBars(ssBoth);
    Memo->Add("first");
    Memo->Add("  second");

    File = MainMenu().Add("Datei1", "&File");
    Ok = File->Add("Ok1", "&Done");
    Ok->OnClick = [this](TObject*) { SetModalResult(mrOk); };
    Separator = File->Add("N1", "-");
    Quit = File->Add("Ende1", "&Close");
    Quit->OnClick = [this](TObject*) { Close(); };
    Fail = File->Add("Fail1", "Fail");
    Fail->OnClick = [](TObject*) { throw ERangeError(); };
    Options = MainMenu().Add("Options1", "&Options");
    Radio = Options->Add("Ohne1", "Without Color Interpolation");
    Radio->SetRadioItem(true);
    Radio->OnClick = [](TObject* sender) {
      auto* self = static_cast<TMenuItem*>(sender);
      self->SetChecked(!self->Checked());
    };
    Plain = Options->Add("Plain1", "Plain");
    Plain->OnClick = [this](TObject*) { ++PlainClicks; };
    OnCloseQuery = [this](TObject*, bool& canClose) {
      ++CloseQueries;
      canClose = CloseQueries > RefuseCloses;
    };
    OnClose = [this](TObject*, TCloseAction& action) {
      ++Closes;
      action = CloseAction;
    };
  }

  TPaintBox* Box;
  TEdit* Edit;
  TSpinEdit* Spin;
  TProgressBar* Bar;
  TLabel* Label;
  TMemo* Memo;
  TMenuItem *File, *Ok, *Separator, *Quit, *Fail, *Options, *Radio, *Plain;
  int PlainClicks = 0;
  int CloseQueries = 0;
  int RefuseCloses = 0;
  int Closes = 0;
  TCloseAction CloseAction = caHide;
};

std::string ShiftText(TShiftState s) {
  std::string t;
  const std::pair<TShiftFlag, const char*> names[] = {{ssShift, "S"}, {ssAlt, "A"}, {ssCtrl, "C"}, {ssLeft, "L"},
                                                      {ssRight, "R"}, {ssMiddle, "M"}, {ssDouble, "D"}};
  for (const auto& [flag, name] : names) {
    if (s.Contains(flag)) t += name;
  }
  return t.empty() ? "-" : t;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, modifiers);
  QApplication::sendEvent(w, &e);
}

// Answers the next message box once it is up, from inside its modal loop.
void AnswerNextDialog(std::function<void(QMessageBox*)> answer) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    answer(box);
  });
  poll->start();
}

// Collects the areas a widget repaints.
class TRepaintSpy : public QObject {
 public:
  TRepaintSpy(QWidget* w, QRegion& region) : widget_(w), region_(region) { w->installEventFilter(this); }
  ~TRepaintSpy() override { widget_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) region_ += static_cast<QPaintEvent*>(e)->region();
    return false;
  }

 private:
  QWidget* widget_;
  QRegion& region_;
};

// Clicks the button with this text; a box without one is closed unanswered.
void ClickButton(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons()) {
    if (b->text() == text) return b->click();
  }
  box->reject();
}

}  // namespace

class TQtBackendTest : public QObject {
  Q_OBJECT

 public:
  TQtBackendTest(TQtWidgetSet& widgets, TApplication& app) : ws_(widgets), app_(app) {
    // A modal run that never ends fails its test instead of the whole run.
    watchdog_.setSingleShot(true);
    watchdog_.setInterval(15000);
    QObject::connect(&watchdog_, &QTimer::timeout, [this] {
      stuck_ = true;
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
      if (app_.Owns(form_)) {
        form_->RefuseCloses = 0;
        form_->SetModalResult(mrAbort);
      }
    });
  }

 private slots:
  void init() {
    form_ = app_.CreateForm<TTestForm>();
    stuck_ = false;
    watchdog_.start();
  }

  void cleanup() {
    watchdog_.stop();
    QVERIFY2(!stuck_, "a modal loop did not end");
    if (app_.Owns(form_)) app_.DestroyForm(form_);
    app_.SetScreenCursor(crDefault);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void applicationIsMadeOnceAndShared() {
    QVERIFY(ws_.OwnsApplication());
    QCOMPARE(&ws_.App(), qApp);
    TQtWidgetSet second;
    QVERIFY(!second.OwnsApplication());
    QCOMPARE(&second.App(), &ws_.App());
  }

  void noDisplayIsAnErrorNotAnAbort() {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(name);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--without-display"});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 3);
    QVERIFY(child.readAllStandardOutput().contains("No display"));
  }

  void windowTakesCaptionFrameIconsAndCentre() {
    form_->SetBorderIcons(biSystemMenu | biMinimize);
    form_->SetPosition(poScreenCenter);
    form_->Show();
    QMainWindow* w = ws_.WindowOf(*form_);
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->windowTitle(), QString("Test & Window"));
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);

    // The outer size stays as designed; the client area is what is left
    // inside the system's frame and the menu bar.
    const QMargins frame = w->windowHandle()->frameMargins();
    QCOMPARE(form_->Width(), 420);
    QCOMPARE(form_->Height(), 300);
    QCOMPARE(w->frameGeometry().size(), QSize(420, 300));
    QCOMPARE(form_->FrameExtents().Top, frame.top() + w->menuBar()->height());
    QCOMPARE(form_->FrameExtents().Left, frame.left());
    QCOMPARE(QSize(form_->ClientWidth(), form_->ClientHeight()), w->centralWidget()->size());

    const TRect work = ws_.WorkArea();
    QCOMPARE(form_->Left(), work.Left + (work.Width() - 420) / 2);
    QCOMPARE(form_->Top(), work.Top + (work.Height() - 300) / 2);
    QCOMPARE(w->frameGeometry().topLeft(), QPoint(form_->Left(), form_->Top()));
    QCOMPARE(ws_.WidgetOf(*form_->Edit)->geometry(), QRect(10, 10, 80, 21));

    // Later changes follow through the peer; new flags keep the window up.
    form_->SetCaption("Other");
    QCOMPARE(w->windowTitle(), QString("Other"));
    form_->SetBorderIcons(biSystemMenu | biMinimize | biMaximize);
    QVERIFY(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(w->isVisible());
    form_->SetClientWidth(500);
    QCOMPARE(w->centralWidget()->width(), 500);
  }

  void maximizedWindowCoversWorkAreaAndAnchorsFollow() {
    // Designed 24 pixels from the right edge of the client area (404 wide).
    const int gap = form_->ClientWidth() - (form_->Bar->Left() + form_->Bar->Width());
    QCOMPARE(gap, 24);
    form_->SetWindowState(wsMaximized);
    form_->Show();
    QMainWindow* w = ws_.WindowOf(*form_);
    QVERIFY(w->isMaximized());
    const TRect work = ws_.WorkArea();
    QCOMPARE(QRect(form_->Left(), form_->Top(), form_->Width(), form_->Height()),
             QRect(work.Left, work.Top, work.Width(), work.Height()));
    QCOMPARE(form_->ClientWidth(), w->centralWidget()->width());
    QCOMPARE(form_->ClientWidth() - (form_->Bar->Left() + form_->Bar->Width()), gap);
    QCOMPARE(ws_.WidgetOf(*form_->Bar)->geometry().right() + 1, form_->ClientWidth() - gap);
    QCOMPARE(form_->Edit->Left(), 10);  // anchored left: stays
  }

  void paintBoxMouseReachesTheEntryPoints() {
    std::vector<std::string> log;
    auto down = [&](const char* what) {
      return [&log, what](TObject*, TMouseButton b, TShiftState s, int x, int y) {
        log.push_back(std::string(what) + " " + std::to_string(b) + " " + ShiftText(s) + " " + std::to_string(x) +
                      "," + std::to_string(y));
      };
    };
    form_->Box->OnMouseDown = down("down");
    form_->Box->OnMouseUp = down("up");
    form_->Box->OnMouseMove = [&](TObject*, TShiftState s, int x, int y) {
      log.push_back("move " + ShiftText(s) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    form_->Show();
    QWidget* box = ws_.WidgetOf(*form_->Box);
    QVERIFY(box->hasMouseTracking());

    SendMouse(box, QEvent::MouseMove, {2, 3}, Qt::NoButton, Qt::NoButton);
    SendMouse(box, QEvent::MouseButtonPress, {5, 7}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    SendMouse(box, QEvent::MouseMove, {-3, 200}, Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
    SendMouse(box, QEvent::MouseButtonRelease, {30, 20}, Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
    SendMouse(box, QEvent::MouseButtonPress, {1, 1}, Qt::RightButton, Qt::RightButton,
              Qt::ControlModifier | Qt::AltModifier);
    SendMouse(box, QEvent::MouseButtonRelease, {1, 1}, Qt::RightButton, Qt::NoButton);
    SendMouse(box, QEvent::MouseButtonPress, {9, 9}, Qt::MiddleButton, Qt::MiddleButton);
    SendMouse(box, QEvent::MouseButtonDblClick, {4, 4}, Qt::LeftButton, Qt::LeftButton);
    const std::vector<std::string> expected = {
        "move - 2,3",    "down 0 SL 5,7", "move SL -3,200", "up 0 S 30,20", "down 1 ACR 1,1",
        "up 1 - 1,1",    "down 2 M 9,9",  "down 0 LD 4,4"};
    QCOMPARE(log, expected);

    // A disabled box hears nothing.
    form_->Box->SetEnabled(false);
    QVERIFY(!box->isEnabled());
    SendMouse(box, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(log.size(), expected.size());
  }

  void paintBoxShowsItsScreenImageAndPaintsWhenAsked() {
    int paints = 0;
    form_->Box->OnPaint = [&](TObject*) {
      ++paints;
      TCanvas& c = form_->Box->Canvas();
      c.Brush.Color = clBlue;
      c.FillRect(TRect{0, 0, form_->Box->Width(), form_->Box->Height()});
    };
    form_->Show();
    QWidget* box = ws_.WidgetOf(*form_->Box);
    QTRY_COMPARE(paints, 1);
    QCOMPARE(box->grab().toImage().pixelColor(3, 3), QColor(0, 0, 255));

    // Drawing shows at once and repaints just the area drawn on; it is not a
    // reason for the program's own paint.
    QRegion repainted;
    TRepaintSpy spy(box, repainted);
    form_->Box->Canvas().Brush.Color = clYellow;
    form_->Box->Canvas().FillRect(TRect{10, 10, 20, 15});
    QTRY_VERIFY(!repainted.isEmpty());
    QVERIFY(repainted.boundingRect().contains(QRect(10, 10, 10, 5)));
    QVERIFY(repainted.boundingRect() != box->rect());
    const QImage shot = box->grab().toImage();
    QCOMPARE(shot.pixelColor(12, 12), QColor(255, 255, 0));
    QCOMPARE(shot.pixelColor(25, 12), QColor(0, 0, 255));
    QCOMPARE(paints, 1);

    // Asking twice before the paint arrives gives one paint.
    form_->Box->Invalidate();
    form_->Box->Invalidate();
    QTRY_COMPARE(paints, 2);
    app_.ProcessMessages();
    QCOMPARE(paints, 2);
    QCOMPARE(box->grab().toImage().pixelColor(12, 12), QColor(0, 0, 255));
  }

  void otherThreadsMayDrawButNotOpenWindows() {
    form_->Show();
    QWidget* box = ws_.WidgetOf(*form_->Box);
    app_.ProcessMessages();
    QRegion repainted;
    TRepaintSpy spy(box, repainted);
    bool refused = false;
    std::thread worker([&] {
      TCanvas& c = form_->Box->Canvas();
      c.Brush.Color = clLime;
      c.FillRect(TRect{0, 0, 8, 8});
      try {
        ws_.MessageDlg("from a worker", "x", mtError, {mbOK});
      } catch (const Exception&) {
        refused = true;
      }
    });
    worker.join();
    QVERIFY(refused);
    QTRY_VERIFY(repainted.contains(QRect(0, 0, 8, 8)));
    QCOMPARE(box->grab().toImage().pixelColor(2, 2), QColor(0, 255, 0));
  }

  void menuCheckMarksSeparatorsAndDisabledItems() {
    form_->Show();
    QMainWindow* w = ws_.WindowOf(*form_);
    QCOMPARE(w->menuBar()->actions().size(), 2);
    QAction* file = ws_.ActionOf(*form_, *form_->File);
    QCOMPARE(file->text(), QString("&File"));
    QVERIFY(file->menu() != nullptr);
    QCOMPARE(file->menu()->actions().size(), 4);
    QVERIFY(ws_.ActionOf(*form_, *form_->Separator)->isSeparator());

    QAction* radio = ws_.ActionOf(*form_, *form_->Radio);
    QVERIFY(radio->isCheckable());
    QVERIFY(radio->actionGroup() && radio->actionGroup()->isExclusive());  // drawn as a radio item
    QVERIFY(!radio->isChecked());
    radio->trigger();
    QVERIFY(form_->Radio->Checked());
    QVERIFY(radio->isChecked());
    radio->trigger();
    QVERIFY(!form_->Radio->Checked());
    QVERIFY(!radio->isChecked());

    // A checked item whose command leaves the mark alone keeps it, although
    // Qt toggles checkable actions by itself.
    form_->Plain->SetChecked(true);
    QAction* plain = ws_.ActionOf(*form_, *form_->Plain);
    QVERIFY(plain->isChecked());
    plain->trigger();
    QCOMPARE(form_->PlainClicks, 1);
    QVERIFY(plain->isChecked());

    form_->Plain->SetEnabled(false);
    QVERIFY(!plain->isEnabled());
    plain->trigger();
    form_->Options->SetEnabled(false);
    form_->Plain->SetEnabled(true);
    form_->Plain->Click();  // under a disabled parent
    QCOMPARE(form_->PlainClicks, 1);
    form_->Options->SetEnabled(true);

    // A command that adds to the menu: the menu is rebuilt under the running
    // command, whose old action goes quiet instead of away.
    TMenuItem* added = nullptr;
    form_->Plain->OnClick = [&](TObject*) { added = form_->Options->Add("Neu1", "New"); };
    QPointer<QAction> old = plain;
    plain->trigger();
    QVERIFY(added != nullptr);
    QAction* fresh = ws_.ActionOf(*form_, *added);
    QVERIFY(fresh != nullptr && fresh != old.data());
    int addedClicks = 0;
    added->OnClick = [&](TObject*) { ++addedClicks; };
    fresh->trigger();
    QCOMPARE(addedClicks, 1);
    if (old) old->trigger();
    QVERIFY(added == form_->Options->Items().back().get());  // nothing added twice
    QCOMPARE(form_->Options->Items().size(), std::size_t{3});
  }

  void typingReachesTheFieldsHandlers() {
    std::vector<std::string> changes;
    form_->Edit->OnChange = [&](TObject*) { changes.push_back(form_->Edit->Text()); };
    form_->Show();
    auto* edit = qobject_cast<QLineEdit*>(ws_.WidgetOf(*form_->Edit));
    QTest::keyClicks(edit, "4.5");
    QCOMPARE(changes, (std::vector<std::string>{"4", "4.", "4.5"}));
    form_->Edit->SetText("abc");
    QCOMPARE(edit->text(), QString("abc"));

    auto* spin = qobject_cast<QSpinBox*>(ws_.WidgetOf(*form_->Spin));
    QCOMPARE(spin->text(), QString("90"));
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(form_->Spin->Value(), 91);
    QCOMPARE(spin->text(), QString("91"));
    // Typed beyond the bounds: read as typed until the field loses the focus.
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, "250");
    QCOMPARE(form_->Spin->Value(), 250);
    // Opening a menu does not leave the field: a menu command reads what was typed.
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(spin, &toMenu);
    QCOMPARE(form_->Spin->Value(), 250);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(spin, &out);
    QCOMPARE(form_->Spin->Value(), 100);
    QCOMPARE(spin->text(), QString("100"));
    QTest::keyClick(spin, Qt::Key_Down);
    QCOMPARE(form_->Spin->Value(), 99);
  }

  void modalRunEndsWhenAHandlerSetsTheModalResult() {
    QWidget* modalDuringRun = nullptr;
    form_->OnShow = [&](TObject*) {
      QTimer::singleShot(0, [&] {
        modalDuringRun = QApplication::activeModalWidget();
        ws_.ActionOf(*form_, *form_->Ok)->trigger();
      });
    };
    const int result = form_->ShowModal();
    QCOMPARE(result, mrOk);
    QCOMPARE(modalDuringRun, static_cast<QWidget*>(ws_.WindowOf(*form_)));
    QVERIFY(!ws_.WindowOf(*form_)->isVisible());
    QCOMPARE(form_->CloseQueries, 1);
    QCOMPARE(form_->Closes, 1);
  }

  void messageDialogIsModalAndAnswered() {
    QString caption, text;
    QStringList buttons;
    bool modal = false;
    AnswerNextDialog([&](QMessageBox* box) {
      caption = box->windowTitle();
      text = box->text();
      modal = box->isModal();
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      ClickButton(box, "&Abbrechen");
    });
    QCOMPARE(MessageDlg("Really?", mtWarning, {mbOK, mbAbort}), mrAbort);
    QCOMPARE(caption, QString("Warnung"));
    QCOMPARE(text, QString("Really?"));
    QVERIFY(modal);
    buttons.sort();
    QCOMPARE(buttons, QStringList({"&Abbrechen", "OK"}));

    // Return takes the default button, Escape the cancelling one.
    AnswerNextDialog([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    QCOMPARE(MessageDlg("Go on?", mtConfirmation, {mbOK, mbAbort}), mrOk);
    AnswerNextDialog([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    QCOMPARE(MessageDlg("Keep?", mtConfirmation, {mbYes, mbNo}), mrNo);
  }

  void closeBoxGoesThroughTheCloseQuestion() {
    form_->RefuseCloses = 1;
    QPointer<QMainWindow> w;
    bool upAfterRefusal = false;
    form_->OnShow = [&](TObject*) {
      w = ws_.WindowOf(*form_);
      QTimer::singleShot(0, [&] {
        w->close();
        QTimer::singleShot(0, [&] {
          upAfterRefusal = w->isVisible();
          w->close();
        });
      });
    };
    QCOMPARE(form_->ShowModal(), mrCancel);
    QVERIFY(upAfterRefusal);
    QCOMPARE(form_->CloseQueries, 2);
    QCOMPARE(form_->Closes, 1);
    QVERIFY(!w->isVisible());

    // Not modal: the close box closes through the same protocol.
    form_->OnShow = nullptr;
    form_->RefuseCloses = 3;
    form_->Show();
    w->close();
    QVERIFY(w->isVisible());
    QCOMPARE(form_->CloseQueries, 3);
    form_->RefuseCloses = 0;
    w->close();
    QVERIFY(!w->isVisible());
    QVERIFY(!form_->Visible());
    QCOMPARE(form_->Closes, 2);
  }

  void exceptionInAHandlerIsShownAndTheWindowGoesOn() {
    QString caption, text;
    AnswerNextDialog([&](QMessageBox* box) {
      caption = box->windowTitle();
      text = box->text();
      ClickButton(box, "OK");
    });
    bool wentOn = false;
    form_->OnShow = [&](TObject*) {
      QTimer::singleShot(0, [&] {
        ws_.ActionOf(*form_, *form_->Fail)->trigger();
        wentOn = ws_.WindowOf(*form_)->isVisible();
        ws_.ActionOf(*form_, *form_->Ok)->trigger();
      });
    };
    QCOMPARE(form_->ShowModal(), mrOk);
    QCOMPARE(caption, QString::fromStdString(app_.Title));
    QCOMPARE(text, QString("Range check error"));
    QVERIFY(wentOn);

    // What no handler's net takes is carried past Qt and raised by the loop.
    form_->Fail->OnClick = [](TObject*) { throw 42; };
    form_->OnShow = [&](TObject*) {
      QTimer::singleShot(0, [&] { ws_.ActionOf(*form_, *form_->Fail)->trigger(); });
    };
    int thrown = 0;
    try {
      form_->ShowModal();
    } catch (int v) {
      thrown = v;
    }
    QCOMPARE(thrown, 42);
  }

  void windowFreedFromItsOwnCommand() {
    form_->CloseAction = caFree;
    form_->Show();
    QPointer<QMainWindow> w = ws_.WindowOf(*form_);
    QPointer<QWidget> box = ws_.WidgetOf(*form_->Box);
    QPointer<QAction> quit = ws_.ActionOf(*form_, *form_->Quit);
    quit->trigger();
    QVERIFY(!app_.Owns(form_));
    QVERIFY(w && !w->isVisible());
    QTRY_VERIFY(!w && !box && !quit);
  }

  void cursorsMap() {
    const std::pair<TCursor, Qt::CursorShape> map[] = {
        {crDefault, Qt::ArrowCursor},         {crCross, Qt::CrossCursor},      {crSizeNESW, Qt::SizeBDiagCursor},
        {crSizeNWSE, Qt::SizeFDiagCursor},    {crSizeAll, Qt::SizeAllCursor},  {crHourGlass, Qt::WaitCursor},
        {crSizeNS, Qt::SizeVerCursor},        {crSizeWE, Qt::SizeHorCursor}};
    for (const auto& [cursor, shape] : map) QCOMPARE(QtCursorShape(cursor), shape);

    form_->Show();
    QWidget* box = ws_.WidgetOf(*form_->Box);
    form_->Box->SetCursor(crSizeNESW);
    QCOMPARE(box->cursor().shape(), Qt::SizeBDiagCursor);
    form_->Box->SetCursor(crDefault);
    QVERIFY(!box->testAttribute(Qt::WA_SetCursor));

    app_.SetScreenCursor(crHourGlass);
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    app_.SetScreenCursor(crSizeAll);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::SizeAllCursor);
    app_.SetScreenCursor(crDefault);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void memoLabelBarAndControlStates() {
    form_->Show();
    auto* memo = qobject_cast<QPlainTextEdit*>(ws_.WidgetOf(*form_->Memo));
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->toPlainText(), QString("first\n  second"));
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    const QFontInfo font(memo->font());
    QVERIFY(font.fixedPitch());
    QCOMPARE(font.pixelSize(), 13);
    form_->Memo->Clear();
    form_->Memo->Add("Version:  2.1.0.0");
    QCOMPARE(memo->toPlainText(), QString("Version:  2.1.0.0"));

    auto* label = qobject_cast<QLabel*>(ws_.WidgetOf(*form_->Label));
    QCOMPARE(label->text(), QString("x-position"));
    QVERIFY(label->width() >= label->sizeHint().width());

    auto* bar = qobject_cast<QProgressBar*>(ws_.WidgetOf(*form_->Bar));
    form_->Bar->SetPosition(40);
    QCOMPARE(bar->value(), 40);
    QCOMPARE(bar->maximum(), 100);

    form_->Edit->SetVisible(false);
    QVERIFY(!ws_.WidgetOf(*form_->Edit)->isVisible());
    form_->Spin->SetEnabled(false);
    QVERIFY(!ws_.WidgetOf(*form_->Spin)->isEnabled());
  }

 private:
  TQtWidgetSet& ws_;
  TApplication& app_;
  TTestForm* form_ = nullptr;
  QTimer watchdog_;
  bool stuck_ = false;
};

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--without-display") {
    try {
      TQtWidgetSet widgets;
    } catch (const Exception& e) {
      std::printf("%s\n", e.what());
      return 3;
    }
    return 0;
  }
  TQtWidgetSet widgets;  // makes the QApplication
  TApplication app(widgets);
  TQtBackendTest test(widgets, app);
  return QTest::qExec(&test, argc, argv);
}

#include "qt_test.moc"
