#include "kit/async/TaskContext.h"

#include <QtGlobal>

#include <exception>
#include <typeinfo>

namespace pexil::async {

Runtime::Runtime(Executor& main, Clock& clock, Reporter reportUnhandled)
    : main_(main), clock_(clock), reporter_(std::move(reportUnhandled)) {}

void Runtime::reportUnhandled(const QString& text) const {
    if (reporter_) {
        reporter_(text);
    } else {
        qCritical("%s", qUtf8Printable(text));
    }
}

void TaskContext::cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    // A callback may remove others (a sleep that ends removes its own), so take them out first.
    auto callbacks = std::move(cancelCallbacks_);
    cancelCallbacks_.clear();
    for (auto& [id, callback] : callbacks) callback();
}

TaskContext::CancelId TaskContext::onCancel(std::function<void()> callback) {
    const CancelId id = nextCancelId_++;
    cancelCallbacks_.emplace(id, std::move(callback));
    return id;
}

void TaskContext::removeOnCancel(CancelId id) {
    cancelCallbacks_.erase(id);
}

void TaskContext::resume(std::coroutine_handle<> handle) {
    runtime_.main().post([self = shared_from_this(), handle] { self->resumeNow(handle); });
}

void TaskContext::start() {
    runtime_.main().post([self = shared_from_this()] { self->resumeNow(self->root_); });
}

void TaskContext::resumeNow(std::coroutine_handle<> handle) {
    if (destroyed_ || finished_) return;
    running_ = true;
    handle.resume();
    running_ = false;
    if (abandonPending_ && !finished_) destroyFrames();
}

void TaskContext::abandon() {
    cancel();
    if (finished_ || destroyed_) return;
    if (running_) {
        abandonPending_ = true;
        return;
    }
    destroyFrames();
}

void TaskContext::destroyFrames() {
    if (destroyed_ || finished_) return;
    destroyed_ = true;
    // Destroying the root frame destroys the tasks it awaits, down to the suspended leaf.
    if (root_) root_.destroy();
    root_ = {};
    auto callbacks = std::move(finishedCallbacks_);
    for (auto& callback : callbacks) callback();
}

namespace {
QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QStringLiteral("%1: %2").arg(QString::fromLatin1(typeid(e).name()),
                                            QString::fromUtf8(e.what()));
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}
}  // namespace

void TaskContext::rootFinished(std::exception_ptr error) {
    finished_ = true;
    root_ = {};
    if (error) {
        failed_ = true;
        runtime_.reportUnhandled(QStringLiteral("タスクが例外で終わった: ") + describe(error));
    }
    cancelCallbacks_.clear();
    auto callbacks = std::move(finishedCallbacks_);
    for (auto& callback : callbacks) callback();
}

}  // namespace pexil::async
