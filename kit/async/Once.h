#pragma once

#include <mutex>

namespace pexil::async {

// A one-shot latch shared by everyone who may finish one piece of work (a camera's
// answer, a time-out, a cancellation): the first to call tryFire() wins, every later
// caller is told it lost. Safe to call from any thread.
class Once {
public:
    Once() = default;
    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;

    // True for exactly one caller, the first.
    bool tryFire() {
        std::lock_guard lock(mutex_);
        if (done_) return false;
        done_ = true;
        return true;
    }

    bool fired() const {
        std::lock_guard lock(mutex_);
        return done_;
    }

private:
    mutable std::mutex mutex_;
    bool done_ = false;
};

}  // namespace pexil::async
