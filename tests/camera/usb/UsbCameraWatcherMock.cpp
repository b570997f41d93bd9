// The USB camera watcher through the real libudev, against devices and uevents of a
// umockdev testbed. Runs under umockdev-wrapper (see Extra.cmake).

#include "camera/usb/UsbCameraWatcher.h"
#include "kit/async/VirtualClock.h"

#include "UsbTestbed.h"

#include <QStringList>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

namespace pexil::camera {
namespace {

using testing::processEventsUntil;
using testing::UsbTestbed;

class UsbCameraWatcherTest : public ::testing::Test {
protected:
    // The host has been up for a while: udev time stamps are seconds of CLOCK_MONOTONIC.
    UsbCameraWatcherTest() { clock.advance(async::Seconds{5000}); }

    UsbTestbed::Device camera(int address, std::optional<std::string> product,
                              std::optional<double> pluggedSecondsAgo) const {
        UsbTestbed::Device d;
        d.address = address;
        d.port = "1-" + std::to_string(address);
        d.product = std::move(product);
        if (pluggedSecondsAgo)
            d.usecInitialized =
                static_cast<std::uint64_t>((clock.monotonic().count() - *pluggedSecondsAgo) * 1e6);
        return d;
    }
    static UsbTestbed::Device disk(int address) {
        UsbTestbed::Device d;
        d.address = address;
        d.port = "1-" + std::to_string(address);
        d.interfaceClass = 8;
        d.interfaceSubClass = 6;
        d.interfaceProtocol = 0x50;
        d.product = "NIKON DSC Card Reader";
        return d;
    }

    std::unique_ptr<UsbCameraWatcher> watcher() {
        auto w =
            std::make_unique<UsbCameraWatcher>(clock, [this](const QString& line) { log << line; });
        w->onChange = [this] { ++changes; };
        return w;
    }

    QDateTime ago(double seconds) const {
        return clock.now().addMSecs(-static_cast<qint64>(seconds * 1000));
    }

    UsbTestbed testbed;
    async::VirtualClock clock;
    QStringList log;
    int changes = 0;
};

TEST_F(UsbCameraWatcherTest, ReportsACameraAlreadyPluggedInWithItsAge) {
    testbed.add(camera(5, "NIKON DSC D850", 42));
    testbed.add(disk(6));
    auto w = watcher();
    w->start();
    EXPECT_EQ(log, QStringList{QStringLiteral("USB にカメラ: D850（42 秒前から）")});
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(w->cameras().size(), 1U);
    ASSERT_TRUE(w->camera());
    EXPECT_EQ(w->camera()->name, QStringLiteral("D850"));
    EXPECT_EQ(w->camera()->since, ago(42));

    // Starting again arms nothing twice and reports nothing twice.
    w->start();
    EXPECT_EQ(log.size(), 1);
    EXPECT_EQ(changes, 1);
}

TEST_F(UsbCameraWatcherTest, NamesAndDatesFromWhatTheDeviceTells) {
    testbed.add(camera(2, "NIKON DSC Z 6_2", 2.6));      // age rounds to 3
    testbed.add(camera(3, "Nikon Z 6", 2.0));            // not above 2 s: no age
    testbed.add(camera(4, std::nullopt, std::nullopt));  // no product, no time stamp
    testbed.add(camera(5, "NIKON DSC D850", 3700));      // over an hour: not believed
    testbed.add(camera(7, "  ", -30));                   // blank name; stamp in the future
    auto w = watcher();
    w->start();
    QStringList sorted = log;
    sorted.sort();
    QStringList expected{
        QStringLiteral("USB にカメラ: Z 6_2（3 秒前から）"),
        QStringLiteral("USB にカメラ: Nikon Z 6"), QStringLiteral("USB にカメラ: カメラ"),
        QStringLiteral("USB にカメラ: D850"), QStringLiteral("USB にカメラ: カメラ")};
    expected.sort();
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(changes, 1);  // one batch

    std::map<QString, QDateTime> since;
    for (const auto& [id, c] : w->cameras()) since[c.name] = c.since;
    EXPECT_EQ(since[QStringLiteral("Z 6_2")], ago(2.6));
    EXPECT_EQ(since[QStringLiteral("Nikon Z 6")], ago(2.0));
    EXPECT_EQ(since[QStringLiteral("D850")], clock.now());
    EXPECT_EQ(since[QStringLiteral("カメラ")], clock.now());
    EXPECT_EQ(w->camera()->name, QStringLiteral("Z 6_2"));
}

TEST_F(UsbCameraWatcherTest, FollowsPlugAndUnplugAndPicksTheEarliestCamera) {
    auto w = watcher();
    w->start();
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(w->camera());

    const auto d850 = testbed.add(camera(5, "NIKON DSC D850", 100));
    ASSERT_TRUE(processEventsUntil([&] { return changes == 1; }));
    const auto z6 = testbed.add(camera(6, "NIKON DSC Z 6", 1));
    ASSERT_TRUE(processEventsUntil([&] { return changes == 2; }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("USB にカメラ: D850（100 秒前から）"),
                                QStringLiteral("USB にカメラ: Z 6")}));
    EXPECT_EQ(w->cameras().size(), 2U);
    EXPECT_EQ(w->camera()->name, QStringLiteral("D850"));

