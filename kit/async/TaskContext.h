#pragma once

#include "kit/async/Runtime.h"

#include <coroutine>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace pexil::async {

// The shared state of one spawned task and every coroutine it awaits: its runtime, its
// cancellation, and whether its frames still exist. Resumptions from outside (a camera's
// answer, a timer) go through resume(), which drops them once the frames are gone, so a
// coroutine is never resumed into destroyed state.
//
// Threads: main thread only, except that resume() may be called from any thread.
class TaskContext : public std::enable_shared_from_this<TaskContext> {
public:
    explicit TaskContext(Runtime& runtime) : runtime_(runtime) {}

    Runtime& runtime() const { return runtime_; }

    bool cancelled() const { return cancelled_; }
    // Sets the flag and tells every waiter that asked to hear of it (sleeps return early).
    void cancel();

    using CancelId = std::uint64_t;
    CancelId onCancel(std::function<void()> callback);
    void removeOnCancel(CancelId id);

    // Posts the resumption of `handle` to the main executor; dropped if the task's frames
    // were destroyed in the meantime. Any thread.
    void resume(std::coroutine_handle<> handle);

    // Cancels, and destroys the suspended frames so nothing runs later; when the task is
    // running at this moment, the frames are destroyed as soon as it next suspends.
    void abandon();

    // Abandoned while running: the next suspension is its last.
    bool abandoning() const { return abandonPending_; }
    bool finished() const { return finished_; }
    bool destroyed() const { return destroyed_; }
    bool failed() const { return failed_; }

    // For spawn and the root coroutine's final step.
    void adoptRoot(std::coroutine_handle<> root) { root_ = root; }
    void start();
    void rootFinished(std::exception_ptr error);
    void onFinished(std::function<void()> callback) {
        finishedCallbacks_.push_back(std::move(callback));
    }

private:
    void resumeNow(std::coroutine_handle<> handle);
    void destroyFrames();

    Runtime& runtime_;
    std::coroutine_handle<> root_;
    bool cancelled_ = false;
    bool running_ = false;
    bool abandonPending_ = false;
    bool finished_ = false;
    bool destroyed_ = false;
    bool failed_ = false;
    CancelId nextCancelId_ = 1;
    std::map<CancelId, std::function<void()>> cancelCallbacks_;
    std::vector<std::function<void()>> finishedCallbacks_;
};

}  // namespace pexil::async
