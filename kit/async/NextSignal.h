#pragma once

#include "kit/async/Task.h"

#include <QObject>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>

namespace pexil::async {

// A time-out that never passes: no timer is started, so a virtual clock is not moved on to it
// while other threads still have work to answer with.
inline constexpr Seconds noTimeLimit{std::numeric_limits<double>::infinity()};

namespace detail {
template <class Values>
struct SignalState {
    std::shared_ptr<TaskContext> context;
    std::coroutine_handle<> handle;
    std::optional<Values> values;
    QMetaObject::Connection signal;
    QMetaObject::Connection gone;
    std::optional<TimerId> timer;
    std::optional<TaskContext::CancelId> cancelHook;
    bool woken = false;

    // Leaves nothing connected, timed or hooked behind; whether a resumption is due.
    bool release() {
        if (woken) return false;
        woken = true;
        QObject::disconnect(signal);
        QObject::disconnect(gone);
        if (timer) context->runtime().clock().cancelTimer(*timer);
        if (cancelHook) context->removeOnCancel(*cancelHook);
        timer.reset();
        cancelHook.reset();
        return true;
    }
    void finish(std::optional<Values> got) {
        if (!release()) return;
        values = std::move(got);
        context->resume(handle);
    }
};
}  // namespace detail

// co_await NextSignal(sender, &Sender::signal, timeout): suspends until the sender emits the
// signal and resumes with its arguments as a tuple; none when the time-out passes first on
// the runtime's clock (virtual in tests; `noTimeLimit` for none), when the task is cancelled, or
// when the sender is destroyed. Only the first emission after the await counts; nothing stays
// connected after.
//
// The sender must live on the main thread, as the awaiting task does: its signal is heard
// directly, and the task resumes on the next turn of the main queue.
template <class Sender, class... Args>
class NextSignal {
public:
    using Values = std::tuple<std::decay_t<Args>...>;

    NextSignal(const Sender* sender, void (Sender::*signal)(Args...), Seconds timeout)
        : sender_(sender), signal_(signal), timeout_(timeout) {}
    NextSignal(const NextSignal&) = delete;
    NextSignal& operator=(const NextSignal&) = delete;
    ~NextSignal() {
        // The frame may be destroyed while waiting (its owner went away).
        if (state_) state_->release();
    }

    bool await_ready() const noexcept { return false; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> self) {
        auto& context = self.promise().context;
        if (context->abandoning()) return true;
        if (context->cancelled() || !sender_) return false;
        state_ = std::make_shared<detail::SignalState<Values>>();
        state_->context = context;
        state_->handle = self;
        std::weak_ptr<detail::SignalState<Values>> weak = state_;
        state_->signal = QObject::connect(sender_, signal_, [weak](Args... args) {
            if (auto state = weak.lock()) state->finish(Values(args...));
        });
        state_->gone = QObject::connect(sender_, &QObject::destroyed, [weak] {
            if (auto state = weak.lock()) state->finish(std::nullopt);
        });
        if (std::isfinite(timeout_.count())) {
            state_->timer = context->runtime().clock().startTimer(timeout_, [weak] {
                if (auto state = weak.lock()) {
                    state->timer.reset();
                    state->finish(std::nullopt);
                }
            });
        }
        state_->cancelHook = context->onCancel([weak] {
            if (auto state = weak.lock()) {
                state->cancelHook.reset();
                state->finish(std::nullopt);
            }
        });
        return true;
    }
    std::optional<Values> await_resume() { return state_ ? std::move(state_->values) : std::nullopt; }

private:
    const Sender* sender_;
    void (Sender::*signal_)(Args...);
    Seconds timeout_;
    std::shared_ptr<detail::SignalState<Values>> state_;
};

// co_await until(condition, sender, &Sender::signal, timeout): true as soon as `condition`
// holds, looked at first and then after each emission of the signal that changes what it
// reads; false when the time-out passes, the task is cancelled or the sender goes first.
template <class Condition, class Sender, class... Args>
Task<bool> until(Condition condition, const Sender* sender, void (Sender::*signal)(Args...),
                 Seconds timeout) {
    Runtime& runtime = co_await currentRuntime();
    const auto end = runtime.clock().monotonic() + timeout;
    while (!condition()) {
        const Seconds left = end - runtime.clock().monotonic();
        if (left <= Seconds{0}) co_return false;
        const auto heard = co_await NextSignal(sender, signal, left);
        if (!heard) co_return condition();
    }
    co_return true;
}

}  // namespace pexil::async