    testbed.unplug(d850);
    ASSERT_TRUE(processEventsUntil([&] { return changes == 3; }));
    EXPECT_EQ(log.last(), QStringLiteral("USB からカメラが外れた: D850"));
    EXPECT_EQ(w->camera()->name, QStringLiteral("Z 6"));

    testbed.unplug(z6);
    ASSERT_TRUE(processEventsUntil([&] { return changes == 4; }));
    EXPECT_EQ(log.last(), QStringLiteral("USB からカメラが外れた: Z 6"));
    EXPECT_FALSE(w->camera());
    EXPECT_EQ(log.size(), 4);
}

TEST_F(UsbCameraWatcherTest, IgnoresOtherInterfacesButCountsAnUnrecordedStillImageRemoval) {
    auto w = watcher();
    w->start();
    const auto reader = testbed.add(disk(4));
    testbed.unplug(reader);
    // Uevents come in order: once this camera is in, the reader's have been handled.
    const auto d850 = testbed.add(camera(5, "NIKON DSC D850", 1));
    ASSERT_TRUE(processEventsUntil([&] { return changes == 1; }));
    EXPECT_EQ(log, QStringList{QStringLiteral("USB にカメラ: D850")});

    // The same removal twice: the second finds nothing recorded, says nothing, yet counts.
    umockdev_testbed_uevent(testbed.get(), d850.interface.c_str(), "remove");
    ASSERT_TRUE(processEventsUntil([&] { return changes == 2; }));
    umockdev_testbed_uevent(testbed.get(), d850.interface.c_str(), "remove");
    ASSERT_TRUE(processEventsUntil([&] { return changes == 3; }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("USB にカメラ: D850"),
                                QStringLiteral("USB からカメラが外れた: D850")}));
}

TEST_F(UsbCameraWatcherTest, LogsAMonitorThatCannotListenAndStillTakesInWhatIsThere) {
    testbed.add(camera(5, "NIKON DSC D850", 10));
    const std::string root = testbed.root();
    ASSERT_EQ(chmod(root.c_str(), 0555), 0);
    auto w = watcher();
    {
        testing::WithoutFileOverride asUser;
        w->start();
    }
    chmod(root.c_str(), 0700);
    ASSERT_EQ(log.size(), 2) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log[0], QStringLiteral("USB の見張りを始められない: -13"));
    EXPECT_EQ(log[1], QStringLiteral("USB にカメラ: D850（10 秒前から）"));
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace pexil::camera
