#include "kit/async/Executor.h"

#include <QMetaObject>
#include <QObject>

namespace pexil::async {

QtExecutor::QtExecutor(QObject* context) : context_(context) {}

void QtExecutor::post(Work work) {
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

void ManualExecutor::post(Work work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    posted_.notify_all();
}

bool ManualExecutor::runOne() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return false;
        work = std::move(queue_.front());
        queue_.pop_front();
    }
    work();
    return true;
}

std::size_t ManualExecutor::runAll() {
    std::size_t ran = 0;
    while (runOne()) ++ran;
    return ran;
}

bool ManualExecutor::empty() const {
    std::lock_guard lock(mutex_);
    return queue_.empty();
}

bool ManualExecutor::waitForWork(std::chrono::milliseconds realTime) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, realTime, [this] { return !queue_.empty(); });
}

}  // namespace pexil::async
