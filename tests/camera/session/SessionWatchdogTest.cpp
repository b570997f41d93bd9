// The session engine's watchdog on the virtual clock: a camera that stops mid-transaction
// is given up after the I/O time-out, one that is merely slow is not.
#include "camera/ptpip/PtpIpServer.h"
#include "camera/ptpip/PtpIpTransport.h"
#include "camera/session/SessionEngine.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace pexil::camera {
namespace {

using namespace std::chrono_literals;
using async::Seconds;

constexpr std::uint16_t getObject = 0x1009;
constexpr std::uint16_t getObjectHandles = 0x1007;
constexpr std::uint16_t initiateCapture = 0x100E;

// A camera scripted by the test: OpenSession is answered at once, every other transaction
// waits for release() or interrupt(). The test moves progress() itself (trickle()), and
// the camera answers probes when told to.
class ScriptedCamera final : public Transport {
public:
    explicit ScriptedCamera(std::chrono::milliseconds timeout) : timeout_(timeout) {}

    Result<Done, TransportError> connect() override { return Done{}; }
    Result<Response, TransportError> transact(const Operation& operation, std::optional<ByteView>,
                                              DataSink&) override {
        if (operation.code == 0x1002) return Response{0x2001, operation.transactionId, {}};
        std::unique_lock lock(mutex_);
        if (interrupted_) return TransportError{QStringLiteral("interrupted")};
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return interrupted_ || released_ > 0; });
        if (interrupted_) return TransportError{QStringLiteral("interrupted")};
        --released_;
        return Response{0x2001, operation.transactionId, {}};
    }
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return interrupted_; });
        if (interrupted_) return TransportError{QStringLiteral("interrupted")};
        return std::optional<Bytes>();
    }
    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        changed_.notify_all();
    }
    std::optional<std::chrono::milliseconds> ioTimeout() const override { return timeout_; }
    std::uint64_t progress() const override { return progress_; }
    void probe() override {
        ++probes;
        if (answersProbes) ++progress_;
    }

    void trickle() { ++progress_; }
    void release() {
        std::lock_guard lock(mutex_);
        ++released_;
        changed_.notify_all();
    }
    int entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }

    std::atomic<bool> answersProbes = false;
    std::atomic<int> probes = 0;

private:
    std::chrono::milliseconds timeout_;
    std::atomic<std::uint64_t> progress_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    int released_ = 0;
    bool interrupted_ = false;
};

template <class T>
async::Task<void> into(async::Task<T> task, std::optional<T>& out) {
    out.emplace(co_await std::move(task));
}

// Counts what a data phase brought, from the engine's I/O thread.
class CountingSink final : public DataSink {
public:
    bool begin(std::optional<std::uint64_t>) override { return true; }
    bool write(ByteView piece) override {
        std::lock_guard lock(mutex);
        data.insert(data.end(), piece.begin(), piece.end());
        return true;
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return data.size();
    }
    std::mutex mutex;
    Bytes data;
};

struct Watched {
    explicit Watched(std::unique_ptr<Transport> transport) {
        engine = SessionEngine::create(rt, std::move(transport));
        engine->setLossHandler([this](TransportError error) { losses.push_back(error.message); });
    }
    bool open() {
        auto opened = rt.run(engine->open(), Seconds{30});
        return opened && opened->ok();
    }
    // Waits in real time, time standing still, for what the engine's or the camera's threads
    // do without telling the main queue (waitUntil wakes only for posted work).
    bool settle(const std::function<bool()>& done) {
        for (int i = 0; i < 2000; ++i)
            if (rt.waitUntil(done, 5ms)) return true;
        return false;
    }
    // Moves virtual time in `step`s, as long as `until` does not hold, up to `limit`; how
    // much time it took. Between steps it gives the engine's threads time to answer.
    Seconds advanceUntil(const std::function<bool()>& until, Seconds step, Seconds limit,
                         const std::function<void()>& eachStep = {}) {
        const auto start = rt.clock().monotonic();
        while (!until() && rt.clock().monotonic() - start < limit) {
            rt.clock().advance(step);
            rt.runReady();
            if (eachStep) eachStep();
            rt.waitUntil(until, 5ms);
        }
        return rt.clock().monotonic() - start;
    }

