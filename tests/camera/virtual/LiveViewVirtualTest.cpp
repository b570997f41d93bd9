// NikonLiveView against the virtual Nikon body, through the whole camera service.
#include "VirtualCameraSupport.h"

#include "camera/service/CameraDevice.h"
#include "camera/service/CameraFile.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/liveview/NikonLiveView.h"
#include "kit/ptp/PTPCodes.h"
#include "support/LiveViewMemoryFake.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

class LiveViewVirtual : public ::testing::Test {
protected:
    LiveViewVirtual() {
        VirtualCamera::Options options;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.photos = 2;
        // The camera's busy periods and its frames' pace pass in the runtime's virtual time,
        // as its waits do, and it has no thread: nothing follows real time.
        options.clock = testing::bodyClockFollowing(rt);
        options.bodyThread = false;
        options.timings.liveViewStart = std::chrono::milliseconds(1);
        options.timings.capture = std::chrono::milliseconds(5);
        auto made = VirtualCamera::create(options);
        EXPECT_TRUE(made);
        body = made.value();
        source = std::make_unique<VirtualSource>(rt, body);
        device = source->device();
        CameraDevice::Callbacks listener;
        listener.sessionOpened = [this](std::optional<TransportError> e) {
            opened = !e.has_value();
        };
        listener.catalogComplete = [this] { catalogued = true; };
        listener.itemsAdded = [this](const CameraItems& items) {
            if (!catalogued) return;
            for (const auto& f : items.files) shots.push_back(f->name());
        };
        device->setListener(CameraDevice::listenerFrom(listener));
        device->requestOpenSession();
        EXPECT_TRUE(rt.runUntil([this] { return catalogued; }, async::Seconds{60}));
        camera = std::make_unique<PTPCamera>(rt, device, [this](const QString& l) { log << l; });
        EXPECT_TRUE(rt.run(camera->readDeviceInfo()).value().has_value());
        liveView = std::make_unique<NikonLiveView>(*camera, body->serialNumber(), memory,
                                                   [this](const QString& l) { log << l; });
        liveView->onFrame = [this](ByteView frame) {
            ++frames;
            EXPECT_GT(frame.size(), 100u);
            EXPECT_EQ(frame[0], 0xFF);
            EXPECT_EQ(frame[1], 0xD8);
        };
    }
    ~LiveViewVirtual() override {
        liveView.reset();
        camera.reset();
    }

    std::optional<QString> start() {
        auto result = rt.run(liveView->start());
        EXPECT_TRUE(result.has_value()) << "start did not finish";
        return result.value_or(QStringLiteral("did not finish"));
    }
    bool waitForFrames(int n) {
        return rt.runUntil([&] { return frames >= n; }, async::Seconds{60});
    }
    void stop() { EXPECT_TRUE(rt.run(liveView->stop(QStringLiteral("テスト")))); }
    bool remembered() const { return memory->needsSDRAM(liveView->rememberKey()); }
    int cameraMedia() {
        return static_cast<int>(
            rt.run(camera->integer(PTP::Prop::nikonRecordingMedia, false)).value().value_or(-1));
    }

    QTemporaryDir dir;
    std::shared_ptr<testing::LiveViewMemoryFake> memory =
        std::make_shared<testing::LiveViewMemoryFake>();
    async::VirtualRuntime rt;
    std::shared_ptr<VirtualCamera> body;
    std::unique_ptr<VirtualSource> source;
    std::shared_ptr<CameraDevice> device;
    std::unique_ptr<PTPCamera> camera;
    std::unique_ptr<NikonLiveView> liveView;
    QStringList log;
    std::vector<QString> shots;
    bool opened = false;
    bool catalogued = false;
    int frames = 0;
};

TEST_F(LiveViewVirtual, CardWithoutFramesSwitchesToSDRAMThenShootsOnTheCard) {
    body->setNoFramesWhileRecordingToCard(true);
    ASSERT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), NikonLiveView::State::on);
    EXPECT_TRUE(body->isLiveViewOn());
    EXPECT_TRUE(body->isHostControlled());
    EXPECT_TRUE(remembered());
    EXPECT_EQ(body->callCount(PTP::code(PTP::Op::nikonStartLiveView)), 2);
    EXPECT_TRUE(log.contains(
        QStringLiteral("ライブビュー: カードのままでは映像が来ない。SDRAM に切り替えて再試行")));
    ASSERT_TRUE(waitForFrames(10));

    // A shot: recorded on the card (a file appears), then live view runs on SDRAM again.
    auto result =
        rt.run(liveView->whileSuspended([this] { return static_cast<int>(shots.size()); }, 5,
                                        [this]() -> async::Task<bool> {
                                            EXPECT_FALSE(body->isLiveViewOn());
                                            auto released = co_await camera->releaseShutter();
                                            co_return released.ok();
                                        }));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, std::nullopt);
    EXPECT_TRUE(rt.runUntil([this] { return !shots.empty(); }, async::Seconds{60}));
    EXPECT_EQ(liveView->state(), NikonLiveView::State::on);
    EXPECT_FALSE(liveView->suspended());
    EXPECT_TRUE(body->isLiveViewOn());
    const int before = frames;
    EXPECT_TRUE(waitForFrames(before + 10));

    stop();
    EXPECT_EQ(liveView->state(), NikonLiveView::State::off);
    EXPECT_FALSE(body->isLiveViewOn());
    EXPECT_FALSE(body->isHostControlled());
    EXPECT_EQ(cameraMedia(), 0);
    EXPECT_EQ(log.last(),
              QStringLiteral("ライブビュー: 後始末 終了 OK / カードへ OK / 制御権を返す OK"));
}

TEST_F(LiveViewVirtual, ModeDialProhibitionExplainsAndLeavesTheCameraAsItWas) {
    body->setProhibition(0x80000000);
    EXPECT_EQ(start(), QStringLiteral("撮影モードを P・A・S・M のいずれかにしてください。"));
    EXPECT_EQ(liveView->state(), NikonLiveView::State::off);
    EXPECT_FALSE(body->isLiveViewOn());
    EXPECT_FALSE(body->isHostControlled());
    EXPECT_EQ(cameraMedia(), 0);
    EXPECT_FALSE(remembered());
}

TEST_F(LiveViewVirtual, RestoreRepairsWhatAForgottenRunLeftBehind) {
    body->setNoFramesWhileRecordingToCard(true);
    ASSERT_EQ(start(), std::nullopt);
    liveView->forget();  // as when the program died: nothing was cleaned up
    EXPECT_TRUE(body->isLiveViewOn());
    EXPECT_EQ(cameraMedia(), 1);

    QStringList repairs;
    EXPECT_TRUE(rt.run(NikonLiveView::restoreIfInterrupted(
        *camera, [&](const QString& line) { repairs << line; })));
    EXPECT_FALSE(body->isLiveViewOn());
    EXPECT_FALSE(body->isHostControlled());
    EXPECT_EQ(cameraMedia(), 0);
    EXPECT_EQ(repairs,
              (QStringList{QStringLiteral("前回のライブビューが残っていたので止めた"),
                           QStringLiteral("記録先が SDRAM のまま残っていたのでカードに戻した")}));
}

}  // namespace
}  // namespace pexil::camera
