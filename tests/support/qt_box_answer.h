// Answers a Qt message box as a user would: presses the button with that
// text on the next box whose text contains `about`, whenever it comes up
// (also inside a modal loop). For the tests on real widgets.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

namespace planora::test {

class TBoxAnswer {
 public:
  TBoxAnswer(QString about, QString button) : about_(std::move(about)), button_(std::move(button)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(20);
  }
  bool Answered() const { return answered_; }

 private:
  void Tick() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->text().contains(about_)) return;
    for (QAbstractButton* b : box->buttons()) {
      if (b->text().remove('&') == button_) {
        timer_.stop();
        answered_ = true;
        b->click();
        return;
      }
    }
  }
  QString about_, button_;
  QTimer timer_;
  bool answered_ = false;
};

}  // namespace planora::test
