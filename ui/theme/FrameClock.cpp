#include "ui/theme/FrameClock.h"

#include <QtGlobal>

namespace pexil::ui {

FrameClock::FrameClock(Mode mode, QObject* parent) : QObject(parent), mode_(mode) {
    elapsed_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(16);
    connect(&timer_, &QTimer::timeout, this, [this] { emit frame(now()); });
}

double FrameClock::now() const {
    return mode_ == Mode::Manual ? manualNow_ : double(elapsed_.nsecsElapsed()) / 1e9;
}

void FrameClock::acquire() {
    if (++demand_ == 1 && mode_ == Mode::Real) timer_.start();
}

void FrameClock::release() {
    Q_ASSERT(demand_ > 0);
    if (demand_ > 0 && --demand_ == 0) timer_.stop();
}

void FrameClock::advance(double seconds) {
    Q_ASSERT(mode_ == Mode::Manual);
    manualNow_ += seconds;
    emit frame(manualNow_);
}

}  // namespace pexil::ui
