#pragma once

#include "kit/async/Clock.h"
#include "kit/async/Executor.h"

#include <QString>

#include <atomic>
#include <functional>
#include <utility>

namespace pexil::async {

class Runtime;

// Marks work handed to another thread whose result will come back to the main queue (a
// camera transaction, a file written on a worker). While any is outstanding, a virtual
// clock does not jump: the answer is on its way and belongs before the next timer.
class ExternalWork {
public:
    ExternalWork() = default;
    explicit ExternalWork(std::atomic<int>* count) : count_(count) {
        if (count_) count_->fetch_add(1);
    }
    ExternalWork(ExternalWork&& other) noexcept : count_(std::exchange(other.count_, nullptr)) {}
    ExternalWork& operator=(ExternalWork&& other) noexcept {
        if (this != &other) {
            release();
            count_ = std::exchange(other.count_, nullptr);
        }
        return *this;
    }
    ExternalWork(const ExternalWork&) = delete;
    ExternalWork& operator=(const ExternalWork&) = delete;
    ~ExternalWork() { release(); }
    // Call after the result has been posted to the main queue.
    void release() {
        if (count_) count_->fetch_sub(1);
        count_ = nullptr;
    }

private:
    std::atomic<int>* count_ = nullptr;
};

// What every task runs on: the main executor (where coroutines resume), the clock, and
// where an exception nobody awaited is reported. Outlives every task spawned on it.
class Runtime {
public:
    using Reporter = std::function<void(const QString&)>;

    // Without a reporter, escaped exceptions go to qCritical.
    Runtime(Executor& main, Clock& clock, Reporter reportUnhandled = {});
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    Executor& main() const { return main_; }
    Clock& clock() const { return clock_; }
    void reportUnhandled(const QString& text) const;
    // The application points this at its diagnostic log once the log exists.
    void setReporter(Reporter reporter) { reporter_ = std::move(reporter); }

    // Any thread.
    ExternalWork externalWork() { return ExternalWork(&external_); }
    int externalPending() const { return external_.load(); }

private:
    Executor& main_;
    Clock& clock_;
    Reporter reporter_;
    std::atomic<int> external_{0};
};

}  // namespace pexil::async
