// The controls as Qt widgets: paint boxes, labels, edit and spin fields, the
// progress bar and memos.
#include <QApplication>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSpinBox>
#include <QThread>
#include <climits>
#include <cmath>

#include "qt/qtpeers.h"
#include "qt/qtwidgetset.h"

namespace planora {

namespace {

QString ToQ(const std::string& s) { return QString::fromStdString(s); }

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState shift;
  if (modifiers & Qt::ShiftModifier) shift += ssShift;
  if (modifiers & Qt::ControlModifier) shift += ssCtrl;
  if (modifiers & Qt::AltModifier) shift += ssAlt;
  if (buttons & Qt::LeftButton) shift += ssLeft;
  if (buttons & Qt::RightButton) shift += ssRight;
  if (buttons & Qt::MiddleButton) shift += ssMiddle;
  return shift;
}

bool ButtonOf(Qt::MouseButton qt, TMouseButton& button) {
  switch (qt) {
    case Qt::LeftButton: button = mbLeft; return true;
    case Qt::RightButton: button = mbRight; return true;
    case Qt::MiddleButton: button = mbMiddle; return true;
    default: return false;
  }
}

// Pixel under the pointer; floor, so that fractional positions of scaled
// screens stay in the pixel they lie in, also left of and above the box.
QPoint PixelOf(const QMouseEvent* event) {
  const QPointF p = event->position();
  return QPoint(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
}

const QEvent::Type kDeliverPaint = static_cast<QEvent::Type>(QEvent::registerEventType());

// ---- paint box

class TQtPaintBoxWidget : public QWidget {
 public:
  TQtPaintBoxWidget(TQtWidgetSet& widgets, TPaintBox& box, QWidget* parent)
      : QWidget(parent), widgets_(widgets), box_(&box) {
    // The screen image covers the whole box: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves without a button held drive the hover cursors and read-outs.
    setMouseTracking(true);
  }

  void Detach() { box_ = nullptr; }

  // Part of the screen image changed; a whole-box invalidation also asks for
  // a paint of the program's own.
  void Invalidated(const QRect& area) {
    update(area);
    if (box_ && box_->PaintPending()) SchedulePaint();
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != kDeliverPaint) return QWidget::event(e);
    paintQueued_ = false;
    // As on the desktop: paints go to the shown boxes of shown windows.
    if (box_ && box_->PaintPending() && box_->Visible() && box_->Owner()->Visible()) {
      TPaintBox* box = box_;
      widgets_.Deliver([box] { box->Paint(); });
    }
    return true;
  }

  void paintEvent(QPaintEvent* e) override {
    if (!box_) return;
    QPainter painter(this);
    TBitmap& image = box_->ScreenImage();
    const QRect inside = e->rect() & QRect(0, 0, image.Width(), image.Height());
    if (!inside.isEmpty()) {
      // Nobody draws on the image while it goes to the screen.
      TCanvasLock lock(image.Canvas());
      const QImage view(image.ScanLine(0), image.Width(), image.Height(), image.BytesPerRow(),
                        QImage::Format_BGR888);
      for (const QRect& r : e->region()) painter.drawImage(r & inside, view, r & inside);
    }
    const QRegion outside = QRegion(e->rect()) - QRegion(0, 0, image.Width(), image.Height());
    for (const QRect& r : outside) painter.fillRect(r, palette().window());
    // The image on the screen is what the program drew last; the program's
    // own paint runs as an event of its own, where it may open dialogs.
    if (box_->PaintPending()) SchedulePaint();
  }

  void mousePressEvent(QMouseEvent* e) override { Press(e, false); }
  // Qt's double click is the second press of one.
  void mouseDoubleClickEvent(QMouseEvent* e) override { Press(e, true); }

  void mouseMoveEvent(QMouseEvent* e) override {
    if (!box_) return;
    TPaintBox* box = box_;
    const QPoint p = PixelOf(e);
    const TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    widgets_.Deliver([&] { box->MouseMove(shift, p.x(), p.y()); });
  }

  void mouseReleaseEvent(QMouseEvent* e) override {
    TMouseButton button;
    if (!box_ || !ButtonOf(e->button(), button)) return;
    TPaintBox* box = box_;
    const QPoint p = PixelOf(e);
    const TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    widgets_.Deliver([&] { box->MouseUp(button, shift, p.x(), p.y()); });
  }

 private:
  void Press(QMouseEvent* e, bool doubleClick) {
    TMouseButton button;
    if (!box_ || !ButtonOf(e->button(), button)) return;
    TPaintBox* box = box_;
    const QPoint p = PixelOf(e);
    TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    if (doubleClick) shift += ssDouble;
    widgets_.Deliver([&] { box->MouseDown(button, shift, p.x(), p.y()); });
  }

  void SchedulePaint() {
    if (paintQueued_) return;
    paintQueued_ = true;
    // After the user's input, as the desktop delivers its paints.
    QCoreApplication::postEvent(this, new QEvent(kDeliverPaint), Qt::LowEventPriority);
  }

  TQtWidgetSet& widgets_;
  TPaintBox* box_;
  bool paintQueued_ = false;
};

// ---- edit and spin fields

class TQtEditWidget : public QLineEdit {
 public:
  TQtEditWidget(TQtWidgetSet& widgets, TEdit& edit, QWidget* parent) : QLineEdit(parent), edit_(&edit) {
    connect(this, &QLineEdit::textEdited, this, [this, &widgets](const QString& text) {
      if (TEdit* edit = edit_) widgets.Deliver([&] { edit->UserTyped(text.toStdString()); });
    });
  }
  void Detach() { edit_ = nullptr; }

