#pragma once

#include "kit/async/Completion.h"
#include "kit/async/Executor.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace pexil::async {

// Worker threads taking work in order of posting. With one thread it is a serial queue
// (the log writer, live-frame decoding); with several a concurrent one (thumbnails).
// The destructor finishes the work already posted, then joins: nothing posted is lost.
class WorkQueue final : public Executor {
public:
    explicit WorkQueue(QString label, unsigned threads = 1);
    ~WorkQueue() override;
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void post(Work work) override;
    // Blocks until every item posted before this call has run (tests, orderly exit).
    void drain();
    const QString& label() const { return label_; }

private:
    void run();

    QString label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Work> queue_;
    unsigned busy_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// co_await runOn(queue, fn): runs fn on `queue` (any Executor: a WorkQueue, or an
// InlineExecutor in tests) and resumes on the main executor with its result; an
// exception thrown by fn is rethrown in the awaiting task.
template <class F>
auto runOn(Executor& queue, F fn) {
    using R = std::invoke_result_t<F&>;
    using Stored = std::conditional_t<std::is_void_v<R>, std::monostate, R>;
    return waitFor<Stored>([&queue, fn = std::move(fn)](Resolver<Stored> resolver) mutable {
        auto pending = queue.drainedByHand()
                           ? nullptr
                           : std::make_shared<ExternalWork>(resolver.runtime().externalWork());
        queue.post([fn = std::move(fn), resolver, pending]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    fn();
                    resolver.resolve(std::monostate{});
                } else {
                    resolver.resolve(fn());
                }
            } catch (...) {
                resolver.fail(std::current_exception());
            }
            if (pending) pending->release();
        });
    });
}

}  // namespace pexil::async
