#include "kit/async/Completion.h"
#include "kit/async/Lifetime.h"
#include "kit/async/Sleep.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace pexil::async {
namespace {

Task<int> answer(int value) {
    co_return value;
}

Task<int> sum() {
    const int a = co_await answer(20);
    const int b = co_await answer(22);
    co_return a + b;
}

Task<int> throwing() {
    co_await answer(0);
    throw std::runtime_error("camera fell off");
}

Task<void> record(std::vector<QString>& log, QString text) {
    log.push_back(std::move(text));
    co_return;
}

TEST(Task, AwaitsValuesAndPropagatesExceptionsToTheAwaiter) {
    VirtualRuntime rt;
    EXPECT_EQ(rt.run(sum()), 42);
    EXPECT_THROW(rt.run(throwing()), std::runtime_error);
    EXPECT_TRUE(rt.unhandled().isEmpty());
}

TEST(Spawn, StartsOnTheNextTurnOfTheMainQueueNotInsideTheCall) {
    VirtualRuntime rt;
    std::vector<QString> log;
    spawn(rt, record(log, QStringLiteral("ran")));
    EXPECT_TRUE(log.empty());
    rt.runReady();
    EXPECT_EQ(log.size(), 1U);
}

Task<void> failDetached() {
    co_await sleep(1.0);
    throw std::logic_error("lost picture");
}

TEST(Spawn, AnExceptionEscapingADetachedTaskIsReportedNotLost) {
    VirtualRuntime rt;
    const TaskHandle handle = spawn(rt, failDetached());
    rt.runFor(Seconds{2});
    EXPECT_TRUE(handle.done());
    ASSERT_EQ(rt.unhandled().size(), 1);
    EXPECT_TRUE(rt.unhandled().front().contains(QStringLiteral("lost picture")))
        << rt.unhandled().front().toStdString();
}

Task<double> sleepAndMeasure(double seconds) {
    Runtime& runtime = co_await currentRuntime();
    const auto start = runtime.clock().monotonic();
    co_await sleep(seconds);
    co_return (runtime.clock().monotonic() - start).count();
}

TEST(Sleep, LongTimersRunOnTheVirtualClockInstantly) {
    VirtualRuntime rt;
    const auto realStart = std::chrono::steady_clock::now();
    EXPECT_DOUBLE_EQ(rt.run(sleepAndMeasure(45.0)).value(), 45.0);
    EXPECT_DOUBLE_EQ(rt.run(sleepAndMeasure(60.0)).value(), 60.0);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(1));
    EXPECT_EQ(rt.clock().now(), QDateTime(QDate(2024, 6, 1), QTime(12, 1, 45), Qt::UTC));
}

Task<void> sleeper(double seconds, bool& woke, bool& sawCancel, Seconds& at) {
    co_await sleep(seconds);
    woke = true;
    sawCancel = co_await isCancelled();
    at = (co_await currentRuntime()).clock().monotonic();
}

TEST(Sleep, ReturnsEarlyWithoutErrorWhenTheTaskIsCancelled) {
    VirtualRuntime rt;
    bool woke = false, sawCancel = false;
    Seconds at{-1};
    const TaskHandle handle = spawn(rt, sleeper(45, woke, sawCancel, at));
    rt.runFor(Seconds{10});
    EXPECT_FALSE(woke);
    handle.cancel();
    rt.runReady();
    EXPECT_TRUE(woke);
    EXPECT_TRUE(sawCancel);
    EXPECT_DOUBLE_EQ(at.count(), 10.0);
    EXPECT_TRUE(handle.done());
    EXPECT_FALSE(rt.clock().hasTimers()) << "the cancelled sleep left its timer behind";
}

Task<void> sleepTwiceAfterCancel(int& passes) {
    co_await sleep(5);
    ++passes;
    co_await sleep(5);  // already cancelled: must not suspend
    ++passes;
}

TEST(Sleep, ASleepAfterCancellationDoesNotWait) {
    VirtualRuntime rt;
    int passes = 0;
    const TaskHandle handle = spawn(rt, sleepTwiceAfterCancel(passes));
    rt.runReady();
    handle.cancel();
    rt.runReady();
    EXPECT_EQ(passes, 2);
    EXPECT_DOUBLE_EQ(rt.clock().monotonic().count(), 0.0);
}

