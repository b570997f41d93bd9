#include "kit/async/WorkQueue.h"

namespace pexil::async {

WorkQueue::WorkQueue(QString label, unsigned threads) : label_(std::move(label)) {
    threads_.reserve(std::max(1U, threads));
    for (unsigned i = 0; i < std::max(1U, threads); ++i) threads_.emplace_back([this] { run(); });
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void WorkQueue::post(Work work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void WorkQueue::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

void WorkQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and nothing left to do
        Work work = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        work();
        lock.lock();
        --busy_;
        if (queue_.empty() && busy_ == 0) idle_.notify_all();
    }
}

}  // namespace pexil::async
