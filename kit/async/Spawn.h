#pragma once

#include "kit/async/Task.h"

#include <memory>
#include <vector>

namespace pexil::async {

// Observes one detached task. Dropping the handle leaves the task running.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::weak_ptr<TaskContext> context) : context_(std::move(context)) {}

    // Asks the task to stop: its sleeps return early and isCancelled() becomes true.
    void cancel() const;
    // The task has ended, by returning, by failing, or by being abandoned.
    bool done() const;

private:
    std::weak_ptr<TaskContext> context_;
};

// Starts `task` as a detached task on the runtime's main executor. It starts on the next
// turn of the main queue, never inside this call.
TaskHandle spawn(Runtime& runtime, Task<void> task);

// The tasks an object runs on its own behalf. Destroying the scope (with its owner)
// cancels them and destroys their frames, so none of them ever resumes into the owner's
// destroyed state. Main thread only.
class Scope {
public:
    explicit Scope(Runtime& runtime) : runtime_(runtime) {}
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    TaskHandle spawn(Task<void> task);
    void cancelAll();
    Runtime& runtime() const { return runtime_; }

private:
    Runtime& runtime_;
    std::vector<std::shared_ptr<TaskContext>> tasks_;
};

}  // namespace pexil::async