// An object that runs a task on its own behalf and is destroyed while the task waits.
struct Owner {
    explicit Owner(Runtime& rt) : scope(rt) {}
    struct Probe {
        bool* destroyed;
        ~Probe() { *destroyed = true; }
    };
    Task<void> waitForAnswer(std::optional<Resolver<int>>& resolver, bool& frameDestroyed) {
        Probe probe{&frameDestroyed};
        const int value = co_await waitFor<int>([&](Resolver<int> r) { resolver.emplace(r); });
        answers.push_back(value);  // would write into a destroyed object
    }
    Task<void> sleepThenTouch(bool& frameDestroyed) {
        Probe probe{&frameDestroyed};
        co_await sleep(60);
        answers.push_back(-1);
    }
    std::vector<int> answers;
    Scope scope;
};

TEST(Scope, DestroyingTheOwnerDestroysItsWaitingTasksAndNeverResumesThem) {
    VirtualRuntime rt;
    std::optional<Resolver<int>> resolver;
    bool waitFrameDestroyed = false, sleepFrameDestroyed = false;
    auto owner = std::make_unique<Owner>(rt);
    owner->scope.spawn(owner->waitForAnswer(resolver, waitFrameDestroyed));
    owner->scope.spawn(owner->sleepThenTouch(sleepFrameDestroyed));
    rt.runReady();
    ASSERT_TRUE(resolver.has_value());

    owner.reset();
    EXPECT_TRUE(waitFrameDestroyed) << "the frame must be freed, not left suspended for ever";
    EXPECT_TRUE(sleepFrameDestroyed);
    EXPECT_FALSE(rt.clock().hasTimers());

    // The late answer finds nobody to resume; under ASan a resumption would be a use-after-free.
    EXPECT_TRUE(resolver->resolve(7));
    rt.runFor(Seconds{120});
    EXPECT_TRUE(rt.unhandled().isEmpty());
}

struct SelfDestroying {
    explicit SelfDestroying(Runtime& rt) : scope(rt) {}
    Task<void> run(std::unique_ptr<SelfDestroying>& self, bool& frameDestroyed, bool& continued) {
        Owner::Probe probe{&frameDestroyed};
        self.reset();  // the owner goes away while its own task is running
        co_await sleep(1);
        continued = true;
    }
    Scope scope;
};

TEST(Scope, AnOwnerDestroyedFromInsideItsRunningTaskStopsItAtTheNextSuspension) {
    VirtualRuntime rt;
    bool frameDestroyed = false, continued = false;
    auto object = std::make_unique<SelfDestroying>(rt);
    SelfDestroying* raw = object.get();
    raw->scope.spawn(raw->run(object, frameDestroyed, continued));
    rt.runFor(Seconds{5});
    EXPECT_EQ(object, nullptr);
    EXPECT_TRUE(frameDestroyed);
    EXPECT_FALSE(continued);
}

Task<std::thread::id> resumedOn(std::thread& worker) {
    co_await waitFor<int>([&](Resolver<int> r) { worker = std::thread([r] { r.resolve(1); }); });
    co_return std::this_thread::get_id();
}

TEST(WaitFor, AnAnswerFromAnotherThreadResumesOnTheMainThread) {
    VirtualRuntime rt;
    std::thread worker;
    const auto id = rt.run(resumedOn(worker));
    worker.join();
    EXPECT_EQ(id, std::this_thread::get_id());
}

Task<int> firstWins(std::vector<bool>& outcomes) {
    co_return co_await waitFor<int>([&](Resolver<int> r) {
        outcomes.push_back(r.resolve(1));
        outcomes.push_back(r.resolve(2));
        outcomes.push_back(r.fail(std::make_exception_ptr(std::runtime_error("late"))));
    });
}

TEST(WaitFor, OnlyTheFirstOutcomeTakesEffect) {
    VirtualRuntime rt;
    std::vector<bool> outcomes;
    EXPECT_EQ(rt.run(firstWins(outcomes)), 1);
    EXPECT_EQ(outcomes, (std::vector<bool>{true, false, false}));
}

TEST(Lifetime, AWatchSeesItsObjectGo) {
    auto lifetime = std::make_unique<Lifetime>();
    const auto watch = lifetime->watch();
    EXPECT_TRUE(watch.alive());
    lifetime.reset();
    EXPECT_FALSE(watch.alive());
}

}  // namespace
}  // namespace pexil::async
