#pragma once

#include "kit/async/Once.h"
#include "kit/async/Task.h"

#include <exception>
#include <memory>
#include <mutex>
#include <optional>

namespace pexil::async {

namespace detail {
template <class T>
struct CompletionState {
    Once once;
    std::mutex mutex;
    std::optional<T> value;
    std::exception_ptr error;
    std::shared_ptr<TaskContext> context;
    std::coroutine_handle<> handle;

    template <class Set>
    bool finish(Set set) {
        if (!once.tryFire()) return false;
        std::shared_ptr<TaskContext> ctx;
        std::coroutine_handle<> h;
        {
            std::lock_guard lock(mutex);
            set(*this);
            ctx = context;
            h = handle;
        }
        ctx->resume(h);
        return true;
    }
};
}  // namespace detail

// The other end of a suspended wait: whoever holds a copy may finish it, from any thread.
// Only the first resolve() or fail() takes effect (a Once guards it); the waiting task
// resumes on the main executor. This is how answers from other threads (a transport's
// completion) and rival outcomes (the answer or a time-out) meet a coroutine.
template <class T>
class Resolver {
public:
    explicit Resolver(std::shared_ptr<detail::CompletionState<T>> state)
        : state_(std::move(state)) {}
    // True if this call finished the wait; false if something else finished it first.
    bool resolve(T value) const {
        return state_->finish([&](auto& s) { s.value.emplace(std::move(value)); });
    }
    bool fail(std::exception_ptr error) const {
        return state_->finish([&](auto& s) { s.error = std::move(error); });
    }
    bool finished() const { return state_->once.fired(); }
    // The runtime of the waiting task (set before the starter runs).
    Runtime& runtime() const { return state_->context->runtime(); }

private:
    std::shared_ptr<detail::CompletionState<T>> state_;
};

namespace detail {
template <class T, class Start>
struct CompletionAwaiter {
    Start start;
    std::shared_ptr<CompletionState<T>> state = std::make_shared<CompletionState<T>>();
    bool await_ready() const noexcept { return false; }
    template <class P>
    void await_suspend(std::coroutine_handle<P> self) {
        {
            std::lock_guard lock(state->mutex);
            state->context = self.promise().context;
            state->handle = self;
        }
        if (state->context->abandoning()) return;  // nothing more starts for an abandoned task
        start(Resolver<T>(state));
    }
    T await_resume() {
        std::lock_guard lock(state->mutex);
        if (state->error) std::rethrow_exception(state->error);
        return std::move(*state->value);
    }
};
}  // namespace detail

// co_await waitFor<T>(start): suspends, calls start(resolver) once the task is suspended,
// and resumes with the value given to the resolver (or rethrows the error given to it).
template <class T, class Start>
detail::CompletionAwaiter<T, Start> waitFor(Start start) {
    return detail::CompletionAwaiter<T, Start>{std::move(start)};
}

}  // namespace pexil::async