 private:
  TEdit* edit_;
};

// The field keeps the control's rules: what is typed stays as typed (also
// beyond the bounds) until the field loses the focus, and the arrows step
// through the control. Qt's own range is therefore the whole integer range.
class TQtSpinWidget : public QSpinBox {
 public:
  TQtSpinWidget(TQtWidgetSet& widgets, TSpinEdit& spin, QWidget* parent)
      : QSpinBox(parent), widgets_(widgets), spin_(&spin) {
    setRange(INT_MIN, INT_MAX);
    setLocale(QLocale::c());
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
      if (TSpinEdit* spin = spin_) widgets_.Deliver([&] { spin->UserTyped(text.toStdString()); });
    });
  }
  void Detach() { spin_ = nullptr; }

  QString Text() const { return lineEdit()->text(); }
  void SetText(const QString& text) { lineEdit()->setText(text); }

  void stepBy(int steps) override {
    TSpinEdit* spin = spin_;
    if (!spin) return;
    widgets_.Deliver([&] {
      for (int i = 0; i < std::abs(steps); ++i) steps > 0 ? spin->StepUp() : spin->StepDown();
    });
  }

  QValidator::State validate(QString& input, int& /*pos*/) const override {
    static const QRegularExpression number(QStringLiteral("^\\s*[-+]?\\d+\\s*$"));
    static const QRegularExpression start(QStringLiteral("^\\s*[-+]?\\s*$"));
    if (number.match(input).hasMatch()) return QValidator::Acceptable;
    if (start.match(input).hasMatch()) return QValidator::Intermediate;
    return QValidator::Invalid;
  }

  int valueFromText(const QString& text) const override {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    return ok ? static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)) : 0;
  }

 protected:
  StepEnabled stepEnabled() const override {
    if (!spin_ || !isEnabled()) return StepNone;
    StepEnabled steps = StepNone;
    // Bounds equal: the field has no bounds.
    const bool bounded = spin_->MinValue() != spin_->MaxValue();
    if (!bounded || spin_->Value() < spin_->MaxValue()) steps |= StepUpEnabled;
    if (!bounded || spin_->Value() > spin_->MinValue()) steps |= StepDownEnabled;
    return steps;
  }

  void focusOutEvent(QFocusEvent* e) override {
    // Leaving the field for another control clamps what was typed (first, so
    // that Qt finds a valid number to keep). Opening a menu or switching to
    // another program is not leaving it: a menu command reads the value as typed.
    const bool left = e->reason() != Qt::PopupFocusReason && e->reason() != Qt::ActiveWindowFocusReason;
    if (TSpinEdit* spin = spin_; spin && left) widgets_.Deliver([&] { spin->Exit(); });
    QSpinBox::focusOutEvent(e);
  }

 private:
  TQtWidgetSet& widgets_;
  TSpinEdit* spin_;
};

