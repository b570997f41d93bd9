// The link while a camera is on USB but not yet in the camera service: the USB watcher
// reads a umockdev testbed (run under umockdev-wrapper, see tests/camera/usb/Extra.cmake),
// the camera service gets the virtual camera when the test says so.
#include "LinkHarness.h"

#include "UsbTestbed.h"

namespace pexil::testing {
namespace {

using Kind = CameraLink::Phase::Kind;

class CameraLinkUsb : public ::testing::Test {
protected:
    UsbTestbed::Device nikon(int address, double pluggedSecondsAgo) {
        UsbTestbed::Device d;
        d.address = address;
        d.port = "1-" + std::to_string(address);
        d.product = "NIKON DSC D850";
        d.usecInitialized = static_cast<std::uint64_t>(
            (h.rt.clock().monotonic().count() - pluggedSecondsAgo) * 1e6);
        return d;
    }
    QDateTime ago(double seconds) {
        return h.rt.clock().now().addMSecs(-static_cast<qint64>(seconds * 1000));
    }
    // A D850 on USB and in the service, its session open and ready.
    UsbTestbed::Added openOnUsb() {
        auto plugged = testbed.add(nikon(5, 1));
        EXPECT_TRUE(until([&] { return h.hasLine("USB にカメラ: D850"); }));
        h.makeCamera();
        h.plug();
        h.link->open();
        EXPECT_TRUE(h.waitUntil([&] { return h.isReady(); }));
        return plugged;
    }
    // The watcher hears udev on the Qt event loop, the link answers on the runtime's queue.
    bool until(const std::function<bool()>& done) {
        return processEventsUntil([&] {
            h.rt.runReady();
            return done();
        });
    }

    // The testbed first: the watcher reads it as soon as the link starts.
    UsbTestbed testbed;
    LinkHarness h{LinkHarness::Via::inProcess, LinkHarness::Usb::watched};
};

TEST_F(CameraLinkUsb, ACameraOnUsbIsDetectedUntilTheServiceHasItThenOpens) {
    h.link->open();
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::searching());
    EXPECT_TRUE(h.hasLine("接続: カメラを探しています"));

    testbed.add(nikon(5, 3));
    ASSERT_TRUE(until([&] { return h.link->phase().kind == Kind::detected; }));
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::detected(QStringLiteral("D850"), ago(3)));
    EXPECT_TRUE(h.hasLine("USB にカメラ: D850（3 秒前から）"));

    // The service is slow to report it: the time on USB so far goes into the log.
    h.advance(2.5);
    h.makeCamera();
    h.plug();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady(); }));
    EXPECT_TRUE(h.hasLine("カメラを検出: D850（USB に現れてから 5.5 秒）"));
    std::vector<Kind> seen;
    for (const auto& p : h.phases) seen.push_back(p.kind);
    EXPECT_EQ(seen, (std::vector<Kind>{Kind::searching, Kind::detected, Kind::opening,
                                       Kind::preparing, Kind::ready}));
    EXPECT_EQ(h.readies, 1);
}

TEST_F(CameraLinkUsb, OpenWithACameraAlreadyOnUsbSaysSoAndFollowsItsDeparture) {
    const auto plugged = testbed.add(nikon(5, 10));
    ASSERT_TRUE(until([&] { return h.hasLine("USB にカメラ: D850（10 秒前から）"); }));
    // Nobody asked for a session yet: the phase stays closed.
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());

    h.link->open();
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::detected(QStringLiteral("D850"), ago(10)));
    EXPECT_TRUE(h.hasLine("接続: USB に D850 がいる。USB の準備を待つ"));
    EXPECT_FALSE(h.hasLine("接続: カメラを探しています"));

    testbed.unplug(plugged);
    ASSERT_TRUE(until([&] { return h.link->phase().kind == Kind::searching; }));
    EXPECT_TRUE(h.hasLine("USB からカメラが外れた: D850"));

    // After close() the watcher's news changes nothing.
    h.link->close();
    testbed.add(nikon(6, 1));
    ASSERT_TRUE(until([&] { return h.linesStarting("USB にカメラ: D850").size() == 2; }));
    EXPECT_EQ(h.link->phase(), CameraLink::Phase::closed());
}

TEST_F(CameraLinkUsb, ARemovedSessionFallsBackToDetectedWhileUsbStillShowsTheCamera) {
    openOnUsb();

    // The service lets go of the device (a reset, say) while the interface is still there.
    h.unplug();
    ASSERT_TRUE(h.waitUntil([&] { return h.link->phase().kind == Kind::detected; }));
    EXPECT_EQ(h.link->phase().name, QStringLiteral("D850"));
    ASSERT_EQ(h.lost.size(), 1U);
    EXPECT_EQ(h.lost.front(), QString::fromUtf8("カメラが取り外されました"));
}

// Pulled out while working and plugged in again: the watcher's news reopens it, with nobody
// choosing 接続 again.
TEST_F(CameraLinkUsb, ACameraPulledOutAndPluggedInAgainIsReopenedByItself) {
    auto plugged = openOnUsb();

    h.unplug();
    testbed.unplug(plugged);
    ASSERT_TRUE(until([&] { return h.link->phase().kind == Kind::searching; }));
    ASSERT_EQ(h.lost.size(), 1U);
    const std::size_t before = h.phases.size();

    plugged = testbed.add(nikon(7, 0));
    ASSERT_TRUE(until([&] { return h.link->phase().kind == Kind::detected; }));
    h.makeCamera();
    h.plug();
    ASSERT_TRUE(h.waitUntil([&] { return h.isReady(); }));
    EXPECT_EQ(h.readies, 2);
    std::vector<Kind> seen;
    for (std::size_t i = before; i < h.phases.size(); ++i) seen.push_back(h.phases[i].kind);
    EXPECT_EQ(seen, (std::vector<Kind>{Kind::detected, Kind::opening, Kind::preparing, Kind::ready}));
}

}  // namespace
}  // namespace pexil::testing
