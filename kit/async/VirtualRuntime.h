#pragma once

#include "kit/async/Executor.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualClock.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace pexil::async {

// A runtime for tests: a hand-drained main queue and a virtual clock. Time only moves
// when the main queue is idle, and then straight to the next timer, so runs are instant
// and deterministic. Escaped exceptions are collected in `unhandled`.
//
// Work handed to other threads through Runtime::externalWork() (camera transactions,
// worker queues) is waited for in real time before time moves on; other posts from other
// threads (a camera's spontaneous events) are waited for only while no timer is pending.
class VirtualRuntime {
public:
    explicit VirtualRuntime(QDateTime start = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC));

    Runtime& runtime() { return runtime_; }
    operator Runtime&() { return runtime_; }
    VirtualClock& clock() { return clock_; }
    ManualExecutor& executor() { return executor_; }
    const QStringList& unhandled() const { return unhandled_; }

    // Runs queued work and due timers until nothing is left or `limit` of virtual time has
    // passed, whichever comes first.
    void runFor(Seconds limit);
    // Runs queued work without moving time.
    void runReady() { executor_.runAll(); }
    // Runs work posted to the main queue, also by other threads, without moving time,
    // until `done()` holds or `realLimit` of real time passed; whether it held.
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds realLimit = std::chrono::milliseconds(10000));

    // Runs work and moves time, straight to each next timer, until `done()` holds; false
    // when nothing is left to run or `limit` of virtual time passed first.
    bool runUntil(const std::function<bool()>& done, Seconds limit = Seconds{3600}) {
        return drive(done, limit);
    }
    // Runs `task` to completion, moving time as needed; none if it stalled (nothing left to
    // run and no timer) or `limit` passed first. Rethrows what the task threw.
    template <class T>
    std::optional<T> run(Task<T> task, Seconds limit = Seconds{3600});
    bool run(Task<void> task, Seconds limit = Seconds{3600});

private:
    // Advances until `done()` or stall or limit; true if done.
    template <class Done>
    bool drive(Done done, Seconds limit);

    ManualExecutor executor_;
    VirtualClock clock_;
    Runtime runtime_;
    QStringList unhandled_;
};

template <class Done>
bool VirtualRuntime::drive(Done done, Seconds limit) {
    const Seconds until = clock_.monotonic() + limit;
    for (;;) {
        executor_.runAll();
        if (done()) return true;
        // Work out on other threads comes back before time moves on.
        if (runtime_.externalPending() > 0) {
            executor_.waitForWork(std::chrono::milliseconds(50));
            continue;
        }
        if (clock_.hasTimers()) {
            if (*clock_.nextDue() > until) return false;
            clock_.fireNext();
            continue;
        }
        // Nothing runnable here: give other threads a bounded chance to answer.
        if (!executor_.waitForWork(std::chrono::milliseconds(1000))) return false;
    }
}

namespace detail {
template <class T>
Task<void> capture(Task<T> task, std::optional<T>& out, std::exception_ptr& error, bool& done) {
    try {
        out.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}
Task<void> captureVoid(Task<void> task, std::exception_ptr& error, bool& done);
}  // namespace detail

template <class T>
std::optional<T> VirtualRuntime::run(Task<T> task, Seconds limit) {
    std::optional<T> out;
    std::exception_ptr error;
    bool done = false;
    Scope scope(runtime_);
    scope.spawn(detail::capture(std::move(task), out, error, done));
    drive([&] { return done; }, limit);
    if (error) std::rethrow_exception(error);
    return out;
}

}  // namespace pexil::async
