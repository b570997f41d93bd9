// The link's phases and session lifecycle against the virtual camera.
#include "LinkHarness.h"

#include <QRegularExpression>

#include <algorithm>

namespace pexil::testing {
namespace {

using Kind = CameraLink::Phase::Kind;

std::vector<Kind> kinds(const std::vector<CameraLink::Phase>& phases) {
    std::vector<Kind> out;
    for (const auto& p : phases) out.push_back(p.kind);
    return out;
}

TEST(CameraLink, SearchesWithNothingAttachedThenOpensPreparesAndReadiesWhenPlugged) {
    LinkHarness h;
    h.makeCamera(3, -30);
    h.link->open();
    h.rt.runReady();
    EXPECT_EQ(kinds(h.phases), std::vector<Kind>{Kind::searching});
    EXPECT_TRUE(h.hasLine("接続: カメラを探しています"));

    h.plug();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady(); }));
    EXPECT_EQ(kinds(h.phases),
              (std::vector<Kind>{Kind::searching, Kind::opening, Kind::preparing, Kind::ready}));
    const QString name = h.camera->model().model;
    EXPECT_EQ(h.phases.back(), CameraLink::Phase::ready(name));
    EXPECT_EQ(h.readies, 1);
    ASSERT_NE(h.link->camera(), nullptr);

    const QStringList lines = h.lines();
    const auto banner =
        lines.indexOf(QRegularExpression(QStringLiteral("^Pexil 起動  \\d{4}-\\d\\d-\\d\\d .*")));
    const auto hello =
        lines.indexOf(QString::fromUtf8("接続: ") + name + QString::fromUtf8("（virtual）"));
    const auto info =
        lines.indexOf(QRegularExpression(QStringLiteral("^DeviceInfo: Nikon .* S/N .+")));
    // The camera is 30 s behind; nothing moved our clock while preparing.
    const auto ready = lines.indexOf(QString::fromUtf8("準備完了 0.0 秒（時計のずれ 30.0 秒）"));
    EXPECT_GE(banner, 0);
    EXPECT_GT(hello, banner);
    EXPECT_GT(info, hello);
    EXPECT_GT(ready, info);
    EXPECT_TRUE(h.lost.empty());
}

TEST(CameraLink, OpenTwiceWhileReadyChangesNothingAndCloseThenOpenReopensAtOnce) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    const auto phasesBefore = h.phases.size();
    h.link->open();
    h.drain();
    EXPECT_EQ(h.phases.size(), phasesBefore);
    EXPECT_EQ(h.readies, 1);

    h.link->close();
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
    EXPECT_EQ(h.link->camera(), nullptr);
    ASSERT_TRUE(h.waitUntil([&] { return h.hasLine("セッションが閉じた"); }));
    EXPECT_TRUE(h.hasLine("切断: セッションを閉じる"));
    EXPECT_TRUE(h.lost.empty()) << "a close the owner asked for is no loss";

    h.link->open();
    EXPECT_EQ(h.link->phase().kind, Kind::opening) << "the held device is reopened without waiting";
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady(); }));
    EXPECT_EQ(h.readies, 2);
    EXPECT_EQ(h.linesStarting("Pexil 起動").size(), 2) << "each attempt opens with a banner";
}

TEST(CameraLink, OpenAgainWhileOpeningStartsNoSecondAttempt) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    QObject::connect(h.link.get(), &CameraLink::phaseChanged, [&](const CameraLink::Phase& p) {
        if (p.kind == Kind::opening) h.link->open();
    });
    h.openAndWaitReady(0);
    h.drain();
    EXPECT_EQ(h.readies, 1);
    EXPECT_EQ(h.linesStarting("Pexil 起動").size(), 1);
    EXPECT_EQ(h.linesStarting("準備完了").size(), 1);
}

TEST(CameraLink, SessionClosedByTheCameraWhileReadyIsALossWithItsDescription) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(0);
    h.camera->unplug();  // the link dies under the session; the service still lists the device
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    ASSERT_EQ(h.lost.size(), 1u);
    ASSERT_TRUE(h.lost[0].has_value());
    EXPECT_FALSE(h.lost[0]->isEmpty());
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
    EXPECT_EQ(h.link->camera(), nullptr);
    EXPECT_TRUE(h.hasLine("セッションが閉じた"));
}

TEST(CameraLink, RemovalWhilePreparingNeverReachesReady) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    QObject::connect(h.link.get(), &CameraLink::phaseChanged, [&](const CameraLink::Phase& p) {
        // The service drops the device while the camera still answers: only the link's
        // own identity checks can stop the preparation.
        if (p.kind == Kind::preparing) h.source->remove(h.device);
    });
    h.link->open();
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    EXPECT_EQ(h.lost[0], QString::fromUtf8("カメラが取り外されました"));
    EXPECT_EQ(h.link->phase().kind, Kind::searching) << "still wanted: back to waiting";
    // Let the preparation run out: failed reads and their pauses.
    for (int round = 0; round < 4; ++round) {
        h.drain();
        h.runTimers(1);
    }
    EXPECT_EQ(h.readies, 0);
    EXPECT_TRUE(h.linesStarting("準備完了").isEmpty());
    EXPECT_EQ(h.link->phase().kind, Kind::searching);
    EXPECT_TRUE(h.hasLine("カメラが外れた"));
}

