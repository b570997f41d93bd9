#include "camera/service/CameraAddress.h"

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

TEST(CameraAddress, ParsesEveryForm) {
    EXPECT_EQ(CameraAddress::parse(QStringLiteral("usb")).value().kind, CameraAddress::Kind::usb);
    const auto usb = CameraAddress::parse(QStringLiteral("usb:3:17")).value();
    EXPECT_EQ(usb.bus, 3);
    EXPECT_EQ(usb.address, 17);
    EXPECT_EQ(CameraAddress::parse(QStringLiteral("virtual")).value().kind, CameraAddress::Kind::virtualCamera);
    const auto ip = CameraAddress::parse(QStringLiteral("ptpip://192.168.1.1")).value();
    EXPECT_EQ(ip.host, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(ip.port, 15740);
    const auto port = CameraAddress::parse(QStringLiteral("ptpip://camera.local:15741/")).value();
    EXPECT_EQ(port.host, QStringLiteral("camera.local"));
    EXPECT_EQ(port.port, 15741);
    const auto v6 = CameraAddress::parse(QStringLiteral("ptpip://[::1]:2000")).value();
    EXPECT_EQ(v6.host, QStringLiteral("::1"));
    EXPECT_EQ(v6.port, 2000);
    for (const auto& a : {usb, ip, port, v6}) EXPECT_EQ(CameraAddress::parse(a.toString()).value(), a);
}

TEST(CameraAddress, RejectsWhatIsNotAnAddressWithAReason) {
    for (const char* bad : {"", "USB", "usb:1", "usb:a:b", "usb:0:5", "usb:1:200", "ptpip://", "ptpip://host:0",
                            "ptpip://host:70000", "ptpip://[::1", "http://camera", "virtual2"}) {
        const auto parsed = CameraAddress::parse(QString::fromLatin1(bad));
        ASSERT_FALSE(parsed) << bad;
        EXPECT_TRUE(parsed.error().startsWith(QStringLiteral("カメラの指定が正しくありません"))) << bad;
    }
}

}  // namespace
}  // namespace pexil::camera
