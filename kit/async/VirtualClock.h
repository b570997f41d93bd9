#pragma once

#include "kit/async/Clock.h"

#include <functional>
#include <map>
#include <utility>

namespace pexil::async {

// A clock for tests: time stands still until the test moves it, and then jumps straight
// to the next timer, so a 45-second watchdog or a 60-second time-out runs in microseconds
// and always in the same order. Timers due at the same moment fire in the order they
// were started.
class VirtualClock final : public Clock {
public:
    // Wall time starts at `start` (default: a fixed date, so runs are reproducible).
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC));

    QDateTime now() const override;
    Seconds monotonic() const override { return elapsed_; }
    TimerId startTimer(Seconds after, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;

    bool hasTimers() const { return !timers_.empty(); }
    // When the earliest timer is due, if any.
    std::optional<Seconds> nextDue() const;
    // Moves time to the earliest timer and fires it; false when there is none.
    bool fireNext();
    // Moves time forward by `by`, firing every timer that falls due on the way, each at its time.
    void advance(Seconds by);
    // Sets the wall time without moving the monotonic time (the user changed the clock).
    void setWallTime(const QDateTime& wall);

    // Told how far time moved each time it does, before any timer due then fires: for a
    // clock of another kind (a virtual camera's) that must keep step.
    std::function<void(Seconds by)> onMoved;

private:
    void moveTo(Seconds to);

    using Key = std::pair<Seconds, TimerId>;
    QDateTime wallBase_;
    Seconds wallOffset_{0};
    Seconds elapsed_{0};
    TimerId nextId_ = 1;
    std::map<Key, std::function<void()>> timers_;
    std::map<TimerId, Seconds> dueOf_;
};

}  // namespace pexil::async
