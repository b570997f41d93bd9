#pragma once

#include <QDateTime>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace pexil::async {

// Durations are seconds as reals, as the program thinks of them.
using Seconds = std::chrono::duration<double>;
using TimerId = std::uint64_t;

// Time for the whole program: wall time for dates, a monotonic time for measuring, and
// one-shot timers. Every timer, time-out, watchdog and poll interval goes through a Clock
// so that tests can replace it by a VirtualClock.
//
// Threads: main thread only. Timer callbacks run on the main thread, never inside
// startTimer().
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual Seconds monotonic() const = 0;
    virtual TimerId startTimer(Seconds after, std::function<void()> fire) = 0;
    // Cancelling a timer that already fired or was cancelled does nothing.
    virtual void cancelTimer(TimerId id) = 0;
};

// The real clock, with timers on the Qt event loop of the thread that owns it.
class SystemClock final : public QObject, public Clock {
    Q_OBJECT
public:
    explicit SystemClock(QObject* parent = nullptr);
    ~SystemClock() override;
    Q_DISABLE_COPY_MOVE(SystemClock)

    QDateTime now() const override;
    Seconds monotonic() const override;
    TimerId startTimer(Seconds after, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::map<int, std::function<void()>> timers_;
};

}  // namespace pexil::async
