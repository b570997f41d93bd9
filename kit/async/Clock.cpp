#include "kit/async/Clock.h"

#include <QTimerEvent>

#include <cmath>
#include <limits>

namespace pexil::async {

SystemClock::SystemClock(QObject* parent) : QObject(parent) {}

SystemClock::~SystemClock() = default;

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}

Seconds SystemClock::monotonic() const {
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch());
}

TimerId SystemClock::startTimer(Seconds after, std::function<void()> fire) {
    // Qt counts timers in whole milliseconds; round up so a wait is never shorter than asked.
    const double ms = std::ceil(std::max(0.0, after.count()) * 1000.0);
    const int interval = ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                              : static_cast<int>(ms);
    const int id = QObject::startTimer(std::chrono::milliseconds(interval), Qt::PreciseTimer);
    timers_[id] = std::move(fire);
    return static_cast<TimerId>(id);
}

void SystemClock::cancelTimer(TimerId id) {
    const auto it = timers_.find(static_cast<int>(id));
    if (it == timers_.end()) return;
    killTimer(it->first);
    timers_.erase(it);
}

void SystemClock::timerEvent(QTimerEvent* event) {
    const auto it = timers_.find(event->timerId());
    killTimer(event->timerId());
    if (it == timers_.end()) return;
    auto fire = std::move(it->second);
    timers_.erase(it);
    fire();
}

}  // namespace pexil::async