    async::VirtualRuntime rt;
    std::shared_ptr<SessionEngine> engine;
    std::vector<QString> losses;
};

// ---- The watchdog's rules, on a scripted camera ----

TEST(SessionWatchdog, ASilentCommandIsCutAfterTheTimeOutAndEveryWaiterHearsOnce) {
    auto owned = std::make_unique<ScriptedCamera>(20s);
    ScriptedCamera& camera = *owned;
    Watched w(std::move(owned));
    ASSERT_TRUE(w.open());
    // A D850, so that the gate lets the Nikon commands below through.
    DeviceInfo d850;
    d850.manufacturer = QStringLiteral("Nikon");
    d850.model = QStringLiteral("D850");
    w.engine->learn(d850);

    // A command without a data phase that is never answered, and two waiting behind it.
    std::optional<Result<Exchange, TransportError>> first, second, third;
    async::Scope scope(w.rt);
    scope.spawn(into(w.engine->exchange(initiateCapture, {}), first));
    scope.spawn(into(w.engine->exchange(0x90C8, {}), second));
    scope.spawn(into(w.engine->exchange(0x90C7, {}), third));
    ASSERT_TRUE(w.settle([&] { return camera.entered() == 1; }));

    const auto took = w.advanceUntil([&] { return first && second && third; }, 0.5s, 60s);
    ASSERT_TRUE(first && second && third);
    EXPECT_GE(took.count(), 20.0);
    EXPECT_LE(took.count(), 21.5);
    for (const auto* result : {&first, &second, &third}) {
        ASSERT_FALSE((*result)->ok());
        EXPECT_EQ(
            (*result)->error().message,
            QStringLiteral("カメラが 20 秒間応答しませんでした。カメラの電源と接続（ケーブルや "
                           "Wi-Fi）を確かめてください。"));
    }
    // Probed at 5, 10 and 15 s of silence before giving up.
    EXPECT_EQ(camera.probes, 3);
    w.rt.waitUntil([] { return false; }, 50ms);
    ASSERT_EQ(w.losses.size(), 1U);
    EXPECT_EQ(w.losses[0], first->error().message);
    EXPECT_EQ(camera.entered(), 1) << "the waiting ones never reached the dead link's camera";
}

TEST(SessionWatchdog, ASlowCameraIsNotCut) {
    struct Case {
        const char* name;
        bool answersProbes;
        bool tricklesEverySecond;
    };
    const std::vector<Case> cases{
        {"one byte a second", false, true},
        {"silent but answering every probe", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = std::make_unique<ScriptedCamera>(20s);
        ScriptedCamera& camera = *owned;
        camera.answersProbes = c.answersProbes;
        Watched w(std::move(owned));
        ASSERT_TRUE(w.open());
        std::optional<Result<Exchange, TransportError>> result;
        async::Scope scope(w.rt);
        scope.spawn(into(w.engine->exchange(getObject, {1}), result));
        ASSERT_TRUE(w.settle([&] { return camera.entered() == 1; }));

        // Three time-outs' worth of a camera that keeps going.
        w.advanceUntil([&] { return result.has_value(); }, 1s, 60s,
                       [&] {
                           if (c.tricklesEverySecond) camera.trickle();
                       });
        EXPECT_FALSE(result) << "cut while the camera was still there";
        camera.release();
        ASSERT_TRUE(w.rt.waitUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(result->ok());
        EXPECT_TRUE(w.losses.empty());
        if (c.answersProbes) {
            EXPECT_GE(camera.probes, 8);
        } else {
            EXPECT_EQ(camera.probes, 0) << "a camera moving bytes is never probed";
        }
    }
}

// ---- The virtual camera's stall, in process and over PTP/IP ----

enum class Link { inProcess, ptpip };

class VirtualStall : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        VirtualCamera::Options options;
        options.photos = 1;
        auto made = VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        camera = made.value();
        if (GetParam() == Link::ptpip) {
            server = std::make_unique<PtpIpServer>(camera, "127.0.0.1", 0);
            ASSERT_TRUE(server->start());
        }
    }
    void TearDown() override {
        if (server) server->stop();
    }

    std::unique_ptr<Transport> link() const {
        if (GetParam() == Link::inProcess) return std::make_unique<VirtualTransport>(camera, 5s);
        PtpIpTransport::Options options;
        options.host = "127.0.0.1";
        options.port = server->port();
        options.ioTimeout = 5s;
        return std::make_unique<PtpIpTransport>(options);
    }

    // The card's only picture: its handle, and its bytes as the card holds them.
    std::pair<std::uint32_t, Bytes> picture(Watched& w) const {
        auto handles =
            w.rt.run(w.engine->exchange(getObjectHandles, {0xFFFFFFFF, 0, 0}), Seconds{30});
        if (!handles || !handles->ok()) return {};
        const Bytes& list = handles->value().data;
        std::uint32_t handle = 0;
        for (std::size_t at = 4; at + 4 <= list.size(); at += 4) {
            const std::uint32_t h = list[at] | list[at + 1] << 8 | list[at + 2] << 16 |
                                    static_cast<std::uint32_t>(list[at + 3]) << 24;
            // ObjectInfo: StorageID, then ObjectFormat; 0x3801 is a JPEG, folders are 0x3001.
            const auto info = w.rt.run(w.engine->exchange(0x1008, {h}), Seconds{30});
            if (info && info->ok() && info->value().data.size() > 6 &&
                info->value().data[4] == 0x01 && info->value().data[5] == 0x38)
                handle = h;
        }
        QDirIterator it(camera->cardDir(), {QStringLiteral("*.JPG")}, QDir::Files,
                        QDirIterator::Subdirectories);
        if (!it.hasNext()) return {handle, {}};
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly)) return {handle, {}};
        const QByteArray bytes = file.readAll();
        return {handle, Bytes(bytes.begin(), bytes.end())};
    }

    std::shared_ptr<VirtualCamera> camera;
    std::unique_ptr<PtpIpServer> server;
};

