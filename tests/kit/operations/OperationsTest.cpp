#include "support/CameraFixture.h"

namespace pexil {
namespace {

using testing::CameraFixture;
using testing::DeviceInfoSpec;

PropDesc descOf(PTP::Prop prop, PTP::DataType type) {
    PropDesc desc;
    desc.code = prop;
    desc.dataType = type;
    desc.writable = true;
    return desc;
}

class PropertyOperations : public CameraFixture {};

TEST_F(PropertyOperations, WriteEncodesInTheWidthOfTheDatatype) {
    transport->ok(PTP::Op::setDevicePropValue)
        .ok(PTP::Op::setDevicePropValue)
        .ok(PTP::Op::setDevicePropValue);
    EXPECT_TRUE(run(camera->write(descOf(PTP::Prop::exposureBias, PTP::DataType::int16), -1)).ok());
    EXPECT_TRUE(
        run(camera->write(descOf(PTP::Prop::compressionSetting, PTP::DataType::uint8), 300)).ok());
    EXPECT_TRUE(
        run(camera->write(descOf(PTP::Prop::exposureTime, PTP::DataType::uint32), 4294967295))
            .ok());
    ASSERT_EQ(transport->sent().size(), 3U);
    EXPECT_EQ(transport->sent()[0].outData, (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(transport->sent()[0].params, (std::vector<std::uint32_t>{0x5010}));
    EXPECT_EQ(transport->sent()[1].outData, (Bytes{0x2C}));
    EXPECT_EQ(transport->sent()[2].outData, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(PropertyOperations, WritingAStringPropertyFailsWithoutSending) {
    const auto result = run(camera->write(descOf(PTP::Prop::imageSize, PTP::DataType::string), 1));
    ASSERT_FALSE(result);
    EXPECT_EQ(responseCodeOf(result.error()), 0x2006);
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(PropertyOperations, AWriteTheCameraRejectsReachesTheCaller) {
    transport->answer(PTP::Op::setDevicePropValue, 0xA005);
    const auto result = run(camera->write(descOf(PTP::Prop::fNumber, PTP::DataType::uint16), 560));
    EXPECT_EQ(responseCodeOf(result.error()), 0xA005);
}

TEST_F(PropertyOperations, IntegerReadsOneTwoOrFourBytes) {
    transport->ok(PTP::Op::getDevicePropValue, Bytes{1, 2, 3})
        .ok(PTP::Op::getDevicePropValue, Bytes{0xFE, 0xFF})
        .ok(PTP::Op::getDevicePropValue, Bytes{0xFE, 0xFF})
        .ok(PTP::Op::getDevicePropValue, Bytes{0xFF, 0xFF, 0xFF, 0xFF})
        .ok(PTP::Op::getDevicePropValue, Bytes{0x80})
        .answer(PTP::Op::getDevicePropValue, 0x200A);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, true)), std::nullopt);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, true)), -2);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, false)), 65534);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, false)), 4294967295);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, true)), -128);
    EXPECT_EQ(run(camera->integer(PTP::Prop::batteryLevel, true)), std::nullopt);
}

TEST_F(PropertyOperations, TheLightMeterCountsSixthsOfAnEV) {
    identify();
    transport->ok(PTP::Op::getDevicePropValue, Bytes{0xF7});  // −9
    EXPECT_EQ(run(camera->lightMeter()), -1.5);
    EXPECT_EQ(transport->sent().back().params, (std::vector<std::uint32_t>{0xD1B1}));
}

TEST_F(PropertyOperations, DescribeAllLeavesOutWhatFails) {
    Bytes iso{0x0F, 0x50, 0x04, 0x00, 0x01, 0x64, 0x00, 0x90,
              0x01, 0x02, 0x02, 0x00, 0x64, 0x00, 0x90, 0x01};
    transport->ok(PTP::Op::getDevicePropDesc, iso)
        .answer(PTP::Op::getDevicePropDesc, 0x200A)
        .ok(PTP::Op::getDevicePropDesc, Bytes{0x0F});
    const auto all = run(camera->describeAll({PTP::Prop::iso, PTP::Prop::fNumber, PTP::Prop::iso}));
    // The third answer does not parse; the first descriptor stays.
    ASSERT_EQ(all.size(), 1U);
    EXPECT_EQ(all.at(PTP::Prop::iso).current, 400);
    EXPECT_EQ(all.at(PTP::Prop::iso).choices, (std::vector<std::int64_t>{100, 400}));
}

