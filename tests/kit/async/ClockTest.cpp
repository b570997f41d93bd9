#include "kit/async/Clock.h"
#include "kit/async/Executor.h"
#include "kit/async/VirtualClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace pexil::async {
namespace {

TEST(VirtualClock, FiresTimersInDueOrderAndStartOrderOnTies) {
    VirtualClock clock;
    std::vector<int> order;
    clock.startTimer(Seconds{2}, [&] { order.push_back(2); });
    clock.startTimer(Seconds{1}, [&] { order.push_back(1); });
    clock.startTimer(Seconds{2}, [&] { order.push_back(3); });
    const TimerId cancelled = clock.startTimer(Seconds{1.5}, [&] { order.push_back(99); });
    clock.cancelTimer(cancelled);
    clock.cancelTimer(cancelled);  // twice is harmless
    clock.advance(Seconds{1.5});
    EXPECT_EQ(order, (std::vector<int>{1}));
    EXPECT_DOUBLE_EQ(clock.monotonic().count(), 1.5);
    while (clock.fireNext()) {
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_DOUBLE_EQ(clock.monotonic().count(), 2.0);
}

TEST(VirtualClock, ATimerStartedByATimerFiresLaterInTheSameAdvance) {
    VirtualClock clock;
    std::vector<double> at;
    clock.startTimer(Seconds{1}, [&] {
        at.push_back(clock.monotonic().count());
        clock.startTimer(Seconds{1}, [&] { at.push_back(clock.monotonic().count()); });
    });
    clock.advance(Seconds{5});
    EXPECT_EQ(at, (std::vector<double>{1.0, 2.0}));
    EXPECT_DOUBLE_EQ(clock.monotonic().count(), 5.0);
}

TEST(VirtualClock, WallTimeFollowsTheMonotonicTimeUntilSetByHand) {
    VirtualClock clock(QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59), Qt::UTC));
    clock.advance(Seconds{1.5});
    EXPECT_EQ(clock.now(), QDateTime(QDate(2024, 2, 1), QTime(0, 0, 0, 500), Qt::UTC));
    clock.setWallTime(QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC));
    clock.advance(Seconds{2});
    EXPECT_EQ(clock.now(), QDateTime(QDate(2030, 1, 1), QTime(0, 0, 2), Qt::UTC));
    EXPECT_DOUBLE_EQ(clock.monotonic().count(), 3.5);
}

TEST(ManualExecutor, PostFromManyThreadsLosesNothing) {
    ManualExecutor executor;
    int ran = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) executor.post([&] { ++ran; });
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(executor.runAll(), 1000U);
    EXPECT_EQ(ran, 1000);
}

TEST(QtExecutorAndSystemClock, RunWorkAndTimersOnTheEventLoopThread) {
    QObject context;
    QtExecutor executor(&context);
    SystemClock clock;
    QEventLoop loop;
    std::thread::id postedOn, timerOn;
    std::thread poster([&] { executor.post([&] { postedOn = std::this_thread::get_id(); }); });
    poster.join();
    clock.startTimer(Seconds{0}, [&] {
        timerOn = std::this_thread::get_id();
        loop.quit();
    });
    const TimerId never =
        clock.startTimer(Seconds{0}, [&] { ADD_FAILURE() << "cancelled timer fired"; });
    clock.cancelTimer(never);
    QTimer::singleShot(5000, &loop, [&] { loop.quit(); });  // safety net if the loop never quits
    loop.exec();
    QCoreApplication::processEvents();
    EXPECT_EQ(postedOn, std::this_thread::get_id());
    EXPECT_EQ(timerOn, std::this_thread::get_id());
    EXPECT_GE(clock.now().toSecsSinceEpoch(),
              QDateTime(QDate(2024, 1, 1), QTime(0, 0)).toSecsSinceEpoch());
}

}  // namespace
}  // namespace pexil::async
