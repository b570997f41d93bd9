#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace pexil::camera {

// The virtual camera's own time: its busy periods (capture, autofocus, the start of live
// view), the latency of every transaction, the bandwidth of data phases and the age of live
// view all run on it. The real one (the default) is the steady clock; a ManualBodyClock moves
// only when a test advances it, so that nothing waits on real time. Dates (the camera's and
// the computer's clock) are not this clock's: see VirtualCamera::Options::wallClock.
class BodyClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~BodyClock() = default;

    // Any thread; never blocks.
    virtual TimePoint now() const = 0;

    // Blocks on `changed`, whose mutex `lock` holds, until `done()` or this clock has
    // reached `due`. Whoever makes `done()` true notifies `changed`; a clock that jumps
    // wakes its waiters through watch().
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                           TimePoint due, const std::function<bool()>& done) const = 0;

    // `wake` is called, from the thread that moves the clock, each time it jumps, so that
    // waiters look at the time again; `owner` names the subscription for unwatch(). It must
    // not call back into the clock's watch() or unwatch(). A clock that runs on its own never
    // calls it.
    virtual void watch(const void* owner, std::function<void()> wake) {
        (void)owner;
        (void)wake;
    }
    virtual void unwatch(const void* owner) { (void)owner; }

    // Whether time passes without anyone moving it (real time does).
    virtual bool runsByItself() const { return true; }
};

// Real time.
class SteadyBodyClock final : public BodyClock {
public:
    TimePoint now() const override;
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint due, const std::function<bool()>& done) const override;
};

// Time that stands still until advance(): a capture finishes, autofocus settles, a slow
// transfer goes on only when the test says that enough time has passed.
class ManualBodyClock final : public BodyClock {
public:
    TimePoint now() const override;
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint due, const std::function<bool()>& done) const override;
    void watch(const void* owner, std::function<void()> wake) override;
    void unwatch(const void* owner) override;
    bool runsByItself() const override { return false; }

    // Moves time on by `by` and wakes every watcher; any thread.
    void advance(Duration by);

    // On: whenever the camera waits for a time, time jumps there at once, as if a test had
    // advanced it exactly that far; for measuring how long the camera takes (latency,
    // bandwidth) without waiting for it. Only the waiting camera is woken, so a jumping
    // clock serves one camera.
    void setJumping(bool on) { jumping_ = on; }

private:
    mutable std::atomic<Duration::rep> elapsed_{0};  // a jumping clock moves while waited on
    std::atomic<bool> jumping_{false};
    std::mutex mutex_;  // the watchers; held while they are called, so none goes away meanwhile
    std::map<const void*, std::function<void()>> watchers_;
};

}  // namespace pexil::camera
