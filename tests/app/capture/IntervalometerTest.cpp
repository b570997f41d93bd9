// Timed series on the virtual clock: exact cadence, a slow save, a full buffer, a failed
// shot and stopping, each with the photographer's summary.
#include "app/capture/Intervalometer.h"
#include "kit/async/Sleep.h"
#include "kit/async/VirtualRuntime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace pexil {
namespace {

struct Rig {
    // Each shot takes `saving` seconds until its picture is saved; `failAt` fails that shot.
    Rig() {
        series = std::make_unique<Intervalometer>(
            rt,
            [this]() -> async::Task<bool> {
                released.push_back(seconds());
                co_await async::sleep(saving);
                co_return released.size() != static_cast<std::size_t>(failAt);
            },
            [this] { return full; });
    }
    double seconds() { return rt.clock().monotonic().count() - start; }

    async::VirtualRuntime rt;
    double start = rt.clock().monotonic().count();
    double saving = 0.5;
    int failAt = -1;
    bool full = false;
    std::vector<double> released;
    std::unique_ptr<Intervalometer> series;
};

TEST(Intervalometer, ReleasesKeepTheirCadenceOrFollowASlowSaveAtOnce) {
    struct Case {
        const char* name;
        Intervalometer::Plan plan;
        double saving;
        std::vector<double> released;
    };
    const std::vector<Case> cases{
        {"2 s apart after a 1 s delay", {2, 3, 1}, 0.5, {1, 3, 5}},
        {"saves slower than the interval", {1, 3, 0}, 1.5, {0, 1.5, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.saving = c.saving;
        const auto summary = r.rt.run(r.series->run(c.plan));
        ASSERT_TRUE(summary);
        EXPECT_EQ(*summary, QString::fromUtf8("インターバル撮影: 3 枚撮りました。"));
        ASSERT_EQ(r.released.size(), c.released.size());
        for (std::size_t i = 0; i < c.released.size(); ++i)
            EXPECT_NEAR(r.released[i], c.released[i], 1e-6) << i;
        EXPECT_FALSE(r.series->running());
        EXPECT_EQ(r.series->progressText(), QString());
    }
}

TEST(Intervalometer, StoppingEndsTheWaitAtOnceAndKeepsWhatWasTaken) {
    Rig r;
    QString summary;
    QObject::connect(r.series.get(), &Intervalometer::finished,
                     [&](const QString& text) { summary = text; });
    r.series->start({10, 0, 0});
    r.rt.runFor(async::Seconds(25));
    EXPECT_EQ(r.released, (std::vector<double>{0, 10, 20}));
    EXPECT_TRUE(r.series->progressText().startsWith(QStringLiteral("インターバル撮影 3 枚　次 ")))
        << r.series->progressText().toStdString();
    const double cancelledAt = r.seconds();
    r.series->cancel();
    r.rt.runFor(async::Seconds(0));
    EXPECT_EQ(summary, QString::fromUtf8("インターバル撮影を止めました（3 枚）。"));
    EXPECT_DOUBLE_EQ(r.seconds(), cancelledAt);
    r.rt.runFor(async::Seconds(60));
    EXPECT_EQ(r.released.size(), 3u);
}

TEST(Intervalometer, AFullBufferHoldsTheNextReleaseAndSaysSo) {
    Rig r;
    QString summary;
    QObject::connect(r.series.get(), &Intervalometer::finished,
                     [&](const QString& text) { summary = text; });
    r.series->start({2, 3, 0});
    r.rt.runFor(async::Seconds(1));
    r.full = true;
    r.series->bufferChanged();
    r.rt.runFor(async::Seconds(6));  // the second release was due at 2
    EXPECT_EQ(r.released.size(), 1u);
    EXPECT_TRUE(r.series->waitingForBuffer());
    EXPECT_TRUE(r.series->progressText().endsWith(
        QStringLiteral("カメラのバッファが空くのを待っています")));
    r.full = false;
    r.series->bufferChanged();
    r.rt.runFor(async::Seconds(10));
    ASSERT_EQ(r.released.size(), 3u);
    EXPECT_NEAR(r.released[1], 7, 1e-6);
    EXPECT_NEAR(r.released[2], 7.5, 1e-6);  // due at 4: fired once the one before was saved
    EXPECT_EQ(summary, QString::fromUtf8("インターバル撮影: 3 枚撮りました。"));

    // A buffer that never empties ends the series instead of waiting forever.
    Rig stuck;
    stuck.full = true;
    const auto gaveUp = stuck.rt.run(stuck.series->run({2, 3, 0}));
    ASSERT_TRUE(gaveUp);
    EXPECT_TRUE(gaveUp->contains(QString::fromUtf8("バッファが空かない"))) << gaveUp->toStdString();
    EXPECT_TRUE(stuck.released.empty());
}

TEST(Intervalometer, AFailedShotStopsTheSeriesAndABadPlanIsRefused) {
    Rig r;
    r.failAt = 2;
    const auto summary = r.rt.run(r.series->run({3, 5, 0}));
    ASSERT_TRUE(summary);
    EXPECT_EQ(*summary, QString::fromUtf8(
                            "インターバル撮影: 2 枚目を撮れなかったので止めました（1 枚撮影）。"));

    const Intervalometer::Plan bad[] = {
        {0.5, 3, 0}, {NAN, 3, 0}, {2, -1, 0}, {2, 10000, 0}, {2, 3, -1}};
    for (const auto& plan : bad) {
        EXPECT_TRUE(Intervalometer::check(plan))
            << plan.interval << " " << plan.shots << " " << plan.delay;
        Rig refused;
        const auto text = refused.rt.run(refused.series->run(plan));
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, *Intervalometer::check(plan));
        EXPECT_TRUE(refused.released.empty());
    }
    EXPECT_FALSE(Intervalometer::check({1, 0, 0}));
}

}  // namespace
}  // namespace pexil
