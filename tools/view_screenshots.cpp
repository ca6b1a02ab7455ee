// Makes the README's pictures of the straightening view: the sample photo
// with a corner being dragged (the loupe showing), and the view with its
// live preview of the object alone after the drag. Run under a real (virtual) display, such as
//   xvfb-run -a -s "-screen 0 1400x900x24" planora-view-screenshots docs/
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>

#include <iostream>

#include "apps/planora/view/straighten_window.h"

using namespace planora;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: planora-view-screenshots PHOTO FOLDER\n";
    return 2;
  }
  TStraightenWindow w;
  w.Interactive = false;
  w.resize(1280, 760);
  w.show();
  if (!w.OpenPhoto(argv[1])) return 1;
  QElapsedTimer t;
  t.start();
  while (w.Loading() && t.elapsed() < 60000) QTest::qWait(50);
  if (!w.HasPhoto()) return 1;
  QTest::qWait(300);
  TPhotoCanvas* c = w.Canvas();
  // Corner b (upper left), a little off its place, dragged towards it.
  const TCorners start = c->Corners();
  TCorners off = start;
  off[1] += QPointF(-14, 9);
  w.SetCornersUndoable(off, "Move Corner");
  QTest::qWait(200);
  const QPoint from = c->ToScreen(off[1]).toPoint();
  QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, from);
  const QPoint to = c->ToScreen(start[1]).toPoint() + QPoint(-2, 1);
  for (int i = 1; i <= 10; ++i) {
    QTest::mouseMove(c, from + (to - from) * i / 10);
    QTest::qWait(20);
  }
  QTest::qWait(300);
  const QString folder = argv[2];
  bool ok = w.grab().save(folder + "/straighten-view-loupe.png");
  QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, to);
  w.SetCornersUndoable(start, "Move Corner");
  TStraightenOptions o = w.Options();
  o.ObjectFrame = true;
  w.SetOptions(o);
  QTest::qWait(300);
  ok = w.grab().save(folder + "/straighten-view-preview.png") && ok;
  return ok ? 0 : 1;
}
