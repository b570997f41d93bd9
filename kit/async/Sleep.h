#pragma once

#include "kit/async/Task.h"

#include <memory>
#include <optional>

namespace pexil::async {

namespace detail {
struct SleepState {
    std::shared_ptr<TaskContext> context;
    std::coroutine_handle<> handle;
    std::optional<TimerId> timer;
    std::optional<TaskContext::CancelId> cancelHook;
    bool woken = false;

    void wake() {
        if (woken) return;
        woken = true;
        if (timer) context->runtime().clock().cancelTimer(*timer);
        if (cancelHook) context->removeOnCancel(*cancelHook);
        timer.reset();
        cancelHook.reset();
        context->resume(handle);
    }
};
}  // namespace detail

// co_await sleep(seconds): suspends the running task on the runtime's clock. Returns
// early, without error, when the task is cancelled (at once if it already was).
class Sleep {
public:
    explicit Sleep(Seconds duration) : duration_(duration) {}
    explicit Sleep(double seconds) : duration_(seconds) {}
    Sleep(const Sleep&) = delete;
    Sleep& operator=(const Sleep&) = delete;
    ~Sleep() {
        // The frame may be destroyed while asleep (its owner went away): leave no timer behind.
        if (state_ && !state_->woken) {
            state_->woken = true;
            if (state_->timer) state_->context->runtime().clock().cancelTimer(*state_->timer);
            if (state_->cancelHook) state_->context->removeOnCancel(*state_->cancelHook);
        }
    }

    bool await_ready() const noexcept { return false; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> self) {
        auto& context = self.promise().context;
        // An abandoned task stays suspended here until its frames are destroyed.
        if (context->abandoning()) return true;
        if (context->cancelled()) return false;
        state_ = std::make_shared<detail::SleepState>();
        state_->context = context;
        state_->handle = self;
        std::weak_ptr<detail::SleepState> weak = state_;
        state_->timer = context->runtime().clock().startTimer(duration_, [weak] {
            if (auto state = weak.lock()) {
                state->timer.reset();
                state->wake();
            }
        });
        state_->cancelHook = context->onCancel([weak] {
            if (auto state = weak.lock()) {
                state->cancelHook.reset();
                state->wake();
            }
        });
        return true;
    }
    void await_resume() const noexcept {}

private:
    Seconds duration_;
    std::shared_ptr<detail::SleepState> state_;
};

inline Sleep sleep(double seconds) {
    return Sleep(seconds);
}
inline Sleep sleep(Seconds duration) {
    return Sleep(duration);
}

}  // namespace pexil::async