TEST_P(VirtualStall, AStallDuringGetObjectLosesTheSessionAndTheNextSessionWorks) {
    std::uint32_t handle = 0;
    Bytes original;
    {
        Watched w(link());
        ASSERT_TRUE(w.open());
        std::tie(handle, original) = picture(w);
        ASSERT_GT(original.size(), 1000U);

        camera->stallAfter(1000);
        auto sink = std::make_shared<CountingSink>();
        std::optional<Result<Response, TransportError>> got;
        async::Scope scope(w.rt);
        scope.spawn(into(w.engine->transact(getObject, {handle}, std::nullopt, sink), got));
        // The camera's threads get there in real time while virtual time stands still.
        ASSERT_TRUE(w.settle([&] { return camera->isStalled() && sink->size() == 1000; }));

        const auto took = w.advanceUntil([&] { return got.has_value(); }, 0.25s, 30s);
        ASSERT_TRUE(got);
        EXPECT_GE(took.count(), 5.0);
        EXPECT_LE(took.count(), 6.5);
        ASSERT_FALSE(got->ok());
        EXPECT_TRUE(
            got->error().message.startsWith(QStringLiteral("カメラが 5 秒間応答しませんでした。")))
            << got->error().message.toStdString();
        EXPECT_EQ(sink->size(), 1000U);
        w.rt.waitUntil([] { return false; }, 50ms);
        EXPECT_EQ(w.losses, std::vector<QString>{got->error().message});
        // Given up by the host, the camera is back in reach.
        EXPECT_TRUE(w.settle([&] { return !camera->isStalled(); }));
    }
    Watched next(link());
    ASSERT_TRUE(next.open());
    const auto whole = next.rt.run(next.engine->exchange(getObject, {handle}), Seconds{30});
    ASSERT_TRUE(whole && whole->ok());
    EXPECT_EQ(whole->value().response.code, 0x2001);
    EXPECT_EQ(whole->value().data, original) << "the picture is still on the card, whole";
}

INSTANTIATE_TEST_SUITE_P(Links, VirtualStall, ::testing::Values(Link::inProcess, Link::ptpip),
                         [](const auto& info) {
                             return std::string(info.param == Link::inProcess ? "InProcess"
                                                                              : "PtpIp");
                         });

}  // namespace
}  // namespace pexil::camera
