#include "kit/async/Completion.h"
#include "kit/async/Spawn.h"
#include "support/CameraFixture.h"

#include <thread>

namespace pexil {
namespace {

using testing::CameraFixture;
using Step = testing::ScriptedTransport::Step;

std::optional<std::uint16_t> codeOf(const CameraResult<Bytes>& result) {
    if (result) return std::nullopt;
    return responseCodeOf(result.error());
}

// What the camera learns from its DeviceInfo. (Its capability gate is the session's, below
// it: CameraCapabilitiesTest and SessionEngineTest.)
class PTPCameraIdentity : public CameraFixture {};

TEST_F(PTPCameraIdentity, AFailedDeviceInfoLeavesTheCameraUnknown) {
    transport->answer(PTP::Op::getDeviceInfo, 0x2002);
    EXPECT_FALSE(run(camera->readDeviceInfo()).has_value());
    transport->ok(PTP::Op::getDeviceInfo, Bytes{1, 2, 3});  // does not parse
    EXPECT_FALSE(run(camera->readDeviceInfo()).has_value());
    EXPECT_FALSE(camera->info());
    EXPECT_FALSE(camera->capabilities());
    EXPECT_EQ(camera->vendor(), 0U);
}

TEST_F(PTPCameraIdentity, ANikonIsKnownByItsDeviceInfo) {
    identify({.operations = {0x1001}});
    EXPECT_EQ(camera->vendor(), 10U);
    EXPECT_TRUE(camera->speaksNikon());
    EXPECT_FALSE(camera->offers(PTP::Op::nikonCheckEvent));
    EXPECT_TRUE(camera->offers(PTP::Op::getDeviceInfo));
}

class PTPCameraSend : public CameraFixture {};

TEST_F(PTPCameraSend, GivesTheDataPhaseOrTheResponseCodeAndKeepsCount) {
    transport->ok(PTP::Op::getDeviceInfo, Bytes{9, 8, 7});
    transport->answer(PTP::Op::initiateCapture, 0x2019);
    transport->expect({.op = 0x100E, .response = 0x0000});  // no response at all
    transport->expect({.op = 0x100E, .error = TransportError{QStringLiteral("ケーブルが抜けた")}});
    EXPECT_EQ(run(camera->send(PTP::Op::getDeviceInfo)).value(), (Bytes{9, 8, 7}));
    EXPECT_EQ(codeOf(run(camera->send(PTP::Op::initiateCapture, {0, 0}))), 0x2019);
    const auto shortResponse = run(camera->send(PTP::Op::initiateCapture, {0, 0}));
    EXPECT_EQ(codeOf(shortResponse), 0);
    EXPECT_EQ(describe(shortResponse.error()), QStringLiteral("カメラが応答しました: 応答なし"));
    const auto cut = run(camera->send(PTP::Op::initiateCapture, {0, 0}));
    EXPECT_EQ(cut.error(), CameraError(TransportError{QStringLiteral("ケーブルが抜けた")}));
    EXPECT_EQ(camera->inFlight(), 0);
    EXPECT_EQ(transport->sent()[1].params, (std::vector<std::uint32_t>{0, 0}));
}

TEST_F(PTPCameraSend, PassesTheHostDataPhase) {
    transport->ok(PTP::Op::setDevicePropValue);
    EXPECT_TRUE(run(camera->send(PTP::Op::setDevicePropValue, {0x5007}, Bytes{0x30, 0x02})).ok());
    EXPECT_EQ(transport->sent()[0].outData, (Bytes{0x30, 0x02}));
}

TEST_F(PTPCameraSend, ATimeLimitEndsTheWaitAndTheLateAnswerIsDropped) {
    transport->expect({.op = 0x1015, .data = Bytes{1}, .delay = 2.0});
    const auto result = run(camera->send(PTP::Op::getDevicePropValue, {0x5001}, std::nullopt, 1.0));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), CameraError(PTPError::timedOut(QStringLiteral("0x1015"))));
    EXPECT_DOUBLE_EQ(rt.clock().monotonic().count(), 1.0);
    EXPECT_EQ(camera->inFlight(), 0);
    rt.runFor(async::Seconds{5});  // the answer arrives at 2 s and must change nothing
    EXPECT_EQ(camera->inFlight(), 0);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(PTPCameraSend, ASlowCommandIsReportedAt45SecondsAndWhenItReturns) {
    identify();
    transport->expect({.op = 0x90C7, .data = Bytes{0, 0}, .delay = 50.0});
    EXPECT_TRUE(run(camera->send(PTP::Op::nikonCheckEvent)).ok());
    EXPECT_EQ(log, (QStringList{QStringLiteral("PTP 0x90C7 が 45 秒返らない"),
                                QStringLiteral("PTP 0x90C7 がようやく返った（50 秒）")}));
    EXPECT_FALSE(rt.clock().hasTimers()) << "the watchdog outlived its command";
}

TEST_F(PTPCameraSend, AQuickCommandLeavesNoWatchdogLine) {
    transport->expect({.op = 0x1001, .delay = 44.0});
    EXPECT_TRUE(run(camera->send(PTP::Op::getDeviceInfo)).ok());
    rt.runFor(async::Seconds{120});
    EXPECT_TRUE(log.isEmpty());
}

async::Task<void> sendAndKeep(PTPCamera& camera, PTP::Op op,
                              std::optional<CameraResult<Bytes>>& out) {
    out.emplace(co_await camera.send(op));
}

TEST_F(PTPCameraSend, CountsConcurrentCommandsInFlight) {
    transport->expect({.op = 0x1001, .delay = 3.0}).expect({.op = 0x1004, .delay = 1.0});
    std::optional<CameraResult<Bytes>> first, second;
    async::spawn(rt, sendAndKeep(*camera, PTP::Op::getDeviceInfo, first));
    async::spawn(rt, sendAndKeep(*camera, PTP::Op::getStorageIDs, second));
    rt.runReady();
    EXPECT_EQ(camera->inFlight(), 2);
    rt.runFor(async::Seconds{2});
    EXPECT_EQ(camera->inFlight(), 1);
    EXPECT_TRUE(second.has_value());
    rt.runFor(async::Seconds{2});
    EXPECT_EQ(camera->inFlight(), 0);
    EXPECT_TRUE(first.has_value());
}

TEST_F(PTPCameraSend, ACameraDestroyedWhileACommandWaitsIsNotTouchedByTheAnswer) {
    transport->expect({.op = 0x1001, .data = Bytes{5}, .delay = 60.0});
    std::optional<CameraResult<Bytes>> result;
    async::spawn(rt, sendAndKeep(*camera, PTP::Op::getDeviceInfo, result));
    rt.runFor(async::Seconds{50});
    EXPECT_EQ(log.size(), 1);  // the 45-second line
    camera.reset();
    rt.runFor(async::Seconds{20});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->value(), Bytes{5});
    EXPECT_EQ(log.size(), 1) << "nothing may be logged for a destroyed camera";
}

// A transport that answers from its own thread, as USB and network transports do.
class ThreadedTransport final : public CommandTransport {
public:
    ~ThreadedTransport() override {
        for (auto& t : threads_) t.join();
    }
    async::Task<Result<PTPAnswer, TransportError>> transact(PTPRequest) override {
        using Outcome = Result<PTPAnswer, TransportError>;
        auto answerLater = [this](async::Resolver<Outcome> resolver) {
            threads_.emplace_back([resolver] {
                resolver.resolve(PTPAnswer{0x2001, {}, Bytes{42}});
            });
        };
        auto answer = co_await async::waitFor<Outcome>(std::move(answerLater));
        co_return answer;
    }

private:
    std::vector<std::thread> threads_;
};

TEST(PTPCameraThreads, AnAnswerFromAnotherThreadCompletesOnTheMainThread) {
    async::VirtualRuntime rt;
    auto transport = std::make_shared<ThreadedTransport>();
    PTPCamera camera(rt, transport, {});
    const auto result = rt.run(camera.send(PTP::Op::getDeviceInfo));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->value(), Bytes{42});
    EXPECT_EQ(camera.inFlight(), 0);
}

}  // namespace
}  // namespace pexil
