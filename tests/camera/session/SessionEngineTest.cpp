#include "camera/session/SessionEngine.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"
#include "support/FakeTransport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
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
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        return okWith(op, sink);
    });
    ASSERT_TRUE(e.open());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(e.rt.run(e.engine->exchange(0x1001, {}))->ok());
    const auto ops = e.transport->operations();
    ASSERT_EQ(ops.size(), 4U);
    EXPECT_EQ(ops[0], (Operation{0x1002, 0, {1}}));
    EXPECT_EQ(ops[1].transactionId, 1U);
    EXPECT_EQ(ops[3].transactionId, 3U);
}

TEST(SessionEngine, ACameraWithASessionAlreadyOpenIsTakenAsOpen) {
    Engine e([](const Operation& op, std::optional<ByteView>,
                DataSink&) -> Result<Response, TransportError> {
        return Response{
            static_cast<std::uint16_t>(op.code == 0x1002 ? 0x201E : 0x2001), op.transactionId, {}};
    });
    EXPECT_TRUE(e.open());
    EXPECT_TRUE(e.engine->isOpen());
}

TEST(SessionEngine, OpenFailuresAreReported) {
    Engine refused([](const Operation& op, std::optional<ByteView>,
                      DataSink&) -> Result<Response, TransportError> {
        return Response{0x2002, op.transactionId, {}};
    });
    const auto result = refused.rt.run(refused.engine->open());
    ASSERT_TRUE(result && !result->ok());
    EXPECT_TRUE(result->error().message.contains(QStringLiteral("GeneralError")));

    Engine unplugged([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        return okWith(op, sink);
    });
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
        return okWith(op, sink, Bytes{1, 2, 3});
    });
    ASSERT_TRUE(e.open());
    std::vector<std::uint16_t> finished;
    async::Scope scope(e.rt);
    for (std::uint16_t code : {0x90C7, 0x9203, 0x1009, 0x1008})
        scope.spawn(askMany(e.engine, code, 10, finished));
    ASSERT_TRUE(e.rt.waitUntil([&] { return finished.size() == 40; }));
    EXPECT_EQ(finished.size(), 40U);
    EXPECT_FALSE(e.transport->overlapped);
    const auto ops = e.transport->operations();
    for (std::size_t i = 1; i < ops.size(); ++i) EXPECT_EQ(ops[i].transactionId, i);
}

async::Task<void> exchangeNoting(std::shared_ptr<SessionEngine> engine, std::uint16_t code,
                                 std::vector<std::uint32_t> params, std::optional<Bytes> out,
                                 std::optional<Result<Exchange, TransportError>>& result,
                                 std::thread::id& resumedOn) {
    auto answer = co_await engine->exchange(code, std::move(params), std::move(out));
    resumedOn = std::this_thread::get_id();
    result.emplace(std::move(answer));
}

TEST(SessionEngine, AnExchangeCarriesTheHostDataAndIsAnsweredOnTheMainThread) {
    Engine e([](const Operation& op, std::optional<ByteView> out, DataSink& sink) {
        Bytes echo = out ? Bytes(out->begin(), out->end()) : Bytes{9};
        return okWith(op, sink, echo);
    });
    ASSERT_TRUE(e.open());
    std::optional<Result<Exchange, TransportError>> got;
    std::thread::id resumedOn;
    std::vector<std::uint32_t> params{0x5007};
    e.rt.run(exchangeNoting(e.engine, PTP::code(PTP::Op::setDevicePropValue), std::move(params),
                            Bytes{0x30, 0x02}, got, resumedOn));
    ASSERT_TRUE(got && got->ok());
    EXPECT_EQ(got->value().data, (Bytes{0x30, 0x02}));
    EXPECT_EQ(got->value().response.code, 0x2001);
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
    const auto ops = e.transport->operations();
    EXPECT_EQ(ops.back(), (Operation{0x1016, 1, {0x5007}}));
}

TEST(SessionEngine, EventsReachTheMainThreadAndALostLinkIsReportedOnce) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        return okWith(op, sink);
    });
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

// A body that floods the event channel while the main thread is busy must not make us queue
// without end: beyond the bound, events are dropped and counted; once the main thread has
// caught up, events flow again.
TEST(SessionEngine, AnEventFloodIsBoundedWhileTheMainThreadIsBusy) {
    Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
        return okWith(op, sink);
    });
    int delivered = 0;
    e.engine->setEventHandler([&](Bytes) { ++delivered; });
    ASSERT_TRUE(e.open());
    const int flood = SessionEngine::maxEventsWaiting + 500;
    for (int i = 0; i < flood; ++i) e.transport->pushEvent(testing::eventContainer(0x4002, i));
    // The reader runs on while the main thread does nothing: it must stop queueing at the bound.
    for (int i = 0; i < 500 && e.engine->droppedEvents() < 500; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(e.engine->droppedEvents(), 500u);
    ASSERT_TRUE(e.rt.waitUntil([&] { return delivered == SessionEngine::maxEventsWaiting; }));
    e.transport->pushEvent(testing::eventContainer(0x4002, 1));
    ASSERT_TRUE(e.rt.waitUntil([&] { return delivered == SessionEngine::maxEventsWaiting + 1; }));
}

// Where the test and a held camera meet; it outlives the transport the engine destroys.
struct Holding {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool interrupted = false;
};

