// The rectification window on real Qt widgets (offscreen in the test run),
// driven by mouse events, menu actions and dialog clicks as a user would.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "plugin/plgint.h"
#include "qt/qtwidgetset.h"
#include "window/UJPGEntzerren.h"

using namespace planora;

namespace {

// The host: a 600 x 400 picture of stripes and squares; a result it keeps.
struct Host {
  static inline bool takeImage = true;
  static inline std::vector<std::uint8_t> result;
  static inline std::string ini;
  static std::int32_t PLANORA_STDCALL GetImage(TPluginBitmap* b) {
    for (int y = 0; y < b->Height; ++y)
      for (int x = 0; x < b->Width; ++x)
        for (int c = 0; c < 3; ++c)
          b->Bits[y * b->BytesPerRow + 3 * x + c] = static_cast<std::uint8_t>((x / 25 + y / 25) % 2 ? 40 + c * 60 : 220 - c * 30);
    return 1;
  }
  static std::int32_t PLANORA_STDCALL PutImage(TPluginBitmap* b) {
    if (!takeImage) return 0;
    result.assign(b->Bits, b->Bits + b->BytesPerRow * b->Height);
    return 1;
  }
  static const char* PLANORA_STDCALL IniFile(char*, std::int32_t) { return ini.c_str(); }
};

// Clicks the button of the next message box once it is up; records its text.
void AnswerNextBox(const QString& button, QString* text) {
  QTimer::singleShot(20, [button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      AnswerNextBox(button, text);
      return;
    }
    if (text) *text = box->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == button) b->click();
  });
}

}  // namespace

class TQtWindowTest : public QObject {
  Q_OBJECT

 private:
  TQtWidgetSet* ws_ = nullptr;
  TApplication* app_ = nullptr;
  TFEntzerren* form_ = nullptr;
  QTemporaryDir dir_;

  std::vector<std::function<void()>> steps_;
  std::size_t step_ = 0;

  // Each step waits, as a user would, until the window is open and not busy.
  void NextStep() {
    if (step_ >= steps_.size()) return;
    QTimer::singleShot(30, this, [this] {
      if (form_->Visible() && app_->ScreenCursor() == crDefault && !form_->Running()) steps_[step_++]();
      NextStep();
    });
  }

  // Opens the window; the steps run one after another from its event loop.
  void Run(std::vector<std::function<void()>> steps) {
    form_ = app_->CreateForm<TFEntzerren>();
    steps_ = std::move(steps);
    step_ = 0;
    NextStep();
    // A watchdog: a window left open fails the test instead of hanging it.
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [this, &timedOut] {
      timedOut = true;
      form_->PreviewShown = false;
      form_->Close();
    });
    watchdog.start(30000);
    form_->ShowModal();
    QVERIFY2(!timedOut, "the window did not close");
  }
  QWidget* Widget(TControl* c) { return ws_->WidgetOf(*c); }
  QAction* Action(TMenuItem* m) { return ws_->ActionOf(*form_, *m); }

 private slots:
  void initTestCase() {
    ws_ = new TQtWidgetSet();
    app_ = new TApplication(*ws_);
    Host::ini = (dir_.path() + "/planora.ini").toStdString();
  }
  void cleanupTestCase() {
    delete app_;
    delete ws_;
  }
  void init() {
    std::memset(&HostRecord, 0, sizeof HostRecord);
    HostRecord.ImageRect = {0, 0, 600, 400};
    HostRecord.GetImage = &Host::GetImage;
    HostRecord.PutImage = &Host::PutImage;
    HostRecord.GetIniFileName = &Host::IniFile;
    Host::takeImage = true;
    Host::result.clear();
    PluginErrorMessage = UnableToProcessMessage;
    QFile::remove(QString::fromStdString(Host::ini));
  }

  void dragPreviewToggleAndCloseQuestion() {
    QString before, question1, question2;
    TPoint from{}, to{};
    bool previewFilled = false, checked[2] = {};
    QString xField, yField;
    double worldX = 0, worldY = 0;
    Run({
        [&] {
          // Drag corner a of the marker 30 pixels left and 20 down with the left button.
          QWidget* pane = Widget(form_->PaintBox1);
          from = form_->PictureSurface->Corners[0];
          QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(from.X, from.Y));
          QTest::mouseMove(pane, QPoint(from.X - 15, from.Y + 10));
          QTest::mouseMove(pane, QPoint(from.X - 30, from.Y + 20));
          xField = qobject_cast<QLineEdit*>(Widget(form_->Edit1))->text();
          yField = qobject_cast<QLineEdit*>(Widget(form_->Edit2))->text();
          form_->PictureSurface->PixelToWorld(from.X - 30, from.Y + 20, worldX, worldY, 1);
          QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(from.X - 30, from.Y + 20));
          to = form_->PictureSurface->Corners[0];
        },
        [&] {
          before = QString::fromStdString(form_->Edit3->Text());
          Action(form_->Vorschau1)->trigger();
          const QImage right = Widget(form_->PaintBox2)->grab().toImage();
          previewFilled = right.pixelColor(right.width() / 2, right.height() / 2) != QColor(Qt::white);
        },
        [&] {
          Action(form_->OhneFarbinterpolation1)->trigger();
          checked[0] = Action(form_->OhneFarbinterpolation1)->isChecked();
          Action(form_->OhneFarbinterpolation1)->trigger();
          checked[1] = Action(form_->OhneFarbinterpolation1)->isChecked();
        },
        [&] {
          // After a preview the close box asks; Abort keeps the window.
          AnswerNextBox("&Abbrechen", &question1);
          ws_->WindowOf(*form_)->close();
        },
        [&] {
          QVERIFY(ws_->WindowOf(*form_)->isVisible());
          AnswerNextBox("OK", &question2);
          ws_->WindowOf(*form_)->close();
        },
    });
    QCOMPARE(to.X, from.X - 30);
    QCOMPARE(to.Y, from.Y + 20);
    // The read-outs follow the pointer in world units (picture pixels from the centre).
    QVERIFY2(std::abs(xField.toDouble() - worldX) < 1.5, qPrintable(xField));
    QVERIFY2(std::abs(yField.toDouble() - worldY) < 1.5, qPrintable(yField));
    QVERIFY(previewFilled);
    QVERIFY(checked[0]);
    QVERIFY(!checked[1]);
    QCOMPARE(question1, QString("Finish without result for Pictoria?"));
    QCOMPARE(question2, QString("Finish without result for Pictoria?"));
    QCOMPARE(int(ResultCode), 0);
  }

  void prettyPrintDeliversAndARefusalKeepsTheWindow() {
    QString refusal;
    bool stillOpen = false;
    Host::takeImage = false;
    Run({
        [&] {
          // The host refuses: the handler's exception is shown and the window goes on.
          AnswerNextBox("OK", &refusal);
          Action(form_->Fertigstellen1)->trigger();
        },
        [&] {
          stillOpen = ws_->WindowOf(*form_)->isVisible();
          Host::takeImage = true;
          Action(form_->Fertigstellen1)->trigger();  // accepted: the window closes by itself
        },
    });
    QCOMPARE(refusal, QString("Unable to process the plugin !"));
    QVERIFY(stillOpen);
    QCOMPARE(int(ResultCode), 1);
    QVERIFY(Host::result.size() >= 600u * 400u * 3u);
  }
};

QTEST_MAIN(TQtWindowTest)
#include "qt_window_test.moc"