class CaptureOperations : public CameraFixture {};

TEST_F(CaptureOperations, ABusyCameraGetsFiveCapturesAndNoFallback) {
    identify();
    for (int i = 0; i < 5; ++i) {
        transport->answer(PTP::Op::initiateCapture, 0x2019);
        if (i < 4) transport->ok(PTP::Op::nikonDeviceReady);
    }
    const auto result = run(camera->releaseShutter());
    ASSERT_FALSE(result);
    EXPECT_EQ(responseCodeOf(result.error()), 0x2019);
    EXPECT_EQ(transport->countOf(PTP::Op::initiateCapture), 5U);
    EXPECT_EQ(transport->countOf(PTP::Op::nikonDeviceReady), 4U);
    EXPECT_EQ(transport->countOf(PTP::Op::nikonCapture), 0U);
    EXPECT_EQ(log.count(QStringLiteral("リモートシャッター 0x100E: DeviceBusy（待って送り直す）")),
              4);
    EXPECT_EQ(transport->sent()[1].params, (std::vector<std::uint32_t>{0, 0}));
}

TEST_F(CaptureOperations, ARefusedCaptureFallsBackToTheNikonCapture) {
    identify();
    transport->answer(PTP::Op::initiateCapture, 0x2005).ok(PTP::Op::nikonCapture);
    EXPECT_TRUE(run(camera->releaseShutter()).ok());
    EXPECT_EQ(transport->sent().back().params, (std::vector<std::uint32_t>{0xFFFFFFFF}));
    EXPECT_EQ(
        log, (QStringList{
                 QStringLiteral(
                     "リモートシャッター 0x100E 失敗: カメラが応答しました: OperationNotSupported"),
                 QStringLiteral("リモートシャッター 0x90C0: OK")}));
}

TEST_F(CaptureOperations, AFailedFallbackReportsItsOwnError) {
    identify();
    transport->answer(PTP::Op::initiateCapture, 0x2019).ok(PTP::Op::nikonDeviceReady);
    transport->answer(PTP::Op::initiateCapture, 0x2002).answer(PTP::Op::nikonCapture, 0xA004);
    const auto result = run(camera->releaseShutter());
    EXPECT_EQ(responseCodeOf(result.error()), 0xA004);
}

TEST_F(CaptureOperations, ASuccessfulCaptureIsLogged) {
    transport->ok(PTP::Op::initiateCapture);
    EXPECT_TRUE(run(camera->releaseShutter()).ok());
    EXPECT_EQ(log, QStringList{QStringLiteral("リモートシャッター 0x100E: OK")});
}

TEST_F(CaptureOperations, AutofocusReportsOutOfFocusAndAFailedDrive) {
    identify();
    transport->ok(PTP::Op::nikonAfDrive)
        .answer(PTP::Op::nikonDeviceReady, 0x2019)
        .answer(PTP::Op::nikonDeviceReady, 0xA002);
    EXPECT_EQ(run(camera->autofocus()), false);
    transport->ok(PTP::Op::nikonAfDrive).ok(PTP::Op::nikonDeviceReady);
    EXPECT_EQ(run(camera->autofocus()), true);
    transport->answer(PTP::Op::nikonAfDrive, 0xA004);
    EXPECT_EQ(run(camera->autofocus()), std::nullopt);
    EXPECT_EQ(log.last(),
              QStringLiteral("AF 命令が通らない: カメラが応答しました: Nikon:InvalidStatus"));
}