TEST(CameraLink, RemovalWithoutASessionIsNoLoss) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    ASSERT_TRUE(h.waitUntil([&] {
        return h.hasLine("カメラを検出: D850") || !h.linesStarting("カメラを検出").isEmpty();
    }));
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
    h.unplug();
    ASSERT_TRUE(h.waitUntil([&] { return h.hasLine("カメラが外れた"); }));
    EXPECT_TRUE(h.lost.empty());
    EXPECT_TRUE(h.phases.empty()) << "closed to closed notifies nobody";
}

TEST(CameraLink, CloseWhileOpeningDoesNotLeaveAnUnwantedSessionBehind) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    QObject::connect(h.link.get(), &CameraLink::phaseChanged, [&](const CameraLink::Phase& p) {
        if (p.kind == Kind::opening) h.link->close();
    });
    h.link->open();
    ASSERT_TRUE(
        h.waitUntil([&] { return h.link->phase().kind == Kind::opening || !h.phases.empty(); }));
    h.drain();
    h.drain();
    EXPECT_EQ(h.readies, 0);
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
    ASSERT_TRUE(h.waitUntil([&] { return !h.device->hasOpenSession(); }));
    EXPECT_TRUE(h.lost.empty());
}

TEST(CameraLink, ASessionThatCannotOpenIsReportedAndNotRetried) {
    LinkHarness h;
    h.makeCamera();
    h.camera->unplug();  // the service still lists it, but nothing answers
    h.plug();
    h.link->open();
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    ASSERT_TRUE(h.lost[0].has_value());
    EXPECT_TRUE(h.lost[0]->startsWith(QString::fromUtf8("カメラに接続できません: ")))
        << h.lost[0]->toStdString();
    EXPECT_EQ(h.linesStarting("セッションを開けない: ").size(), 1);
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
    h.drain();
    EXPECT_EQ(h.readies, 0);
    EXPECT_EQ(h.linesStarting("Pexil 起動").size(), 1) << "the owner decides whether to try again";
}

TEST(CameraLink, ASecondCameraIsIgnoredWhileTheFirstIsHeldAndNotPickedUpAfterwards) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    const auto first = h.device;
    auto secondCamera = camera::VirtualCamera::create({});
    ASSERT_TRUE(secondCamera);
    auto second = camera::CameraDevice::create(
        h.rt, QStringLiteral("Second"), QStringLiteral("virtual:2"),
        [c = secondCamera.value()] { return std::make_unique<camera::VirtualTransport>(c); });
    h.source->add(second);
    h.openAndWaitReady(0);
    EXPECT_EQ(h.phases.back(), CameraLink::Phase::ready(h.camera->model().model));
    EXPECT_FALSE(second->hasOpenSession());

    h.unplug();
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    h.drain();
    EXPECT_EQ(h.link->phase().kind, Kind::searching);
    EXPECT_FALSE(second->hasOpenSession());
    secondCamera.value()->unplug();
}

TEST(CameraLink, ForwardsTheCameraEventsOfTheHeldDevice) {
    LinkHarness h;
    h.makeCamera();
    h.plug();
    std::vector<std::uint16_t> codes;
    QObject::connect(h.link.get(), &CameraLink::cameraEvent,
                     [&](const PTPEvent& event) { codes.push_back(event.code); });
    h.openAndWaitReady(0);
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] {
        return std::find(codes.begin(), codes.end(), PTP::Event::captureComplete) != codes.end();
    }));
    EXPECT_NE(std::find(codes.begin(), codes.end(), PTP::Event::objectAdded), codes.end());
}

// What a previous run that died in live view leaves behind: a session still open on the
// camera, live view on, recording to SDRAM, the body under host control.
void leaveLiveViewRunning(camera::VirtualCamera& body) {
    std::uint32_t tid = 0;
    const auto run = [&](std::uint16_t code, std::vector<std::uint32_t> params,
                         std::optional<Bytes> data = std::nullopt) {
        camera::BufferSink sink;
        const camera::Operation op{code, ++tid, std::move(params)};
        std::optional<ByteView> out;
        if (data) out = ByteView(*data);
        const auto answer = body.handle(op, out, sink);
        return answer ? answer.value().code : 0;
    };
    ASSERT_EQ(run(0x1002, {1}), 0x2001);
    ASSERT_EQ(run(0x90C2, {1}), 0x2001);
    ASSERT_EQ(run(0x1016, {0xD10B}, Bytes{1}), 0x2001);
    ASSERT_EQ(run(0x9201, {}), 0x2001);
    ASSERT_TRUE(body.isLiveViewOn());
}

