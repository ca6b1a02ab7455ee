// The photo of the straightening view with its four corner handles: zoom
// with the wheel at the pointer, fit and 100 %, pan by dragging empty space
// (or with the space bar held), handles drawn to be seen on any ground, a
// loupe of the photo's own pixels while a handle is dragged, and nudging
// by the keyboard.
//
// Corners are kept in photo pixels (column, row; pixel centres at whole
// numbers), to a fraction of a pixel, always inside the photo: the batch
// tool refuses corners outside it, so the handles cannot be put there.
#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

namespace planora {

using TCorners = std::array<QPointF, 4>;

class TPhotoCanvas : public QWidget {
 public:
  explicit TPhotoCanvas(QWidget* parent = nullptr);

  // The photo as successively halved copies, the first the largest (the
  // full photo, or a quick reduced copy while it loads); photoSize is the
  // full photo's, in whose pixels the corners are. Fits it to the window.
  void SetPhoto(std::vector<QImage> levels, QSize photoSize);
  QSize PhotoSize() const { return photoSize_; }
  const std::vector<QImage>& Levels() const { return levels_; }

  // Without callbacks: the caller's own changes (undo, opening, detection).
  void SetCorners(const TCorners& corners);
  const TCorners& Corners() const { return corners_; }
  bool HasCorners() const { return hasCorners_; }
  void ClearCorners();
  // Off while a photo loads or an export runs: the view still zooms and pans.
  void SetEditable(bool editable) { editable_ = editable; }

  int Selected() const { return selected_; }
  void SetSelected(int index);

  double Zoom() const { return zoom_; }  // screen pixels per photo pixel
  bool Fitted() const { return fitted_; }
  void FitToWindow();
  void ActualSize();  // 100 %: one photo pixel on one screen pixel
  void ZoomIn();
  void ZoomOut();
  // Zooms by `factor` keeping the photo point under `at` where it is.
  void ZoomAt(double factor, QPointF at);

  QPointF ToScreen(QPointF photo) const;
  QPointF ToPhoto(QPointF screen) const;

  bool Dragging() const { return dragIndex_ >= 0; }
  bool LoupeVisible() const { return Dragging(); }
  // Where the loupe is drawn (screen pixels), valid while it is visible.
  QRect LoupeRect() const;

  // Every move of a dragged handle.
  std::function<void(const TCorners&)> OnCornersMoving;
  // A finished edit: a whole drag, or one nudge; `what` names it for the Edit menu.
  std::function<void(const TCorners& before, const TCorners& after, const QString& what)> OnCornersEdited;

  // The loupe's magnification and the hit radius of a handle.
  static constexpr int kLoupeZoom = 8;
  static constexpr int kLoupeSize = 168;   // screen pixels, a square
  static constexpr double kHitRadius = 12;  // screen pixels

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  int HandleAt(QPointF screen) const;
  QPointF Clamped(QPointF photo) const;
  double FitZoom() const;
  void SetZoom(double zoom, QPointF at);
  void Nudge(double dx, double dy);
  void DrawBackdrop();
  void DrawLoupe(QPainter& p);

  std::vector<QImage> levels_;
  QSize photoSize_;
  TCorners corners_{};
  bool hasCorners_ = false;
  bool editable_ = true;
  int selected_ = 0;
  double zoom_ = 1;
  QPointF offset_;  // screen position of the photo's top-left edge
  bool fitted_ = true;
  // The scaled photo for the current zoom and pan: a drag repaints only
  // the handles over it, never rescales the photo.
  QImage backdrop_;
  bool backdropValid_ = false;
  int dragIndex_ = -1;
  QPointF grab_;  // handle minus pointer, screen pixels: the handle does not jump to the pointer
  TCorners dragStart_{};
  bool panning_ = false;
  QPointF panFrom_;
  bool spaceHeld_ = false;
};

}  // namespace planora
