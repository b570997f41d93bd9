#include "kit/async/Sleep.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/async/WorkQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace pexil::async {
namespace {

TEST(WorkQueue, SerialQueueRunsInPostingOrderOffTheCallingThread) {
    std::vector<int> order;
    std::thread::id ranOn;
    {
        WorkQueue queue(QStringLiteral("test.serial"));
        for (int i = 0; i < 100; ++i)
            queue.post([&, i] {
                order.push_back(i);
                ranOn = std::this_thread::get_id();
            });
        queue.drain();
        EXPECT_EQ(order.size(), 100U);
    }
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(WorkQueue, DestructionFinishesWhatWasPosted) {
    std::atomic<int> ran = 0;
    {
        WorkQueue queue(QStringLiteral("test.concurrent"), 3);
        for (int i = 0; i < 50; ++i) queue.post([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 50);
}

Task<int> computeOn(Executor& queue, std::thread::id& workedOn) {
    const int value = co_await runOn(queue, [&] {
        workedOn = std::this_thread::get_id();
        return 6 * 7;
    });
    co_return value;
}

Task<void> failOn(Executor& queue) {
    co_await runOn(queue, [] { throw std::runtime_error("decoder broke"); });
}

TEST(RunOn, ResultsComeBackToTheMainThreadAndErrorsToTheAwaiter) {
    VirtualRuntime rt;
    WorkQueue queue(QStringLiteral("test.runOn"));
    std::thread::id workedOn;
    EXPECT_EQ(rt.run(computeOn(queue, workedOn)), 42);
    EXPECT_NE(workedOn, std::this_thread::get_id());
    EXPECT_THROW(rt.run(failOn(queue)), std::runtime_error);

    InlineExecutor inlineQueue;  // the stand-in tests use for worker queues
    EXPECT_EQ(rt.run(computeOn(inlineQueue, workedOn)), 42);
    EXPECT_EQ(workedOn, std::this_thread::get_id());
}

// Work that is still out on its thread when the main loop next decides whether time may move:
// it first has the main thread run a step of its own, and that step holds the main thread
// until the work's result is on the main queue.
Task<double> slowWorkThenTime(Executor& queue, ManualExecutor& mainQueue) {
    Runtime& runtime = co_await currentRuntime();
    const auto work = [&runtime, &mainQueue] {
        // Shared: the worker may be gone before set_value() has returned.
        const auto mainRan = std::make_shared<std::promise<void>>();
        auto ran = mainRan->get_future();
        runtime.main().post([mainRan, &mainQueue] {
            mainRan->set_value();
            mainQueue.waitForWork(std::chrono::seconds(10));
        });
        ran.wait();
    };
    co_await runOn(queue, work);
    co_return runtime.clock().monotonic().count();
}

Task<void> timer(bool& fired) {
    co_await sleep(5.0);
    fired = true;
}

TEST(RunOn, VirtualTimeWaitsForWorkOutOnAnotherThread) {
    VirtualRuntime rt;
    auto queue = std::make_unique<WorkQueue>(QStringLiteral("test.slow"));
    bool fired = false;
    Scope scope(rt);  // the timer task never ends on its own; the scope frees it
    scope.spawn(timer(fired));
    // Without the wait, the clock would jump to the 5 s timer while the worker still ran.
    EXPECT_DOUBLE_EQ(rt.run(slowWorkThenTime(*queue, rt.executor())).value(), 0.0);
    EXPECT_FALSE(fired);
    // The worker lets go of its mark only after posting the result, so the awaiting task
    // may finish first; once the worker has stopped, nothing may still be counted.
    queue.reset();
    EXPECT_EQ(rt.runtime().externalPending(), 0);
}

}  // namespace
}  // namespace pexil::async
