#include "app/shell/card/CardSpinner.h"

#include "app/shell/card/CardCell.h"

#include <QPainter>

namespace pexil::shell {

CardSpinner::CardSpinner(int size, QWidget* parent) : QWidget(parent) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(83);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
}

void CardSpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintSpinner(p, QRectF(rect()), step_);
}

void CardSpinner::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void CardSpinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace pexil::shell