TEST_F(CaptureOperations, WaitUntilReadyPollsEveryTenthOfASecondUntilTheDeadline) {
    identify();
    for (int i = 0; i < 100; ++i)
        transport->answer(PTP::Op::nikonDeviceReady, i % 2 ? 0xA200 : 0x2019);
    const auto code = run(camera->waitUntilReady(5));
    EXPECT_TRUE(code == 0x2019 || code == 0xA200);
    const auto polls = transport->countOf(PTP::Op::nikonDeviceReady);
    EXPECT_GE(polls, 50U);
    EXPECT_LE(polls, 52U);
    EXPECT_NEAR(rt.clock().monotonic().count(), 5.0, 0.11);
}

TEST_F(CaptureOperations, WaitUntilReadyGivesOtherCodesAndZeroForOtherFailures) {
    identify();
    transport->answer(PTP::Op::nikonDeviceReady, 0xA002);
    transport->expect({.op = 0x90C8, .error = TransportError{QStringLiteral("切断")}});
    EXPECT_EQ(run(camera->waitUntilReady(5)), 0xA002);
    EXPECT_EQ(run(camera->waitUntilReady(5)), 0);
}

TEST_F(CaptureOperations, WaitUntilReadyOnOtherVendorsOnlyPauses) {
    identify({.vendor = 0x0B, .manufacturer = QStringLiteral("Canon Inc.")});
    const auto before = rt.clock().monotonic();
    EXPECT_EQ(run(camera->waitUntilReady(5)), 0x2001);
    EXPECT_EQ(transport->sent().size(), 1U);  // only the DeviceInfo
    EXPECT_NEAR((rt.clock().monotonic() - before).count(), 0.3, 1e-9);
}

class ClockOperations : public CameraFixture {};

TEST_F(ClockOperations, ReadsTheCameraClockInTheComputersZone) {
    transport->ok(PTP::Op::getDevicePropValue,
                  PTP::encodeString(QStringLiteral("20240131T235959.0")));
    transport->ok(PTP::Op::getDevicePropValue,
                  PTP::encodeString(QStringLiteral("20240131T235959+0900")));
    transport->ok(PTP::Op::getDevicePropValue, PTP::encodeString(QString()));
    transport->ok(PTP::Op::getDevicePropValue,
                  PTP::encodeString(QStringLiteral("2024-01-31 23:59")));
    const QDateTime expected(QDate(2024, 1, 31), QTime(23, 59, 59), Qt::LocalTime);
    EXPECT_EQ(run(camera->cameraClock()), expected);
    EXPECT_EQ(run(camera->cameraClock()), expected);
    EXPECT_EQ(run(camera->cameraClock()), std::nullopt);
    EXPECT_EQ(run(camera->cameraClock()), std::nullopt);
    EXPECT_EQ(transport->sent().front().params, (std::vector<std::uint32_t>{0x5011}));
}

TEST_F(ClockOperations, SetsTheClockAsAPTPString) {
    transport->ok(PTP::Op::setDevicePropValue);
    EXPECT_TRUE(
        run(camera->setCameraClock(QDateTime(QDate(2024, 2, 1), QTime(8, 5, 9), Qt::LocalTime)))
            .ok());
    const auto& data = *transport->sent().front().outData;
    ASSERT_EQ(data.size(), 33U);
    EXPECT_EQ(data[0], 0x10);
    EXPECT_EQ(PTP::decodeString(data), QStringLiteral("20240201T080509"));
    EXPECT_EQ(data[31], 0);
    EXPECT_EQ(data[32], 0);
}

TEST_F(ClockOperations, FormatsInLocalTimeWhateverTheZoneOfTheDate) {
    const QDateTime local(QDate(2024, 7, 1), QTime(10, 0, 0), Qt::LocalTime);
    EXPECT_EQ(PTPCamera::formatClock(local.toUTC()), QStringLiteral("20240701T100000"));
    EXPECT_EQ(PTPCamera::parseClock(QStringLiteral("20240701T100000")), local);
    EXPECT_EQ(PTPCamera::parseClock(QStringLiteral("20241301T100000")), std::nullopt);
}

}  // namespace
}  // namespace pexil
