#include "kit/async/VirtualRuntime.h"

namespace pexil::async {

VirtualRuntime::VirtualRuntime(QDateTime start)
    : clock_(std::move(start)),
      runtime_(executor_, clock_, [this](const QString& text) { unhandled_.append(text); }) {}

void VirtualRuntime::runFor(Seconds limit) {
    const Seconds until = clock_.monotonic() + limit;
    for (;;) {
        executor_.runAll();
        if (runtime_.externalPending() > 0) {
            executor_.waitForWork(std::chrono::milliseconds(50));
            continue;
        }
        const auto due = clock_.nextDue();
        if (!due || *due > until) break;
        clock_.fireNext();
    }
    clock_.advance(until - clock_.monotonic());
    executor_.runAll();
}

bool VirtualRuntime::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds realLimit) {
    const auto deadline = std::chrono::steady_clock::now() + realLimit;
    for (;;) {
        executor_.runAll();
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        executor_.waitForWork(left);
    }
}

namespace detail {
Task<void> captureVoid(Task<void> task, std::exception_ptr& error, bool& done) {
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}
}  // namespace detail

bool VirtualRuntime::run(Task<void> task, Seconds limit) {
    std::exception_ptr error;
    bool done = false;
    Scope scope(runtime_);
    scope.spawn(detail::captureVoid(std::move(task), error, done));
    drive([&] { return done; }, limit);
    if (error) std::rethrow_exception(error);
    return done;
}

}  // namespace pexil::async