TEST(CameraLink, PreparationEndsALiveViewLeftRunningAndPutsRecordingBackOnTheCard) {
    LinkHarness h;
    h.makeCamera();
    leaveLiveViewRunning(*h.camera);
    h.plug();
    h.openAndWaitReady(0);
    EXPECT_FALSE(h.camera->isLiveViewOn());
    EXPECT_FALSE(h.camera->isHostControlled());
    const QStringList lines = h.lines();
    const auto stopped = lines.indexOf(QString::fromUtf8("前回のライブビューが残っていたので止めた"));
    const auto card =
        lines.indexOf(QString::fromUtf8("記録先が SDRAM のまま残っていたのでカードに戻した"));
    const auto ready = lines.indexOf(QRegularExpression(QStringLiteral("^準備完了 ")));
    EXPECT_GT(stopped, ready) << lines.join(u'\n').toStdString();
    EXPECT_GT(card, stopped);
    const auto media = h.rt.run(h.link->camera()->integer(PTP::Prop::nikonRecordingMedia, false));
    ASSERT_TRUE(media);
    EXPECT_EQ(*media, std::optional<std::int64_t>(0));
    EXPECT_EQ(h.readies, 1);

    // A clean camera needs no repair: a second session says nothing of the kind.
    h.link->close();
    ASSERT_TRUE(h.waitUntil([&] { return h.hasLine("セッションが閉じた"); }));
    h.link->open();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady(); }));
    EXPECT_EQ(h.linesStarting("前回のライブビュー").size(), 1);
    EXPECT_EQ(h.linesStarting("記録先が SDRAM").size(), 1);
}

// The virtual camera behind a link that answers GetDeviceInfo "busy" the first few times
// once the session is open.
class DeviceInfoRefusals final : public camera::Transport {
public:
    DeviceInfoRefusals(std::shared_ptr<camera::VirtualCamera> camera,
                       std::shared_ptr<std::atomic<int>> left)
        : inner_(std::move(camera)), left_(std::move(left)) {}
    Result<Done, TransportError> connect() override { return inner_.connect(); }
    Result<camera::Response, TransportError> transact(const camera::Operation& operation,
                                                      std::optional<ByteView> outData,
                                                      camera::DataSink& sink) override {
        if (operation.code == 0x1002) open_ = true;
        if (open_ && operation.code == 0x1001 && left_->load() > 0) {
            --*left_;
            return camera::Response{0x2019, operation.transactionId, {}};
        }
        return inner_.transact(operation, outData, sink);
    }
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        return inner_.waitEvent(timeout);
    }
    void interrupt() override { inner_.interrupt(); }

private:
    camera::VirtualTransport inner_;
    std::shared_ptr<std::atomic<int>> left_;
    bool open_ = false;
};

// Opens with `refusals` failed DeviceInfo reads by the preparation and runs the 0.5 s pauses
// between attempts. The session's own read, before it says it is open, is refused first.
void openWithRefusals(LinkHarness& h, int refusals) {
    h.makeCamera();
    auto left = std::make_shared<std::atomic<int>>(refusals + 1);
    h.device = camera::CameraDevice::create(
        h.rt, h.camera->model().model, QStringLiteral("virtual"),
        [c = h.camera, left] { return std::make_unique<DeviceInfoRefusals>(c, left); });
    h.source->add(h.device);
    h.link->open();
    for (int round = 0; round < 8 && !h.isReady(); ++round) {
        h.drain();
        if (!h.isReady()) h.runTimers(0.5);
    }
    h.drain();
}

TEST(CameraLink, DeviceInfoThatOnlyTheThirdAttemptReadsCostsTwoPauses) {
    LinkHarness h;
    openWithRefusals(h, 2);
    ASSERT_TRUE(h.isReady());
    EXPECT_EQ(h.linesStarting("DeviceInfo: ").size(), 1);
    // The camera's clock ticks in whole seconds, so only the time taken is exact here.
    EXPECT_EQ(h.linesStarting("準備完了 1.0 秒（").size(), 1)
        << h.lines().join(u'\n').toStdString();
}

TEST(CameraLink, UnreadableDeviceInfoStillReachesReadyAndSaysSo) {
    LinkHarness h;
    openWithRefusals(h, 4);
    ASSERT_TRUE(h.isReady());
    EXPECT_TRUE(h.hasLine("DeviceInfo を読めない。独自命令は送らない"));
    EXPECT_TRUE(h.linesStarting("DeviceInfo: ").isEmpty());
    EXPECT_EQ(h.linesStarting("準備完了 1.5 秒（").size(), 1)
        << h.lines().join(u'\n').toStdString();
    EXPECT_EQ(h.readies, 1);
}

}  // namespace
}  // namespace pexil::testing
