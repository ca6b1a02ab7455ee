// The desktop program's window with the real plug-in library on Qt's
// offscreen platform: a straightened photo that was never saved is not
// lost on Quit or Open without a question.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QtTest>

#include <functional>
#include <memory>

#include "apps/planora/main_window.h"
#include "apps/host/plugin_host.h"
#include "tests/support/qt_box_answer.h"

using namespace planora;

namespace {

using test::TBoxAnswer;

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void AnUnsavedResultIsNotDroppedWithoutAsking() {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("PLANORA_SCRIPT", "Fertigstellen1");
    TMainWindow window(std::make_unique<TPluginLibrary>(PLANORA_TEST_PLUGIN), "");
    window.show();
    QVERIFY(window.OpenPhoto(PLANORA_TEST_PHOTO));
    {
      // "Not Now" keeps the result for later.
      TBoxAnswer later("Save the straightened photo?", "Not Now");
      QVERIFY(window.RunPlugin());
      QVERIFY(later.Answered());
    }
    QVERIFY(window.HasResult());
    QVERIFY(!window.ResultSaved());
    {
      TBoxAnswer keep("has not been saved", "Cancel");
      QVERIFY(!window.close());
      QVERIFY(keep.Answered());
    }
    QVERIFY(window.isVisible());
    {
      TBoxAnswer keep("has not been saved", "Cancel");
      QVERIFY(!window.OpenPhotoAsked(PLANORA_TEST_PHOTO));
      QVERIFY(keep.Answered());
    }
    QVERIFY(window.HasResult());
    {
      TBoxAnswer drop("has not been saved", "Discard");
      QVERIFY(window.OpenPhotoAsked(PLANORA_TEST_PHOTO));
      QVERIFY(drop.Answered());
    }
    QVERIFY(!window.HasResult());
    // Nothing unsaved any more: no question.
    QVERIFY(window.close());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
