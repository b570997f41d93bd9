#include "ui/components/ShutterButton.h"

#include <QFocusEvent>
#include <QPainter>

namespace pexil::ui {

ShutterButton::ShutterButton(int size, QWidget* parent)
    : QAbstractButton(parent), size_(size), clock_(new FrameClock(FrameClock::Mode::Real, this)) {
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("シャッター"));
    connect(this, &QAbstractButton::pressed, this, [this] { updateState(); });
    connect(this, &QAbstractButton::released, this, [this] { updateState(); });
    setFrameClock(clock_);
}

void ShutterButton::setFrameClock(FrameClock* clock) {
    if (clock_) disconnect(clock_, &FrameClock::frame, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &FrameClock::frame, this, [this] { onFrame(); });
}

void ShutterButton::setBusy(bool busy) {
    if (busy == isBusy()) return;
    face_.setBusy(busy, clock_->now());
    setAccessibleDescription(busy ? QStringLiteral("撮影中") : QString());
    updateState();
}

void ShutterButton::setShutterEnabled(bool enabled) {
    shutterEnabled_ = enabled;
    updateState();
}

void ShutterButton::updateState() {
    setEnabled(shutterEnabled_ && !isBusy());
    face_.setPressed(isDown(), clock_->now());
    demand_.set(face_.isAnimating(clock_->now()));
    update();
}

void ShutterButton::onFrame() {
    // A shared clock ticks for others too: repaint only while this face moves (and once more).
    const bool animating = face_.isAnimating(clock_->now());
    if (animating || demand_.isHeld()) update();
    demand_.set(animating);
}

void ShutterButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setOpacity(faceOpacity());
    ShutterFace::paint(p, faceRect(), look());
    ring_.paint(p, *this, faceRect(), faceRect().width() / 2);
}

void ShutterButton::focusInEvent(QFocusEvent* event) {
    ring_.focusIn(event->reason());
    QAbstractButton::focusInEvent(event);
}

}  // namespace pexil::ui
