#pragma once

#include "kit/async/Task.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace pexil::cli {

class StopSignals;

// How a command waits: for a condition over the objects it follows, looked at again each time
// one of them signals a change (or poke() says so), on the running task's clock. Ctrl+C or
// SIGTERM, when the command takes them (`stop`), ends every wait at once until clearStop().
// Main thread only; it must outlive the waits.
class Waiter final : public QObject {
    Q_OBJECT
public:
    explicit Waiter(const StopSignals* stop = nullptr);

    template <class Sender, class Signal>
    void follow(const Sender* sender, Signal signal) {
        connect(sender, signal, this, &Waiter::poke);
    }
    // A change heard through a callback rather than a signal.
    void poke() { emit changed(); }

    // True once `done` holds; false when `seconds` pass first (negative: no limit) or a stop
    // is waiting.
    async::Task<bool> until(std::function<bool()> done, double seconds);
    // Waits `seconds` (negative: no limit) unless a stop comes first; whether one came.
    async::Task<bool> pause(double seconds);

    bool stopRequested() const { return stopRequested_; }
    // The stop was acted upon; another Ctrl+C counts anew.
    void clearStop() { stopRequested_ = false; }

signals:
    void changed();

private:
    const StopSignals* stop_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool stopRequested_ = false;
};

}  // namespace pexil::cli
