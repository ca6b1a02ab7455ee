#include "apps/planora/view/photo_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace planora {

namespace {

constexpr double kMaxZoom = 32;
constexpr double kZoomStep = 1.25;
constexpr double kHandleRadius = 7;
const QColor kGround(58, 58, 58);
const QColor kDark(0, 0, 0);  // opaque: a translucent one turns grey on white paper
const QColor kLight(255, 255, 255, 235);
const QColor kSelected(255, 170, 0);

// Corners round their centre by angle: the outline never crosses itself,
// in whichever order the handles were put.
std::array<int, 4> OutlineOrder(const TCorners& c) {
  const QPointF m = (c[0] + c[1] + c[2] + c[3]) / 4;
  std::array<int, 4> order{0, 1, 2, 3};
  std::stable_sort(order.begin(), order.end(), [&](int i, int j) {
    return std::atan2(c[i].y() - m.y(), c[i].x() - m.x()) < std::atan2(c[j].y() - m.y(), c[j].x() - m.x());
  });
  return order;
}

// A line seen on any ground: a wide dark stroke under a thin light one.
void TwoToneLine(QPainter& p, const QPointF& a, const QPointF& b) {
  p.setPen(QPen(kDark, 3.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(a, b);
  p.setPen(QPen(kLight, 1.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(a, b);
}

}  // namespace

TPhotoCanvas::TPhotoCanvas(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 240);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPhotoCanvas::SetPhoto(std::vector<QImage> levels, QSize photoSize) {
  levels_ = std::move(levels);
  photoSize_ = photoSize;
  dragIndex_ = -1;
  panning_ = false;
  FitToWindow();
}

void TPhotoCanvas::SetCorners(const TCorners& corners) {
  for (int k = 0; k < 4; ++k) corners_[k] = Clamped(corners[k]);
  hasCorners_ = true;
  update();
}

void TPhotoCanvas::ClearCorners() {
  hasCorners_ = false;
  dragIndex_ = -1;
  update();
}

void TPhotoCanvas::SetSelected(int index) {
  selected_ = ((index % 4) + 4) % 4;
  update();
}

QPointF TPhotoCanvas::Clamped(QPointF p) const {
  if (photoSize_.isEmpty()) return p;
  return {std::clamp(p.x(), 0.0, photoSize_.width() - 1.0), std::clamp(p.y(), 0.0, photoSize_.height() - 1.0)};
}

QPointF TPhotoCanvas::ToScreen(QPointF photo) const { return offset_ + (photo + QPointF(0.5, 0.5)) * zoom_; }

QPointF TPhotoCanvas::ToPhoto(QPointF screen) const { return (screen - offset_) / zoom_ - QPointF(0.5, 0.5); }

double TPhotoCanvas::FitZoom() const {
  if (photoSize_.isEmpty()) return 1;
  const double margin = 16;
  return std::max(1e-3, std::min((width() - margin) / photoSize_.width(), (height() - margin) / photoSize_.height()));
}

void TPhotoCanvas::FitToWindow() {
  zoom_ = FitZoom();
  offset_ = QPointF((width() - photoSize_.width() * zoom_) / 2, (height() - photoSize_.height() * zoom_) / 2);
  fitted_ = true;
  backdropValid_ = false;
  update();
}

void TPhotoCanvas::SetZoom(double zoom, QPointF at) {
  zoom = std::clamp(zoom, std::min(FitZoom(), 1.0) / 4, kMaxZoom);
  offset_ = at - (at - offset_) * (zoom / zoom_);
  zoom_ = zoom;
  fitted_ = false;
  backdropValid_ = false;
  update();
}

void TPhotoCanvas::ZoomAt(double factor, QPointF at) { SetZoom(zoom_ * factor, at); }

void TPhotoCanvas::ActualSize() { SetZoom(1.0, QPointF(width() / 2.0, height() / 2.0)); }
void TPhotoCanvas::ZoomIn() { ZoomAt(kZoomStep, QPointF(width() / 2.0, height() / 2.0)); }
void TPhotoCanvas::ZoomOut() { ZoomAt(1 / kZoomStep, QPointF(width() / 2.0, height() / 2.0)); }

void TPhotoCanvas::resizeEvent(QResizeEvent*) {
  if (fitted_) {
    FitToWindow();
  } else {
    backdropValid_ = false;
  }
}

void TPhotoCanvas::DrawBackdrop() {
  backdrop_ = QImage(size(), QImage::Format_RGB32);
  backdrop_.fill(kGround);
  if (levels_.empty() || photoSize_.isEmpty()) {
    backdropValid_ = true;
    return;
  }
  // The smallest copy that still has at least a pixel per screen pixel:
  // smooth scaling then never skips photo pixels.
  const QImage* level = &levels_.front();
  for (const QImage& l : levels_) {
    if (static_cast<double>(l.width()) / photoSize_.width() >= zoom_) level = &l;
  }
  const double s = static_cast<double>(level->width()) / photoSize_.width();
  const QRectF photoOnScreen(offset_, QSizeF(photoSize_) * zoom_);
  const QRectF visible = photoOnScreen.intersected(QRectF(rect()));
  if (!visible.isEmpty()) {
    const QRectF from((visible.topLeft() - offset_) / zoom_ * s, visible.size() / zoom_ * s);
    QPainter p(&backdrop_);
    // Enlarged beyond 100 % the pixels stay pixels: corners go on them.
    p.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 2);
    p.drawImage(visible, *level, from);
  }
  backdropValid_ = true;
}

QRect TPhotoCanvas::LoupeRect() const {
  if (dragIndex_ < 0) return {};
  const QPointF c = ToScreen(corners_[dragIndex_]);
  const int n = kLoupeSize, gap = 28;
  // Beside the corner, never on it: up and left first, where the hand
  // holding the mouse least often looks; then the other three sides.
  const QPoint tries[4] = {QPoint(int(c.x()) - gap - n, int(c.y()) - gap - n), QPoint(int(c.x()) + gap, int(c.y()) - gap - n),
                           QPoint(int(c.x()) - gap - n, int(c.y()) + gap), QPoint(int(c.x()) + gap, int(c.y()) + gap)};
  for (const QPoint& t : tries) {
    const QRect r(t, QSize(n, n));
    if (rect().contains(r)) return r;
  }
  // A window too small for any of those: the corner of the window farthest from the corner.
  const int x = c.x() < width() / 2.0 ? width() - n : 0;
  const int y = c.y() < height() / 2.0 ? height() - n : 0;
  return QRect(x, y, n, n);
}

void TPhotoCanvas::DrawLoupe(QPainter& p) {
  const QRect r = LoupeRect();
  p.fillRect(r, kGround);
  if (!levels_.empty()) {
    // The photo's own pixels, magnified without smoothing, centred on the corner.
    const QImage& full = levels_.front();
    const double s = static_cast<double>(full.width()) / photoSize_.width();
    const double span = static_cast<double>(kLoupeSize) / kLoupeZoom;
    const QPointF c = (corners_[dragIndex_] + QPointF(0.5, 0.5)) * s;
    const QRectF from(c.x() - span * s / 2, c.y() - span * s / 2, span * s, span * s);
    p.save();
    p.setClipRect(r);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRectF(r), full, from);
    p.restore();
  }
  const QPointF m = QRectF(r).center();
  p.setRenderHint(QPainter::Antialiasing, false);
  for (const auto& [a, b] : {std::pair{QPointF(r.left(), m.y()), QPointF(m.x() - 5, m.y())},
                             std::pair{QPointF(m.x() + 5, m.y()), QPointF(r.right(), m.y())},
                             std::pair{QPointF(m.x(), r.top()), QPointF(m.x(), m.y() - 5)},
                             std::pair{QPointF(m.x(), m.y() + 5), QPointF(m.x(), r.bottom())}}) {
    TwoToneLine(p, a, b);
  }
  p.setPen(QPen(kDark, 3));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(1, 1, -2, -2));
  p.setPen(QPen(kLight, 1));
  p.drawRect(r.adjusted(1, 1, -2, -2));
}

void TPhotoCanvas::paintEvent(QPaintEvent*) {
  if (!backdropValid_ || backdrop_.size() != size()) DrawBackdrop();
  QPainter p(this);
  p.drawImage(0, 0, backdrop_);
  if (levels_.empty()) {
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, "Open a photo with File \u25B8 Open, or drop one here");
    return;
  }
  if (!hasCorners_) return;
  p.setRenderHint(QPainter::Antialiasing);
  const std::array<int, 4> order = OutlineOrder(corners_);
  QPolygonF outline;
  for (int k : order) outline << ToScreen(corners_[k]);
  outline << outline.front();
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kDark, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(outline);
  p.setPen(QPen(kLight, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(outline);
  for (int k = 0; k < 4; ++k) {
    const QPointF c = ToScreen(corners_[k]);
    // A ring, open in the middle so that the corner's pixel stays visible,
    // with a dot on the exact point.
    const double r = k == selected_ ? kHandleRadius + 1.5 : kHandleRadius;
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kDark, 4.0));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(k == selected_ ? kSelected : kLight, k == selected_ ? 2.5 : 1.6));
    p.drawEllipse(c, r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(kDark);
    p.drawEllipse(c, 1.8, 1.8);
    p.setBrush(k == selected_ ? kSelected : kLight);
    p.drawEllipse(c, 1.0, 1.0);
  }
  if (LoupeVisible()) DrawLoupe(p);
}

