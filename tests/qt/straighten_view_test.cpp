// The desktop program's straightening view, driven through its real widgets
// on Qt's offscreen platform: handles dragged and nudged, the loupe, undo,
// the automatic corners on the bundled sample, Export against the batch
// tool's own output, and the question before unsaved work is dropped.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QtTest>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "apps/planora/view/live_preview.h"
#include "apps/planora/view/straighten_window.h"
#include "engine/camera.h"
#include "tests/support/qt_box_answer.h"

using namespace planora;

namespace {

using test::TBoxAnswer;

// The sample's true corners in photo pixels, from the file it was rendered with.
std::array<QPointF, 4> SampleTruth() {
  std::ifstream json(PLANORA_TEST_SAMPLE_JSON);
  std::stringstream text;
  text << json.rdbuf();
  const std::string j = text.str();
  std::array<QPointF, 4> truth;
  std::size_t at = j.find("\"pixel_corners\"");
  for (int k = 0; k < 4; ++k) {
    at = j.find('[', at) + 1;
    const double x = std::stod(j.substr(at));
    at = j.find(',', at) + 1;
    truth[k] = QPointF(x, std::stod(j.substr(at)));
  }
  return truth;
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Number(double v) { return QString::number(v, 'g', 17); }

}  // namespace

class StraightenViewTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir config_;
  std::unique_ptr<TStraightenWindow> window_;

  // A fresh window on the sample, loaded, its preview drawn.
  TStraightenWindow& Open() {
    window_ = std::make_unique<TStraightenWindow>();
    window_->Interactive = false;
    window_->resize(1100, 700);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qWarning("window not exposed");
    if (!window_->OpenPhoto(PLANORA_TEST_PHOTO)) qFatal("cannot open the sample");
    if (!QTest::qWaitFor([&] { return !window_->Loading(); }, 60000)) qFatal("the sample did not load");
    if (!QTest::qWaitFor([&] { return window_->PreviewCount() > 0; }, 5000)) qWarning("no preview drawn");
    return *window_;
  }

 private slots:
  void initTestCase() {
    // The recent-files list goes to a configuration of the test's own.
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
  }
  void cleanup() {
    if (window_) window_->Interactive = false;
    window_.reset();
  }

  void OpensWithTheAutomaticCornersWithinAPixelOfTheTruth() {
    TStraightenWindow& w = Open();
    QVERIFY(w.HasPhoto());
    QVERIFY(!w.Unsaved());
    QVERIFY(!w.isWindowModified());
    QCOMPARE(w.Canvas()->PhotoSize(), QSize(2048, 1536));
    const auto truth = SampleTruth();
    // The view's order is the marker's; match each truth corner to its nearest.
    for (const QPointF& t : truth) {
      double best = 1e9;
      for (const QPointF& c : w.Canvas()->Corners()) best = std::min(best, std::hypot(c.x() - t.x(), c.y() - t.y()));
      QVERIFY2(best < 1.0, qPrintable(QString("a corner is %1 px from the truth").arg(best)));
    }
    // The read-outs are in place, without a dialog: the sample is 10:7.
    QVERIFY(w.LastPreview().Ok);
    QVERIFY(w.ReadoutText().contains("from the corners"));
    QCOMPARE(std::round(w.LastPreview().Aspect * 100) / 100, 1.43);
    QVERIFY(w.LastPreview().Plausible);
    QVERIFY(w.windowTitle().startsWith("poster.jpg"));
  }