// A camera that keeps every transaction after OpenSession until the transport is
// interrupted, so that whatever is asked after the first stays queued.
class HeldTransport final : public Transport {
public:
    explicit HeldTransport(std::shared_ptr<Holding> holding)
        : holding_(std::move(holding)),
          inner_([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
              return okWith(op, sink);
          }) {}
    Result<Done, TransportError> connect() override { return inner_.connect(); }
    Result<Response, TransportError> transact(const Operation& op, std::optional<ByteView> out,
                                              DataSink& sink) override {
        if (op.code != PTP::Op::openSession) {
            std::unique_lock lock(holding_->mutex);
            ++holding_->calls;
            holding_->changed.notify_all();
            holding_->changed.wait(lock, [this] { return holding_->interrupted; });
        }
        return inner_.transact(op, out, sink);
    }
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        return inner_.waitEvent(timeout);
    }
    void interrupt() override {
        inner_.interrupt();
        std::lock_guard lock(holding_->mutex);
        holding_->interrupted = true;
        holding_->changed.notify_all();
    }

private:
    std::shared_ptr<Holding> holding_;
    FakeTransport inner_;
};

// The gate stands in front of the wire for every caller: a refused transaction is answered
// with the refusal's code and never reaches the transport.
TEST(SessionEngine, TheCapabilityGateKeepsRefusedTransactionsOffTheWire) {
    DeviceInfo nikon1;
    nikon1.manufacturer = QStringLiteral("Nikon");
    nikon1.model = QStringLiteral("J5");
    nikon1.operations = {0x1001, 0x1014, 0x90C7, 0x90C1};
    nikon1.properties = {0x5001, 0x5007};
    DeviceInfo d850 = nikon1;
    d850.model = QStringLiteral("D850");
    d850.operations = {0x1001};

    struct Case {
        const char* name;
        std::optional<DeviceInfo> learnt;
        std::uint16_t op;
        std::vector<std::uint32_t> params;
        std::uint16_t refusedWith;  // 0: sent
    };
    const Case cases[] = {
        {"vendor command before DeviceInfo", std::nullopt, 0x90C7, {}, 0x2005},
        {"list operation before DeviceInfo", std::nullopt, 0x9805, {0xFFFFFFFF}, 0},
        {"vendor property before DeviceInfo", std::nullopt, 0x1015, {0xD1B1}, 0x200A},
        {"standard property before DeviceInfo", std::nullopt, 0x1015, {0x5007}, 0},
        {"standard command before DeviceInfo", std::nullopt, 0x1007, {0xFFFFFFFF}, 0},
        {"Nikon 1: announced but unsafe", nikon1, 0x90C7, {}, 0x2005},
        {"Nikon 1: unannounced vendor command", nikon1, 0x90C8, {}, 0x2005},
        {"Nikon 1: unannounced property", nikon1, 0x1015, {0xD100}, 0x200A},
        {"Nikon 1: announced vendor command", nikon1, 0x90C1, {}, 0},
        {"D850: anything", d850, 0x90C7, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine e([](const Operation& op, std::optional<ByteView>, DataSink& sink) {
            return okWith(op, sink);
        });
        std::vector<std::pair<std::uint16_t, QString>> told;
        e.engine->setRefusalHandler(
            [&told](std::uint16_t code, std::span<const std::uint32_t>, const Refusal& refusal) {
                told.emplace_back(code, refusal.reason);
            });
        ASSERT_TRUE(e.open());
        if (c.learnt) e.engine->learn(*c.learnt);
        EXPECT_EQ(e.engine->knowsCapabilities(), c.learnt.has_value());
        const auto answer = e.rt.run(e.engine->exchange(c.op, c.params));
        ASSERT_TRUE(answer && answer->ok());
        const auto ops = e.transport->operations();
        if (c.refusedWith == 0) {
            EXPECT_EQ(answer->value().response.code, 0x2001);
            ASSERT_EQ(ops.size(), 2U);
            EXPECT_EQ(ops[1].code, c.op);
            EXPECT_TRUE(told.empty());
        } else {
            EXPECT_EQ(answer->value().response.code, c.refusedWith);
            EXPECT_EQ(ops.size(), 1U) << "only OpenSession reached the camera";
            ASSERT_EQ(told.size(), 1U);
            EXPECT_EQ(told[0].first, c.op);
        }
    }
}

TEST(SessionEngine, DestroyingTheEngineWithWorkQueuedDeliversNothingLate) {
    async::VirtualRuntime rt;
    auto holding = std::make_shared<Holding>();
    auto engine = SessionEngine::create(rt, std::make_unique<HeldTransport>(holding));
    const auto opened = rt.run(engine->open());
    ASSERT_TRUE(opened && opened->ok());
    std::vector<std::uint16_t> finished;
    {
        async::Scope scope(rt);
        for (int i = 0; i < 20; ++i)
            scope.spawn(askMany(engine, PTP::code(PTP::Op::getDeviceInfo), 1, finished));
        rt.runReady();
        std::unique_lock lock(holding->mutex);
        holding->changed.wait(lock, [&] { return holding->calls > 0; });
    }  // the askers go, and with them their hold on the engine
    engine.reset();
    rt.runFor(async::Seconds{1});
    EXPECT_TRUE(finished.empty()) << "nothing may be delivered after the engine is gone";
    std::lock_guard lock(holding->mutex);
    EXPECT_EQ(holding->calls, 1) << "queued work must not reach the camera";
}

}  // namespace
}  // namespace pexil::camera
