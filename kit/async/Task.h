#pragma once

#include "kit/async/TaskContext.h"

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace pexil::async {

template <class T = void>
class Task;

namespace detail {

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::shared_ptr<TaskContext> context;
    std::exception_ptr exception;
    bool root = false;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> self) noexcept {
            PromiseBase& promise = self.promise();
            if (!promise.root) {
                if (promise.continuation) return promise.continuation;
                return std::noop_coroutine();
            }
            // A detached task ends here: report what escaped it, then free its frame. The
            // frame is suspended, so destroying it from here is allowed; nothing touches it after.
            auto context = promise.context;
            auto error = promise.exception;
            self.destroy();
            context->rootFinished(error);
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { exception = std::current_exception(); }
};

template <class T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object() noexcept;
    template <class U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object() noexcept;
    void return_void() noexcept {}
};

}  // namespace detail

// A coroutine that starts when awaited and resumes its awaiter when done. Every task runs
// inside the context of the detached task at the root of its chain (spawn()), from which
// it inherits cancellation and runtime. Exceptions propagate to the awaiter; one that
// escapes the root is reported through Runtime::reportUnhandled, never lost.
template <class T>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    struct Awaiter {
        Handle child;
        bool await_ready() const noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
            child.promise().continuation = parent;
            child.promise().context = parent.promise().context;
            return child;
        }
        T await_resume() {
            auto& promise = child.promise();
            if (promise.exception) std::rethrow_exception(promise.exception);
            if constexpr (!std::is_void_v<T>) return std::move(*promise.value);
        }
    };
    Awaiter operator co_await() && noexcept { return Awaiter{handle_}; }

    // Hands the frame over to a root context (spawn).
    Handle release() noexcept { return std::exchange(handle_, {}); }

private:
    friend struct detail::Promise<T>;
    explicit Task(Handle handle) noexcept : handle_(handle) {}
    void reset() noexcept {
        if (handle_) handle_.destroy();
        handle_ = {};
    }
    Handle handle_;
};

namespace detail {
template <class T>
Task<T> Promise<T>::get_return_object() noexcept {
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() noexcept {
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
}  // namespace detail

// Awaitables that look at the running task's context without suspending.
struct ContextProbe {
    std::shared_ptr<TaskContext> context;
    bool await_ready() const noexcept { return false; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> self) noexcept {
        context = self.promise().context;
        return false;
    }
};

// co_await isCancelled(): whether the running task was asked to stop.
// Bind the result to a variable before testing it: g++ 12 emits a trap for a coroutine
// holding `if (co_await …) co_return;`.
inline auto isCancelled() {
    struct Awaiter : ContextProbe {
        bool await_resume() const noexcept { return context->cancelled(); }
    };
    return Awaiter{};
}

// co_await currentRuntime(): the runtime of the running task.
inline auto currentRuntime() {
    struct Awaiter : ContextProbe {
        Runtime& await_resume() const noexcept { return context->runtime(); }
    };
    return Awaiter{};
}

}  // namespace pexil::async
