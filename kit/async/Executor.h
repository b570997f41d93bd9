#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class QObject;

namespace pexil::async {

using Work = std::function<void()>;

// Somewhere to run work. post() may be called from any thread and never runs the work
// inside the call; when and where it runs is the implementation's contract.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void post(Work work) = 0;
    // Whether its work runs only when its owner drains it by hand (a test's held queue):
    // such work is not on its way back, and a virtual runtime does not wait for it.
    virtual bool drainedByHand() const { return false; }
};

// Runs work on the thread of a Qt object through its event loop. Work posted after the
// object is gone is dropped, which is what every caller wants during shutdown.
class QtExecutor final : public Executor {
public:
    explicit QtExecutor(QObject* context);
    void post(Work work) override;

private:
    QObject* context_;
};

// A queue that the owner drains by hand: the main queue of tests, so that they decide
// exactly when posted work runs.
class ManualExecutor final : public Executor {
public:
    void post(Work work) override;
    bool drainedByHand() const override { return true; }

    // Runs one queued item; false when the queue was empty.
    bool runOne();
    // Runs until the queue is empty, including work posted meanwhile; returns how many ran.
    std::size_t runAll();
    bool empty() const;
    // Blocks the caller for up to `realTime` until something is posted (from another thread).
    bool waitForWork(std::chrono::milliseconds realTime);

private:
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Work> queue_;
};

// Runs work at once on the caller's thread: stands in for a worker queue in tests.
class InlineExecutor final : public Executor {
public:
    void post(Work work) override { work(); }
};

}  // namespace pexil::async