int TPhotoCanvas::HandleAt(QPointF screen) const {
  if (!hasCorners_) return -1;
  int best = -1;
  double bestDistance = kHitRadius;
  for (int k = 0; k < 4; ++k) {
    const QPointF d = ToScreen(corners_[k]) - screen;
    const double distance = std::hypot(d.x(), d.y());
    if (distance <= bestDistance) {
      best = k;
      bestDistance = distance;
    }
  }
  return best;
}

void TPhotoCanvas::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0) ZoomAt(std::pow(kZoomStep, steps), event->position());
  event->accept();
}

void TPhotoCanvas::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const QPointF at = event->position();
  const int handle = event->button() == Qt::LeftButton && !spaceHeld_ && editable_ ? HandleAt(at) : -1;
  if (handle >= 0) {
    dragIndex_ = handle;
    selected_ = handle;
    dragStart_ = corners_;
    grab_ = ToScreen(corners_[handle]) - at;
    update();
  } else if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
    panning_ = true;
    panFrom_ = at;
    setCursor(Qt::ClosedHandCursor);
  }
}

void TPhotoCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (dragIndex_ >= 0) {
    corners_[dragIndex_] = Clamped(ToPhoto(at + grab_));
    update();
    if (OnCornersMoving) OnCornersMoving(corners_);
  } else if (panning_) {
    offset_ += at - panFrom_;
    panFrom_ = at;
    fitted_ = false;
    backdropValid_ = false;
    update();
  } else if (!spaceHeld_) {
    setCursor(editable_ && HandleAt(at) >= 0 ? Qt::CrossCursor : Qt::ArrowCursor);
  }
}

