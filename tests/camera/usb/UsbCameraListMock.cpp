// Enumeration and hot-plug of USB cameras through the real libusb, against devices in a
// umockdev testbed. Runs under umockdev-wrapper (see Extra.cmake).

#include "camera/usb/UsbCameraList.h"

#include "UsbTestbed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pexil::camera {
namespace {

using namespace std::chrono_literals;
using testing::FakeUsbCamera;
using testing::UsbTestbed;

// Runs the main queue until `done()` holds; work comes from the list's own thread.
bool runUntil(async::ManualExecutor& main, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (true) {
        main.runAll();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        main.waitForWork(50ms);
    }
}

class UsbCameraListTest : public ::testing::Test {
protected:
    UsbCameraListTest() {
        // Its product name comes from the string descriptor only: sysfs has none.
        d850.product = std::nullopt;
        // No ioctl handler: the descriptor cannot be read, sysfs has the name.
        z6.address = 6;
        z6.port = "1-2";
        z6.productId = 0x0442;
        z6.product = "NIKON Z 6";
        disk.bus = 2;
        disk.address = 3;
        disk.port = "2-1";
        disk.vendorId = 0x0781;
        disk.interfaceClass = 8;
        disk.interfaceSubClass = 6;
        disk.interfaceProtocol = 0x50;
        disk.product = "Ultra";
    }

    static std::string text(const UsbCameraInfo& info) {
        return std::to_string(info.address.bus) + ":" + std::to_string(info.address.address) + " " +
               QStringLiteral("%1:%2 ")
                   .arg(info.vendorId, 4, 16, QLatin1Char('0'))
                   .arg(info.productId, 4, 16, QLatin1Char('0'))
                   .toStdString() +
               info.product.toStdString();
    }

    FakeUsbCamera d850Device;  // answers the string descriptors
    UsbTestbed testbed;
    UsbTestbed::Device d850;
    UsbTestbed::Device z6;
    UsbTestbed::Device disk;
};

TEST_F(UsbCameraListTest, EnumeratesPtpCamerasWithTheirNamesAndSkipsOtherDevices) {
    testbed.add(disk);
    testbed.add(z6);
    testbed.add(d850, &d850Device);
    const auto cameras = UsbCameraList::enumerate();
    ASSERT_TRUE(cameras) << cameras.error().message.toStdString();
    std::vector<std::string> seen;
    for (const auto& c : cameras.value()) seen.push_back(text(c));
    EXPECT_EQ(seen, (std::vector<std::string>{"1:5 04b0:0441 NIKON DSC D850",
                                              "1:6 04b0:0442 NIKON Z 6"}));
}

TEST_F(UsbCameraListTest, ReportsArrivalsAndRemovalsOnTheMainQueueInOrder) {
    const auto first = testbed.add(d850, &d850Device);
    async::ManualExecutor main;
    UsbCameraList list(main);
    std::vector<std::string> seen;
    const auto started = list.start([&](const UsbCameraInfo& c) { seen.push_back("+" + text(c)); },
                                    [&](const UsbCameraInfo& c) { seen.push_back("-" + text(c)); });
    ASSERT_TRUE(started) << started.error().message.toStdString();
    // The camera already attached is the first arrival.
    ASSERT_TRUE(runUntil(main, [&] { return seen.size() == 1; }));
    EXPECT_EQ(seen.back(), "+1:5 04b0:0441 NIKON DSC D850");

    const auto storage = testbed.add(disk);
    const auto second = testbed.add(z6);
    ASSERT_TRUE(runUntil(main, [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen.back(), "+1:6 04b0:0442 NIKON Z 6");
    ASSERT_EQ(list.cameras().size(), 2U);

    testbed.unplug(storage);
    testbed.unplug(first);
    ASSERT_TRUE(runUntil(main, [&] { return seen.size() == 3; }));
    EXPECT_EQ(seen.back(), "-1:5 04b0:0441 NIKON DSC D850");
    ASSERT_EQ(list.cameras().size(), 1U);
    EXPECT_EQ(list.cameras().front().address, (UsbAddress{1, 6}));

    testbed.unplug(second);
    ASSERT_TRUE(runUntil(main, [&] { return seen.size() == 4; }));
    EXPECT_EQ(seen.back(), "-1:6 04b0:0442 NIKON Z 6");
    EXPECT_TRUE(list.cameras().empty());
    // The disk came and went without a word.
    EXPECT_EQ(seen.size(), 4U);
}

TEST_F(UsbCameraListTest, DropsReportsStillQueuedWhenTheListIsGone) {
    testbed.add(d850, &d850Device);
    async::ManualExecutor main;
    int calls = 0;
    {
        UsbCameraList list(main);
        ASSERT_TRUE(list.start([&](const UsbCameraInfo&) { ++calls; },
                               [&](const UsbCameraInfo&) { ++calls; }));
        ASSERT_TRUE(main.waitForWork(5000ms));
    }
    EXPECT_GE(main.runAll(), 1U);
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace pexil::camera
