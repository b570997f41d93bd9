#include "camera/virtual/BodyClock.h"

namespace pexil::camera {

BodyClock::TimePoint SteadyBodyClock::now() const {
    return std::chrono::steady_clock::now();
}

void SteadyBodyClock::waitUntil(std::unique_lock<std::mutex>& lock,
                                std::condition_variable& changed, TimePoint due,
                                const std::function<bool()>& done) const {
    changed.wait_until(lock, due, done);
}

BodyClock::TimePoint ManualBodyClock::now() const {
    return TimePoint(Duration(elapsed_.load()));
}

void ManualBodyClock::waitUntil(std::unique_lock<std::mutex>& lock,
                                std::condition_variable& changed, TimePoint due,
                                const std::function<bool()>& done) const {
    if (jumping_ && !done()) {
        auto at = elapsed_.load();
        const auto target = due.time_since_epoch().count();
        while (at < target && !elapsed_.compare_exchange_weak(at, target)) {
        }
        // Others waiting on the same camera look at the time again once the lock is let go.
        changed.notify_all();
        return;
    }
    changed.wait(lock, [&] { return done() || now() >= due; });
}

void ManualBodyClock::watch(const void* owner, std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    watchers_[owner] = std::move(wake);
}

void ManualBodyClock::unwatch(const void* owner) {
    std::lock_guard lock(mutex_);
    watchers_.erase(owner);
}

void ManualBodyClock::advance(Duration by) {
    elapsed_ += by.count();
    std::lock_guard lock(mutex_);
    for (const auto& [owner, wake] : watchers_) wake();
}

}  // namespace pexil::camera