  void DraggingAHandleMovesItsCornerShowsTheLoupeAndUpdatesThePreview() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    const TCorners before = c->Corners();
    const int previews = w.PreviewCount();
    const QImage oldPreview = w.Preview()->grab().toImage();
    // Pressed 9 screen pixels beside the handle: still on it.
    const QPoint handle = c->ToScreen(before[0]).toPoint();
    const QPoint press = handle + QPoint(9, 0);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, press);
    QVERIFY(c->Dragging());
    QCOMPARE(c->Selected(), 0);
    QTest::mouseMove(c, press + QPoint(-30, 25));
    QVERIFY(c->LoupeVisible());
    // The loupe never covers the corner being placed.
    QVERIFY(!c->LoupeRect().contains(c->ToScreen(c->Corners()[0]).toPoint()));
    QVERIFY(c->rect().contains(c->LoupeRect()));
    QVERIFY(QTest::qWaitFor([&] { return w.PreviewCount() > previews; }, 2000));
    // The corner moved with the pointer (not to it: the grab offset stays),
    // by the pointer's move in photo pixels.
    const QPointF moved = c->Corners()[0] - before[0];
    QVERIFY(std::abs(moved.x() - (-30 / c->Zoom())) < 1e-6);
    QVERIFY(std::abs(moved.y() - (25 / c->Zoom())) < 1e-6);
    for (int k = 1; k < 4; ++k) QCOMPARE(c->Corners()[k], before[k]);
    QVERIFY(w.Preview()->grab().toImage() != oldPreview);
    QVERIFY(w.UndoStack()->count() == 0);  // nothing until the drag ends
    QTest::mouseMove(c, press + QPoint(-40, 35));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, press + QPoint(-40, 35));
    QVERIFY(!c->LoupeVisible());
    QVERIFY(!c->Dragging());
    // The whole drag is one step, and it is unsaved work.
    QCOMPARE(w.UndoStack()->count(), 1);
    QCOMPARE(w.UndoAction()->text(), QString("&Undo Move Corner"));
    QVERIFY(w.Unsaved());
    QVERIFY(w.isWindowModified());
  }

  void TheHandlesAndTheLoupeAreDrawnToBeSeen() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    // Each handle's ring has a dark and a light stroke, whatever the photo
    // has under it.
    QImage screen = c->grab().toImage();
    for (const QPointF& corner : c->Corners()) {
      const QPointF at = c->ToScreen(corner);
      int dark = 0, light = 0;
      for (int dy = -10; dy <= 10; ++dy) {
        for (int dx = -10; dx <= 10; ++dx) {
          const int g = qGray(screen.pixel((at + QPointF(dx, dy)).toPoint()));
          dark += g < 40;
          light += g > 215;
        }
      }
      QVERIFY2(dark > 10, qPrintable(QString("dark %1 light %2 at %3,%4").arg(dark).arg(light).arg(at.x()).arg(at.y())));
      QVERIFY(light > 10);
    }
    // The loupe shows the photo's own pixels, 8 times enlarged and centred
    // on the corner being dragged.
    const QImage photo = QImage(PLANORA_TEST_PHOTO).convertToFormat(QImage::Format_RGB32);
    const QPoint p = c->ToScreen(c->Corners()[2]).toPoint();
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(c, p + QPoint(4, -3));
    screen = c->grab().toImage();
    const QRect r = c->LoupeRect();
    const QPointF corner = c->Corners()[2];
    int checked = 0;
    for (const QPoint off : {QPoint(20, 28), QPoint(-36, 44), QPoint(52, -60), QPoint(-70, -17)}) {
      const QPoint q = r.center() + off;
      const QPointF image = corner + QPointF(0.5, 0.5) + QPointF(q - QRectF(r).center()) / TPhotoCanvas::kLoupeZoom;
      const QRgb want = photo.pixel(int(std::floor(image.x())), int(std::floor(image.y())));
      const QRgb got = screen.pixel(q);
      QVERIFY2(std::abs(qRed(want) - qRed(got)) <= 6 && std::abs(qGreen(want) - qGreen(got)) <= 6 &&
                   std::abs(qBlue(want) - qBlue(got)) <= 6,
               qPrintable(QString("loupe pixel %1,%2").arg(off.x()).arg(off.y())));
      ++checked;
    }
    QCOMPARE(checked, 4);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, p + QPoint(4, -3));
  }

  void PressingEmptySpacePansAndMovesNoCorner() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    const TCorners before = c->Corners();
    const QPointF centre = c->ToScreen(QPointF(1024, 768));
    const QPoint from(20, c->height() - 20);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(c, from + QPoint(50, -30));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, from + QPoint(50, -30));
    QCOMPARE(c->Corners(), before);
    QCOMPARE(w.UndoStack()->count(), 0);
    QCOMPARE(c->ToScreen(QPointF(1024, 768)), centre + QPointF(50, -30));
    QVERIFY(!c->Fitted());
  }

  void UndoAndRedoRestoreTheCornersExactly() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    const TCorners start = c->Corners();
    const QPoint p = c->ToScreen(start[2]).toPoint();
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(c, p + QPoint(17, -11));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, p + QPoint(17, -11));
    const TCorners dragged = c->Corners();
    c->setFocus();
    QTest::keyClick(c, Qt::Key_Left, Qt::ShiftModifier);
    const TCorners nudged = c->Corners();
    w.ResetCorners();
    const TCorners reset = c->Corners();
    QCOMPARE(reset, DefaultCorners(QSize(2048, 1536)));
    QCOMPARE(w.UndoStack()->count(), 3);
    QCOMPARE(w.UndoAction()->text(), QString("&Undo Reset Corners"));

    w.UndoAction()->trigger();
    QCOMPARE(c->Corners(), nudged);
    w.UndoAction()->trigger();
    QCOMPARE(c->Corners(), dragged);
    w.UndoAction()->trigger();
    QCOMPARE(c->Corners(), start);
    QVERIFY(!w.Unsaved());  // back where the photo opened
    QCOMPARE(w.RedoAction()->text(), QString("&Redo Move Corner"));
    w.RedoAction()->trigger();
    w.RedoAction()->trigger();
    QCOMPARE(c->Corners(), nudged);
    w.RedoAction()->trigger();
    QCOMPARE(c->Corners(), reset);
    QVERIFY(!w.RedoAction()->isEnabled());
    // The preview follows undo as it follows a drag.
    const int previews = w.PreviewCount();
    w.UndoAction()->trigger();
    QVERIFY(QTest::qWaitFor([&] { return w.PreviewCount() > previews; }, 2000));

    // Automatic detection is a step of its own, and finds the sample again.
    w.DetectCorners();
    QVERIFY(w.Detecting());
    QVERIFY(!w.Export(QDir::temp().filePath("never-written.jpg")));  // the corners are not settled yet
    QVERIFY(QTest::qWaitFor([&] { return !w.Detecting(); }, 60000));
    QCOMPARE(w.UndoAction()->text(), QString("&Undo Find Corners Automatically"));
    for (int k = 0; k < 4; ++k) {
      QVERIFY(std::hypot(c->Corners()[k].x() - start[k].x(), c->Corners()[k].y() - start[k].y()) < 1e-9);
    }
  }

  void TabAndTheArrowKeysNudgeBySteps() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    c->setFocus();
    c->SetSelected(3);
    QTest::keyClick(c, Qt::Key_Tab);
    QCOMPARE(c->Selected(), 0);
    QTest::keyClick(c, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(c->Selected(), 3);
    QTest::keyClick(c, Qt::Key_Tab);
    QTest::keyClick(c, Qt::Key_Tab);
    QCOMPARE(c->Selected(), 1);
    const QPointF p = c->Corners()[1];
    QTest::keyClick(c, Qt::Key_Right);
    QCOMPARE(c->Corners()[1], p + QPointF(1, 0));
    QTest::keyClick(c, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(c->Corners()[1], p + QPointF(1, 10));
    QTest::keyClick(c, Qt::Key_Left, Qt::ControlModifier);
    QTest::keyClick(c, Qt::Key_Up, Qt::ControlModifier);
    QVERIFY(std::abs(c->Corners()[1].x() - (p.x() + 0.9)) < 1e-9);
    QVERIFY(std::abs(c->Corners()[1].y() - (p.y() + 9.9)) < 1e-9);
    QCOMPARE(w.UndoStack()->count(), 4);
    QCOMPARE(w.UndoAction()->text(), QString("&Undo Nudge Corner"));
    // A corner stays on the photo: the batch tool refuses one outside it.
    for (int i = 0; i < 80; ++i) QTest::keyClick(c, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(c->Corners()[1].x(), 0.0);
    const int steps = w.UndoStack()->count();
    QTest::keyClick(c, Qt::Key_Left);  // already at the edge: no step
    QCOMPARE(w.UndoStack()->count(), steps);
  }

  void ZoomKeepsThePointUnderThePointerAndFitsOrShowsActualPixels() {
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    QVERIFY(c->Fitted());
    QVERIFY(c->Zoom() < 0.5);
    const QPointF at(200, 150);
    const QPointF under = c->ToPhoto(at);
    c->ZoomAt(3.0, at);
    QVERIFY(std::hypot(c->ToPhoto(at).x() - under.x(), c->ToPhoto(at).y() - under.y()) < 1e-9);
    c->setFocus();
    QTest::keyClick(c, Qt::Key_1);
    QCOMPARE(c->Zoom(), 1.0);
    QTest::keyClick(c, Qt::Key_Plus);
    QCOMPARE(c->Zoom(), 1.25);
    QTest::keyClick(c, Qt::Key_Minus);
    QCOMPARE(c->Zoom(), 1.0);
    QTest::keyClick(c, Qt::Key_0);
    QVERIFY(c->Fitted());
    // At 8 x a corner is placed on a fraction of a photo pixel by the mouse.
    c->ZoomAt(8.0 / c->Zoom(), c->ToScreen(c->Corners()[0]));
    const QPoint p = c->ToScreen(c->Corners()[0]).toPoint();
    const QPointF before = c->Corners()[0];
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(c, p + QPoint(3, 0));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, p + QPoint(3, 0));
    QVERIFY(std::abs(c->Corners()[0].x() - before.x() - 0.375) < 1e-9);
  }

  void TheOptionsReachThePreviewInPlace() {
    TStraightenWindow& w = Open();
    TStraightenOptions o = w.Options();
    o.AspectText = "a4";
    int previews = w.PreviewCount();
    w.SetOptions(o);
    QVERIFY(QTest::qWaitFor([&] { return w.PreviewCount() > previews; }, 2000));
    QVERIFY(w.ReadoutText().contains("1.414 : 1 \u2248 A4"));
    QVERIFY(w.Unsaved());  // an option changed is work not exported

    o.AspectText.clear();
    o.Focal35mm = 50;
    previews = w.PreviewCount();
    w.SetOptions(o);
    QVERIFY(QTest::qWaitFor([&] { return w.PreviewCount() > previews; }, 2000));
    QCOMPARE(w.LastPreview().FocalSource, std::string("given"));
    QCOMPARE(w.LastPreview().FocalRatio, FocalRatioFrom35mm(50));
    QVERIFY(w.ReadoutText().contains("as given"));

    // Proportions that mean nothing are not taken, nor passed to the export.
    o.Focal35mm.reset();
    o.AspectText = "banana";
    w.SetOptions(o);
    QVERIFY(w.Options().AspectText.empty());
    QVERIFY(ExportBatchOptions("in.jpg", "out.jpg", w.Canvas()->Corners(), w.Options()).Aspect == std::nullopt);
  }

  void ExportWritesTheBatchToolsBytes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("object");
    QTest::addColumn<int>("crop");
    QTest::addColumn<bool>("nearest");
    QTest::addColumn<double>("focal");  // 0: not known
    QTest::addColumn<QString>("aspect");
    QTest::addColumn<int>("quality");
    QTest::newRow("whole photo, JPEG") << "out.jpg" << false << 80 << false << 0.0 << "" << 90;
    QTest::newRow("object, known focal and A4, PNG") << "out.png" << true << 90 << true << 35.0 << "a4" << 95;
  }
  void ExportWritesTheBatchToolsBytes() {
    QFETCH(QString, name);
    QFETCH(bool, object);
    QFETCH(int, crop);
    QFETCH(bool, nearest);
    QFETCH(double, focal);
    QFETCH(QString, aspect);
    QFETCH(int, quality);
    TStraightenWindow& w = Open();
    TPhotoCanvas* c = w.Canvas();
    // Corners off whole pixels, as a drag at some zoom leaves them.
    TCorners corners = c->Corners();
    corners[1] += QPointF(0.3125, -0.7);
    w.SetCornersUndoable(corners, "Move Corner");
    TStraightenOptions o;
    o.ObjectFrame = object;
    o.Crop = crop;
    o.Nearest = nearest;
    if (focal > 0) o.Focal35mm = focal;
    o.AspectText = aspect.toStdString();
    o.Quality = quality;
    w.SetOptions(o);
    QVERIFY(w.Unsaved());

    QTemporaryDir dir;
    const QString ours = dir.filePath(name), theirs = dir.filePath("batch-" + name);
    QVERIFY(w.Export(ours));
    QVERIFY(w.Exporting());
    QVERIFY(!w.Export(ours));  // one export at a time
    // Closed meanwhile: the file is finished first, then the window goes.
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(QTest::qWaitFor([&] { return !w.Exporting(); }, 120000));
    QVERIFY(!w.isVisible());
    QVERIFY2(w.ExportProblem().isEmpty(), qPrintable(w.ExportProblem()));
    QVERIFY(!w.Unsaved());
    QVERIFY(!w.isWindowModified());

    QStringList args;
    QStringList values;
    for (const QPointF& p : c->Corners()) values << Number(p.x()) << Number(p.y());
    args << "--pixel-corners" << values.join(",") << "--crop" << QString::number(crop) << "--quality"
         << QString::number(quality);
    if (object) args << "--frame" << "object";
    if (nearest) args << "--nearest";
    if (focal > 0) args << "--focal-35mm" << Number(focal);
    if (!aspect.isEmpty()) args << "--aspect" << aspect;
    args << PLANORA_TEST_PHOTO << theirs;
    QProcess batch;
    batch.start(PLANORA_TEST_RECTIFY, args);
    QVERIFY(batch.waitForFinished(120000));
    QCOMPARE(batch.exitCode(), 0);
    const QByteArray a = Bytes(ours), b = Bytes(theirs);
    QVERIFY(a.size() > 1000);
    QVERIFY2(a == b, "the view exported other bytes than planora-rectify wrote");
  }

  void TheExportReportsItsProgressInOrderToTheEnd() {
    // What the window's bar is fed: the batch run's resampling steps.
    QTemporaryDir dir;
    TBatchOptions o = ExportBatchOptions(PLANORA_TEST_PHOTO, dir.filePath("out.ppm").toStdString(),
                                         DefaultCorners(QSize(2048, 1536)), TStraightenOptions{});
    std::vector<int> steps;
    o.Progress = [&](int p) { steps.push_back(p); };
    std::ostringstream out, err;
    QCOMPARE(RunBatch(o, out, err, false), kExitOk);
    QVERIFY(steps.size() > 10);
    QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    QCOMPARE(steps.back(), 100);
    QVERIFY(err.str().empty());  // no terminal bar when none was asked for
  }

  void AFailedExportSaysWhyAndKeepsTheWorkUnsaved() {
    TStraightenWindow& w = Open();
    TCorners corners = w.Canvas()->Corners();
    corners[0] += QPointF(-3, 2);
    w.SetCornersUndoable(corners, "Move Corner");
    QTemporaryDir dir;
    const QString target = dir.filePath("no-such-folder/out.jpg");
    QVERIFY(w.Export(target));
    QVERIFY(QTest::qWaitFor([&] { return !w.Exporting(); }, 60000));
    QVERIFY(!w.ExportProblem().isEmpty());
    QVERIFY(!QFile::exists(target));
    QVERIFY(w.Unsaved());
    // Over the photo itself: refused, the photo untouched.
    const QByteArray photo = Bytes(PLANORA_TEST_PHOTO);
    QVERIFY(w.Export(PLANORA_TEST_PHOTO));
    QVERIFY(QTest::qWaitFor([&] { return !w.Exporting(); }, 60000));
    QVERIFY(w.ExportProblem().contains("same file"));
    QCOMPARE(Bytes(PLANORA_TEST_PHOTO), photo);
  }

  void UnsavedWorkIsNotDroppedOnQuitWithoutAsking() {
    TStraightenWindow& w = Open();
    w.Interactive = true;
    TCorners corners = w.Canvas()->Corners();
    corners[3] += QPointF(5, 5);
    w.SetCornersUndoable(corners, "Move Corner");
    {
      TBoxAnswer cancel("not been exported", "Cancel");
      QVERIFY(!w.close());
      QVERIFY(cancel.Answered());
      QVERIFY(w.isVisible());
    }
    {
      TBoxAnswer discard("not been exported", "Discard");
      QVERIFY(w.close());
      QVERIFY(discard.Answered());
    }
    // Undone back to the opened state, nothing is asked.
    TStraightenWindow& again = Open();
    again.Interactive = true;
    again.SetCornersUndoable(corners, "Move Corner");
    again.UndoAction()->trigger();
    QVERIFY(!again.Unsaved());
    QVERIFY(again.close());
  }

  void ABrokenPhotoIsRefusedAndTheOpenOneStays() {
    TStraightenWindow& w = Open();
    const TCorners corners = w.Canvas()->Corners();
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.jpg");
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a photo");
    f.close();
    QVERIFY(w.OpenPhoto(broken));
    QVERIFY(QTest::qWaitFor([&] { return !w.Loading(); }, 10000));
    QCOMPARE(w.PhotoPath(), QString(PLANORA_TEST_PHOTO));
    QCOMPARE(w.Canvas()->Corners(), corners);
    QCOMPARE(w.Canvas()->PhotoSize(), QSize(2048, 1536));
    QVERIFY(!w.OpenPhoto(dir.path()));  // a folder
  }

  void ADroppedPhotoOpensIsRememberedAndIsNotExportedOnceChanged() {
    TStraightenWindow& w = Open();
    QTemporaryDir dir;
    const QString copy = QFileInfo(dir.filePath("copy.jpg")).absoluteFilePath();
    QVERIFY(QFile::copy(PLANORA_TEST_PHOTO, copy));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(copy)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QVERIFY(QTest::qWaitFor([&] { return w.PhotoPath() == copy && !w.Loading(); }, 60000));
    QSettings recent(QSettings::IniFormat, QSettings::UserScope, "planora", "planora-view");
    const QStringList list = recent.value("RecentFiles").toStringList();
    QVERIFY(list.size() >= 2);
    QCOMPARE(list[0], copy);
    QCOMPARE(list[1], QFileInfo(PLANORA_TEST_PHOTO).absoluteFilePath());
    QVERIFY(QFileInfo(recent.fileName()).absoluteFilePath().startsWith(config_.path()));

    // Another picture under the same name: the corners were put on the old one.
    QFile f(copy);
    QVERIFY(f.open(QIODevice::Append));
    f.write("trailing bytes");
    f.close();
    const QString out = dir.filePath("out.jpg");
    QVERIFY(!w.Export(out));
    QVERIFY(!QFile::exists(out));
  }

  void ALargePhotoShowsAQuickCopyAtOnce() {
    QTemporaryDir dir;
    const QString big = dir.filePath("big.jpg");
    QVERIFY(QImage(PLANORA_TEST_PHOTO).scaled(2600, 1950).save(big, "JPEG", 90));
    window_ = std::make_unique<TStraightenWindow>();
    window_->Interactive = false;
    window_->show();
    TPhotoCanvas* c = window_->Canvas();
    QVERIFY(window_->OpenPhoto(big));
    // Before the event loop has run once: the reduced copy is on screen,
    // in the full photo's coordinates, and nothing can be edited yet.
    QVERIFY(window_->Loading());
    QCOMPARE(c->PhotoSize(), QSize(2600, 1950));
    QCOMPARE(c->Levels().size(), std::size_t(1));
    QVERIFY(c->Levels().front().width() <= 1600);
    QVERIFY(!c->HasCorners());
    QVERIFY(!window_->Export(dir.filePath("out.jpg")));
    QVERIFY(QTest::qWaitFor([&] { return !window_->Loading(); }, 60000));
    QCOMPARE(c->Levels().front().size(), QSize(2600, 1950));
    QVERIFY(c->HasCorners());
  }

  void ThePluginsMenuHandsThePhotoToThePluginsWindow() {
    window_ = std::make_unique<TStraightenWindow>();
    QString asked = "not asked";
    window_->OnOpenPluginHost = [&](const QString& photo) { asked = photo; };
    window_->Interactive = false;
    window_->show();
    QVERIFY(window_->OpenPhoto(PLANORA_TEST_PHOTO));
    QVERIFY(QTest::qWaitFor([&] { return !window_->Loading(); }, 60000));
    QAction* item = nullptr;
    for (QAction* menu : window_->menuBar()->actions()) {
      if (menu->text() == "&Plug-ins" && menu->menu() && !menu->menu()->actions().isEmpty())
        item = menu->menu()->actions().front();
    }
    QVERIFY(item != nullptr);
    item->trigger();
    QCOMPARE(asked, QString(PLANORA_TEST_PHOTO));
  }

  void TheLivePreviewSaysWhatIsWrongWithTheCorners() {
    // Without the window: the preview of impossible corners is a message,
    // never an exception or a picture of something else.
    const int W = 400, H = 300;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(W) * H * 3, 128);
    const auto source = MakePreviewSource(pixels.data(), W, H, W * 3, 100);
    QCOMPARE(source->Picture->Width(), 100);
    QCOMPARE(source->Picture->Height(), 75);
    const double same[4][2] = {{10, 10}, {10.2, 10.1}, {50, 200}, {300, 250}};
    TPreviewResult r = RenderPreview(*source, same, {}, 200, 150);
    QVERIFY(!r.Ok);
    QVERIFY(r.Problem.find("on top of each other") != std::string::npos);
    const double line[4][2] = {{10, 10}, {100, 10}, {200, 10}, {300, 10}};
    r = RenderPreview(*source, line, {}, 200, 150);
    QVERIFY(!r.Ok);
    QVERIFY(!r.Image);
    const double square[4][2] = {{350, 50}, {50, 50}, {50, 250}, {350, 250}};
    TPreviewSettings s;
    s.ObjectFrame = true;
    r = RenderPreview(*source, square, s, 200, 150);
    QVERIFY(r.Ok);
    // The object alone at its proportions (3:2 seen square-on), fitted inside the pane.
    QCOMPARE(r.Image->Width(), 200);
    QCOMPARE(r.Image->Height(), 133);
    // 1.499 rather than 1.5: world units span the photo's edges, pixel
    // positions its pixel centres.
    QVERIFY(std::abs(r.Aspect - 1.5) < 0.003);
    QVERIFY(QString::fromStdString(ProportionsText(r.Aspect)).endsWith("\u2248 3:2"));
    QCOMPARE(QString::fromStdString(ProportionsText(210.0 / 297.0)), QString("1 : 1.414 \u2248 A4"));
    QCOMPARE(QString::fromStdString(ProportionsText(1.2)), QString("1.200 : 1"));
  }
};

QTEST_MAIN(StraightenViewTest)
#include "straighten_view_test.moc"
