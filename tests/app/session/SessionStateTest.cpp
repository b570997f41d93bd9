// The session model's connection states, warm-up and clock texts, driven through the link's
// callbacks as the link would call them.
#include "SessionHarness.h"

namespace pexil::testing {
namespace {

using Phase = CameraLink::Phase;
using State = ConnectionState;
using Kind = Warmup::Kind;

struct PhaseCase {
    const char* name;
    State before;
    Phase phase;
    State after;
    std::optional<Kind> warmup;
};

TEST(SessionState, EachLinkPhaseMovesTheStateAsTheTableSays) {
    const QString cam = QStringLiteral("D850");
    const QString why = QStringLiteral("カメラが外されました");
    const PhaseCase cases[] = {
        {"detected", State::waiting(), Phase::detected(cam, {}), State::connecting(), Kind::system},
        {"opening", State::waiting(), Phase::opening(cam), State::connecting(), Kind::system},
        {"preparing", State::connecting(), Phase::preparing(cam), State::connecting(), Kind::card},
        {"ready", State::connecting(), Phase::ready(cam), State::connected(cam), std::nullopt},
        {"closed while connected", State::connected(cam), Phase::closed(), State::disconnected(),
         std::nullopt},
        {"closed while connecting", State::connecting(), Phase::closed(), State::connecting(),
         std::nullopt},
        {"searching keeps a reason", State::waiting(why), Phase::searching(), State::waiting(why),
         std::nullopt},
        {"searching after connected", State::connected(cam), Phase::searching(), State::waiting(),
         std::nullopt},
        {"searching after failed", State::failed(why), Phase::searching(), State::waiting(),
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness h;
        ConnectionModelProbe::setState(*h.model, c.before);
        ConnectionModelProbe::phase(*h.model, Phase::opening(cam));  // a warm-up under way
        ConnectionModelProbe::setState(*h.model, c.before);
        ConnectionModelProbe::phase(*h.model, c.phase);
        EXPECT_EQ(h.model->connection().state(), c.after);
        ASSERT_EQ(h.model->connection().warmup().has_value(), c.warmup.has_value());
        if (c.warmup) {
            EXPECT_EQ(h.model->connection().warmup()->kind, *c.warmup);
            EXPECT_EQ(h.model->connection().warmup()->name, cam);
        }
        EXPECT_EQ(h.model->connection().warmupSince().has_value(), c.warmup.has_value());
    }
}

TEST(SessionState, WarmupClockStartsAtTheFirstPhaseAndKeepsCountingIntoTheCardCase) {
    SessionHarness h;
    const QDateTime start = h.rt.clock().now();
    ConnectionModelProbe::phase(*h.model, Phase::opening(QStringLiteral("Z 6")));
    h.rt.clock().advance(async::Seconds(7));
    ConnectionModelProbe::phase(*h.model, Phase::preparing(QStringLiteral("Z 6")));
    EXPECT_EQ(h.model->connection().warmup()->kind, Kind::card);
    EXPECT_EQ(h.model->connection().warmupSince(), start);
    ConnectionModelProbe::phase(*h.model, Phase::ready(QStringLiteral("Z 6")));
    EXPECT_FALSE(h.model->connection().warmupSince());
}

TEST(SessionState, OnlyARecentUsbArrivalDatesTheWarmup) {
    const QDateTime now(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
    EXPECT_EQ(ConnectionModel::recentSince(now.addSecs(-60), now), now.addSecs(-60));
    EXPECT_EQ(ConnectionModel::recentSince(now.addSecs(-179), now), now.addSecs(-179));
    EXPECT_FALSE(ConnectionModel::recentSince(now.addSecs(-180), now));
    EXPECT_FALSE(ConnectionModel::recentSince(now.addSecs(-200), now));
    EXPECT_FALSE(ConnectionModel::recentSince(std::nullopt, now));
}

TEST(SessionState, ALossMovesToWaitingWhileSearchingToFailedOtherwiseAndNowhereWithoutReason) {
    const QString why = QStringLiteral("ケーブルが抜けました");
    const QString cam = QStringLiteral("D850");
    struct Case {
        bool cameraPlugged;  // the link is ready, else searching
        std::optional<QString> reason;
        State after;
    };
    const Case cases[] = {
        {false, why, State::waiting(why)},
        {true, why, State::failed(why)},
        {false, std::nullopt, State::connected(cam)},
        {true, std::nullopt, State::connected(cam)},
    };
    for (const auto& c : cases) {
        SessionHarness h;
        h.makeCamera();
        if (c.cameraPlugged) h.plug();
        h.model->connection().connectCamera();
        ASSERT_TRUE(h.waitUntil([&] {
            return c.cameraPlugged ? h.model->connection().state().is(State::Kind::connected) &&
                                         !h.model->settings().props().empty()
                                   : h.model->link().phase().kind == Phase::Kind::searching;
        }));
        ConnectionModelProbe::setState(*h.model, State::connected(cam));
        ConnectionModelProbe::lost(*h.model, c.reason);
        EXPECT_EQ(h.model->connection().state(), c.after);
        EXPECT_TRUE(h.model->settings().props().empty());
        EXPECT_FALSE(h.model->connection().deviceInfo());
        EXPECT_FALSE(h.model->settings().lightMeter());
    }
}

TEST(SessionState, ClockOffsetReadsAsJapaneseDelayOrLead) {
    const std::pair<std::optional<double>, std::optional<QString>> cases[] = {
        {std::nullopt, std::nullopt},
        {-0.4, QString::fromUtf8("一致")},
        {0.49, QString::fromUtf8("一致")},
        {1, QString::fromUtf8("1秒遅れ")},
        {59.4, QString::fromUtf8("59秒遅れ")},
        {59.6, QString::fromUtf8("1分遅れ")},
        {-30, QString::fromUtf8("30秒進み")},
        {75, QString::fromUtf8("1分遅れ")},
        {-3725, QString::fromUtf8("1時間2分進み")},
        {86400 * 3 + 61, QString::fromUtf8("72時間1分遅れ")},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {1e300, QString::fromUtf8("277777777時間46分遅れ")},
    };
    for (const auto& [offset, text] : cases)
        EXPECT_EQ(ConnectionModel::describeClockOffset(offset), text) << (offset ? *offset : -1);
}

}  // namespace
}  // namespace pexil::testing