// ---- peers

class TQtControlPeer : public TPeer {
 public:
  TQtControlPeer(TControl& control, QWidget* widget) : control_(control), widget_(widget) {}
  ~TQtControlPeer() override {
    if (!widget_) return;
    widget_->hide();
    widget_->deleteLater();
  }

  void Sync() override {
    if (!widget_) return;
    // Font and text first: a label's size follows from them.
    const TFont& f = control_.Font();
    if (!fontSet_ || f.Name != font_.Name || f.Height != font_.Height) {
      font_ = f;
      fontSet_ = true;
      widget_->setFont(QtFont(f));
    }
    SyncOwn();
    QRect r(control_.Left(), control_.Top(), control_.Width(), control_.Height());
    if (AutoSize() && (r.width() == 0 || r.height() == 0)) r.setSize(widget_->sizeHint());
    if (widget_->geometry() != r) widget_->setGeometry(r);
    if (widget_->isHidden() == control_.Visible()) widget_->setVisible(control_.Visible());
    if (widget_->isEnabled() != control_.Enabled()) widget_->setEnabled(control_.Enabled());
    if (cursor_ != control_.Cursor()) {
      cursor_ = control_.Cursor();
      if (cursor_ == crDefault) {
        widget_->unsetCursor();
      } else {
        widget_->setCursor(QtCursorShape(cursor_));
      }
    }
  }

  QWidget* Widget() const { return widget_; }

 protected:
  virtual void SyncOwn() {}
  // Labels without a size take the size of their text.
  virtual bool AutoSize() const { return false; }

  TControl& control_;
  QPointer<QWidget> widget_;

 private:
  TCursor cursor_ = crDefault;
  TFont font_;
  bool fontSet_ = false;
};

class TQtPaintBoxPeer : public TQtControlPeer {
 public:
  TQtPaintBoxPeer(TQtWidgetSet& widgets, TPaintBox& box, QWidget* parent)
      : TQtControlPeer(box, new TQtPaintBoxWidget(widgets, box, parent)) {}
  ~TQtPaintBoxPeer() override {
    if (auto* w = Box()) w->Detach();
  }

  void Invalidate(const TRect& area) override {
    const QRect r(area.Left, area.Top, area.Width(), area.Height());
    QPointer<TQtPaintBoxWidget> w = Box();
    if (!w) return;
    if (QThread::currentThread() == w->thread()) {
      w->Invalidated(r);
    } else {
      // Drawn from another thread: the widget is told on its own thread.
      QMetaObject::invokeMethod(
          w, [w, r] { if (w) w->Invalidated(r); }, Qt::QueuedConnection);
    }
  }

 private:
  TQtPaintBoxWidget* Box() const { return static_cast<TQtPaintBoxWidget*>(widget_.data()); }
};

class TQtLabelPeer : public TQtControlPeer {
 public:
  TQtLabelPeer(TLabel& label, QWidget* parent) : TQtControlPeer(label, new QLabel(parent)), label_(label) {
    static_cast<QLabel*>(widget_.data())->setTextFormat(Qt::PlainText);
  }

 protected:
  void SyncOwn() override {
    auto* w = static_cast<QLabel*>(widget_.data());
    const QString text = ToQ(label_.Caption());
    if (w->text() != text) w->setText(text);
  }
  bool AutoSize() const override { return true; }

 private:
  TLabel& label_;
};

class TQtEditPeer : public TQtControlPeer {
 public:
  TQtEditPeer(TQtWidgetSet& widgets, TEdit& edit, QWidget* parent)
      : TQtControlPeer(edit, new TQtEditWidget(widgets, edit, parent)), edit_(edit) {}
  ~TQtEditPeer() override {
    if (widget_) static_cast<TQtEditWidget*>(widget_.data())->Detach();
  }

