#include "camera/session/SessionEngine.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTPReader.h"
#include "support/FakeTransport.h"

#include <gtest/gtest.h>

#include <thread>

namespace pexil::camera {
namespace {

using testing::FakeTransport;

Result<Response, TransportError> okWith(const Operation& op, DataSink& sink, Bytes data = {}) {
    if (!data.empty()) {
        sink.begin(data.size());
        sink.write(data);
    }
    return Response{0x2001, op.transactionId, {}};
}

struct Engine {
    explicit Engine(FakeTransport::Answer answer) {
        auto owned = std::make_unique<FakeTransport>(std::move(answer));
        transport = owned.get();
        engine = SessionEngine::create(rt, std::move(owned));
    }
    bool open() {
        auto opened = rt.run(engine->open());
        return opened && opened->ok();
    }
    async::VirtualRuntime rt;
    FakeTransport* transport = nullptr;
    std::shared_ptr<SessionEngine> engine;
};

TEST(SessionEngine, OpensSessionOneAsTransactionZeroThenNumbersFromOne) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) { return okWith(op, sink); });
    ASSERT_TRUE(e.open());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(e.rt.run(e.engine->exchange(0x1001, {}))->ok());
    const auto ops = e.transport->operations();
    ASSERT_EQ(ops.size(), 4U);
    EXPECT_EQ(ops[0], (Operation{0x1002, 0, {1}}));
    EXPECT_EQ(ops[1].transactionId, 1U);
    EXPECT_EQ(ops[3].transactionId, 3U);
}

TEST(SessionEngine, ACameraWithASessionAlreadyOpenIsTakenAsOpen) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink&) -> Result<Response, TransportError> {
        return Response{static_cast<std::uint16_t>(op.code == 0x1002 ? 0x201E : 0x2001), op.transactionId, {}};
    });
    EXPECT_TRUE(e.open());
    EXPECT_TRUE(e.engine->isOpen());
}

TEST(SessionEngine, OpenFailuresAreReported) {
    Engine refused([](const Operation& op, std::optional<ByteView>, DataSink&) -> Result<Response, TransportError> {
        return Response{0x2002, op.transactionId, {}};
    });
    const auto result = refused.rt.run(refused.engine->open());
    ASSERT_TRUE(result && !result->ok());
    EXPECT_TRUE(result->error().message.contains(QStringLiteral("GeneralError")));

    Engine unplugged([](const Operation& op, std::optional<ByteView>, DataSink& sink) { return okWith(op, sink); });
    unplugged.transport->connectError = TransportError{QStringLiteral("権限がありません")};
    const auto failed = unplugged.rt.run(unplugged.engine->open());
    ASSERT_TRUE(failed && !failed->ok());
    EXPECT_EQ(failed->error().message, QStringLiteral("権限がありません"));
    EXPECT_FALSE(unplugged.engine->isOpen());
}

async::Task<void> askMany(std::shared_ptr<SessionEngine> engine, std::uint16_t code, int count,
                          std::vector<std::uint16_t>& finished) {
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint32_t> params{static_cast<std::uint32_t>(i)};
        auto result = co_await engine->exchange(code, std::move(params));
        if (result) finished.push_back(code);
    }
}

TEST(SessionEngine, ConcurrentCallersShareTheWireOneTransactionAtATime) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return okWith(op, sink, Bytes{1, 2, 3});
    });
    ASSERT_TRUE(e.open());
    std::vector<std::uint16_t> finished;
    async::Scope scope(e.rt);
    for (std::uint16_t code : {0x90C7, 0x9203, 0x1009, 0x1008}) scope.spawn(askMany(e.engine, code, 10, finished));
    ASSERT_TRUE(e.rt.waitUntil([&] { return finished.size() == 40; }));
    EXPECT_EQ(finished.size(), 40U);
    EXPECT_FALSE(e.transport->overlapped);
    const auto ops = e.transport->operations();
    for (std::size_t i = 1; i < ops.size(); ++i) EXPECT_EQ(ops[i].transactionId, i);
}

TEST(SessionEngine, PassThroughReplacesTheTransactionIdAndAnswersWithAResponseContainer) {
    Engine e([](const Operation& op, std::optional<ByteView> out, DataSink& sink) {
        Bytes echo = out ? Bytes(out->begin(), out->end()) : Bytes{9};
        return okWith(op, sink, echo);
    });
    ASSERT_TRUE(e.open());
    Bytes command = PTP::command(PTP::Op::setDevicePropValue, {0x5007});
    std::optional<PTPExchange> got;
    std::thread::id answeredOn;
    e.engine->passThrough(command, Bytes{0x30, 0x02}, [&](PTPExchange x) {
        answeredOn = std::this_thread::get_id();
        got = std::move(x);
    });
    // The completion runs on the I/O thread; wait for it there, not on the main queue.
    for (int i = 0; i < 1000 && !got; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->error);
    EXPECT_EQ(got->data, (Bytes{0x30, 0x02}));
    EXPECT_EQ(PTP::responseCode(got->response), 0x2001);
    EXPECT_NE(answeredOn, std::this_thread::get_id());
    const auto ops = e.transport->operations();
    EXPECT_EQ(ops.back(), (Operation{0x1016, 1, {0x5007}}));
}

TEST(SessionEngine, EventsReachTheMainThreadAndALostLinkIsReportedOnce) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) { return okWith(op, sink); });
    std::vector<Bytes> events;
    std::vector<QString> losses;
    e.engine->setEventHandler([&](Bytes b) { events.push_back(std::move(b)); });
    e.engine->setLossHandler([&](TransportError error) { losses.push_back(error.message); });
    ASSERT_TRUE(e.open());
    e.transport->pushEvent(testing::eventContainer(0x4002, 7));
    ASSERT_TRUE(e.rt.waitUntil([&] { return !events.empty(); }));
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(PTPReader(events[0]).data().size(), 16U);

    e.transport->failEvents(TransportError{QStringLiteral("ケーブルが抜けた")});
    ASSERT_TRUE(e.rt.waitUntil([&] { return !losses.empty(); }));
    e.rt.waitUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(losses, std::vector<QString>{QStringLiteral("ケーブルが抜けた")});
}

TEST(SessionEngine, DestroyingTheEngineWithWorkQueuedDeliversNothingLate) {
    std::atomic<int> calls = 0;
    Engine e([&](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return okWith(op, sink);
    });
    ASSERT_TRUE(e.open());
    int answered = 0;
    for (int i = 0; i < 20; ++i)
        e.engine->passThrough(PTP::command(PTP::Op::getDeviceInfo, {}), std::nullopt, [&](PTPExchange) { ++answered; });
    e.engine.reset();
    EXPECT_EQ(answered, 20) << "every pass-through is answered exactly once, with an error if need be";
    EXPECT_LT(calls.load(), 21);
}

}  // namespace
}  // namespace pexil::camera
