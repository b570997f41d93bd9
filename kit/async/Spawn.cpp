#include "kit/async/Spawn.h"

#include <algorithm>

namespace pexil::async {

namespace {
std::shared_ptr<TaskContext> startRoot(Runtime& runtime, Task<void> task) {
    auto context = std::make_shared<TaskContext>(runtime);
    auto handle = task.release();
    handle.promise().context = context;
    handle.promise().root = true;
    context->adoptRoot(handle);
    context->start();
    return context;
}
}  // namespace

void TaskHandle::cancel() const {
    if (auto context = context_.lock()) context->cancel();
}

bool TaskHandle::done() const {
    auto context = context_.lock();
    return !context || context->finished() || context->destroyed();
}

TaskHandle spawn(Runtime& runtime, Task<void> task) {
    // The posted start keeps the context alive until the task first suspends; from then on
    // whatever will resume it holds it.
    return TaskHandle(startRoot(runtime, std::move(task)));
}

Scope::~Scope() {
    auto tasks = std::move(tasks_);
    for (auto& context : tasks) context->abandon();
}

TaskHandle Scope::spawn(Task<void> task) {
    std::erase_if(tasks_, [](const auto& c) { return c->finished() || c->destroyed(); });
    auto context = startRoot(runtime_, std::move(task));
    tasks_.push_back(context);
    return TaskHandle(context);
}

void Scope::cancelAll() {
    for (auto& context : tasks_) context->cancel();
}

}  // namespace pexil::async