void TPhotoCanvas::mouseReleaseEvent(QMouseEvent*) {
  if (dragIndex_ >= 0) {
    dragIndex_ = -1;
    update();
    if (corners_ != dragStart_ && OnCornersEdited) OnCornersEdited(dragStart_, corners_, "Move Corner");
  }
  if (panning_) {
    panning_ = false;
    setCursor(spaceHeld_ ? Qt::OpenHandCursor : Qt::ArrowCursor);
  }
}

void TPhotoCanvas::Nudge(double dx, double dy) {
  if (!hasCorners_ || !editable_ || Dragging()) return;
  const TCorners before = corners_;
  corners_[selected_] = Clamped(corners_[selected_] + QPointF(dx, dy));
  update();
  if (corners_ != before && OnCornersEdited) OnCornersEdited(before, corners_, "Nudge Corner");
}

bool TPhotoCanvas::focusNextPrevChild(bool) {
  // Tab belongs to the corners here, not to the focus chain.
  return false;
}

void TPhotoCanvas::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers m = event->modifiers();
  // One photo pixel; Shift ten; Ctrl a tenth, for the last bit of precision.
  const double step = (m & Qt::ShiftModifier) ? 10.0 : (m & Qt::ControlModifier) ? 0.1 : 1.0;
  switch (event->key()) {
    case Qt::Key_Tab: SetSelected(selected_ + 1); break;
    case Qt::Key_Backtab: SetSelected(selected_ + 3); break;
    case Qt::Key_Left: Nudge(-step, 0); break;
    case Qt::Key_Right: Nudge(step, 0); break;
    case Qt::Key_Up: Nudge(0, -step); break;
    case Qt::Key_Down: Nudge(0, step); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomIn(); break;
    case Qt::Key_Minus: ZoomOut(); break;
    case Qt::Key_0: FitToWindow(); break;
    case Qt::Key_1: ActualSize(); break;
    case Qt::Key_Space:
      if (!event->isAutoRepeat()) {
        spaceHeld_ = true;
        setCursor(Qt::OpenHandCursor);
      }
      break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

void TPhotoCanvas::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    spaceHeld_ = false;
    if (!panning_) setCursor(Qt::ArrowCursor);
    return;
  }
  QWidget::keyReleaseEvent(event);
}

}  // namespace planora