 protected:
  void SyncOwn() override {
    auto* w = static_cast<QLineEdit*>(widget_.data());
    // What the user just typed is the control's text already: the field is
    // only written when the program changed it, so the caret stays put.
    const QString text = ToQ(edit_.Text());
    if (w->text() != text) w->setText(text);
  }

 private:
  TEdit& edit_;
};

class TQtSpinPeer : public TQtControlPeer {
 public:
  TQtSpinPeer(TQtWidgetSet& widgets, TSpinEdit& spin, QWidget* parent)
      : TQtControlPeer(spin, new TQtSpinWidget(widgets, spin, parent)), spin_(spin) {}
  ~TQtSpinPeer() override {
    if (widget_) static_cast<TQtSpinWidget*>(widget_.data())->Detach();
  }

 protected:
  void SyncOwn() override {
    auto* w = static_cast<TQtSpinWidget*>(widget_.data());
    const QString text = ToQ(spin_.Text());
    if (w->Text() != text) w->SetText(text);
  }

 private:
  TSpinEdit& spin_;
};

class TQtProgressPeer : public TQtControlPeer {
 public:
  TQtProgressPeer(TProgressBar& bar, QWidget* parent)
      : TQtControlPeer(bar, new QProgressBar(parent)), bar_(bar) {
    static_cast<QProgressBar*>(widget_.data())->setTextVisible(false);
  }

 protected:
  void SyncOwn() override {
    auto* w = static_cast<QProgressBar*>(widget_.data());
    const int mx = std::max(bar_.Min(), bar_.Max());
    if (w->minimum() != bar_.Min() || w->maximum() != mx) w->setRange(bar_.Min(), mx);
    if (w->value() != bar_.Position()) w->setValue(bar_.Position());
  }

 private:
  TProgressBar& bar_;
};

class TQtMemoPeer : public TQtControlPeer {
 public:
  TQtMemoPeer(TMemo& memo, QWidget* parent) : TQtControlPeer(memo, new QPlainTextEdit(parent)), memo_(memo) {
    auto* w = static_cast<QPlainTextEdit*>(widget_.data());
    w->setReadOnly(true);
    w->setUndoRedoEnabled(false);
  }

 protected:
  void SyncOwn() override {
    auto* w = static_cast<QPlainTextEdit*>(widget_.data());
    const TScrollStyle s = memo_.ScrollBars();
    const bool horizontal = s == ssHorizontal || s == ssBoth;
    const bool vertical = s == ssVertical || s == ssBoth;
    w->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    w->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // Lines are wrapped only where no horizontal scroll bar could reach their ends.
    w->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    // A memo is filled line by line: one rewrite per line, none when nothing changed.
    const QString text = ToQ(memo_.Text());
    if (text != shown_) {
      shown_ = text;
      w->setPlainText(text);
    }
  }

 private:
  TMemo& memo_;
  QString shown_;
};

}  // namespace

std::unique_ptr<TPeer> MakeControlPeer(TQtWidgetSet& widgets, TControl& control, QWidget* client) {
  if (auto* box = dynamic_cast<TPaintBox*>(&control)) return std::make_unique<TQtPaintBoxPeer>(widgets, *box, client);
  if (auto* spin = dynamic_cast<TSpinEdit*>(&control)) return std::make_unique<TQtSpinPeer>(widgets, *spin, client);
  if (auto* edit = dynamic_cast<TEdit*>(&control)) return std::make_unique<TQtEditPeer>(widgets, *edit, client);
  if (auto* label = dynamic_cast<TLabel*>(&control)) return std::make_unique<TQtLabelPeer>(*label, client);
  if (auto* bar = dynamic_cast<TProgressBar*>(&control)) return std::make_unique<TQtProgressPeer>(*bar, client);
  if (auto* memo = dynamic_cast<TMemo*>(&control)) return std::make_unique<TQtMemoPeer>(*memo, client);
  return nullptr;
}

QWidget* ControlWidget(const TPeer* peer) {
  auto* p = dynamic_cast<const TQtControlPeer*>(peer);
  return p ? p->Widget() : nullptr;
}

}  // namespace planora
