#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/PTPReader.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

TEST(PTPCodes, VendorOperationsAndLookups) {
    EXPECT_FALSE(PTP::isVendor(PTP::Op::setDevicePropValue));
    EXPECT_TRUE(PTP::isVendor(PTP::Op::nikonCapture));
    EXPECT_TRUE(PTP::isVendor(PTP::Op::nikonChangeCameraMode));
    EXPECT_TRUE(PTP::isVendor(PTP::Op::nikonGetLiveViewImg));
    EXPECT_EQ(PTP::toOp(0x90C2), PTP::Op::nikonChangeCameraMode);
    EXPECT_FALSE(PTP::isVendor(PTP::Op::getObjectPropList));
    EXPECT_EQ(PTP::toOp(0x1002), PTP::Op::openSession);
    EXPECT_EQ(PTP::toOp(0x1010), std::nullopt);
    for (std::uint16_t code : {0x5002, 0x5006, 0x5009, 0x500B, 0x500C, 0x5011, 0xD1B1})
        EXPECT_EQ(PTP::toMirroredProp(code), std::nullopt);
    EXPECT_EQ(PTP::toProp(0x5011), PTP::Prop::dateTime);
    EXPECT_EQ(PTP::operationName(0x9206), QStringLiteral("0x9206"));
    EXPECT_EQ(PTP::operationName(0x9205), QStringLiteral("Nikon:ChangeAfArea"));
    EXPECT_TRUE(PTP::isVendor(PTP::Op::nikonMfDrive));
    EXPECT_EQ(PTP::operationName(0x90C7), QStringLiteral("Nikon:CheckEvent"));
    EXPECT_EQ(PTP::eventName(0x4006), QStringLiteral("DevicePropChanged"));
    EXPECT_EQ(PTP::toProp(0xD100), PTP::Prop::nikonExposureTime);
    EXPECT_EQ(PTP::toDataType(0xFFFF), PTP::DataType::string);
    for (std::uint16_t code : {0x0000, 0x0009, 0x000A, 0x4001})
        EXPECT_EQ(PTP::toDataType(code), std::nullopt);
    EXPECT_EQ(PTP::byteCount(PTP::DataType::uint64), 8);
    EXPECT_EQ(PTP::byteCount(PTP::DataType::string), 0);
    EXPECT_EQ(PTP::label(PTP::Prop::exposureBias), QStringLiteral("露出補正"));
}

TEST(PTPCommand, BuildsTheContainerWithTransactionOne) {
    EXPECT_EQ(PTP::command(PTP::Op::getDeviceInfo, {}),
              (Bytes{0x0C, 0, 0, 0, 0x01, 0, 0x01, 0x10, 0x01, 0, 0, 0}));
    const Bytes capture = PTP::command(PTP::Op::initiateCapture, {0, 0});
    ASSERT_EQ(capture.size(), 20U);
    EXPECT_EQ(capture[0], 0x14);
    EXPECT_EQ(capture[6], 0x0E);
    EXPECT_EQ(capture[7], 0x10);
    const Bytes nikon = PTP::command(PTP::Op::nikonCapture, {0xFFFFFFFF});
    EXPECT_EQ(Bytes(nikon.begin() + 12, nikon.end()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PTPResponse, CodesAndNames) {
    EXPECT_EQ(PTP::responseCode(Bytes(7, 0xFF)), 0);
    EXPECT_EQ(PTP::responseCode(Bytes{0x0C, 0, 0, 0, 3, 0, 0x19, 0x20}), 0x2019);
    EXPECT_TRUE(PTP::isOK(Bytes{0x0C, 0, 0, 0, 3, 0, 0x01, 0x20, 1, 0, 0, 0}));
    EXPECT_EQ(PTP::responseName(0), QStringLiteral("応答なし"));
    EXPECT_EQ(PTP::responseName(0x2004), QStringLiteral("0x2004"));
    EXPECT_EQ(PTP::responseName(0xA00D), QStringLiteral("0xa00d"));
    EXPECT_EQ(PTP::responseName(0xA00C), QStringLiteral("レンズの端に達しました"));
    EXPECT_EQ(PTP::responseName(0xA002), QStringLiteral("ピントが合いませんでした"));
    EXPECT_EQ(PTP::responseName(0xA00B), QStringLiteral("Nikon:NotLiveView"));
}

TEST(PTPError, DescriptionsAndCodes) {
    EXPECT_EQ(PTPError::response(0x2019).description(),
              QStringLiteral("カメラが応答しました: DeviceBusy"));
    EXPECT_EQ(PTPError::timedOut(QStringLiteral("0x90C7")).description(),
              QStringLiteral("カメラから返事がありません（0x90C7）"));
    EXPECT_EQ(PTPError::notConnected().description(), QStringLiteral("カメラが接続されていません"));
    EXPECT_EQ(PTPError::response(0x2005).code(), 0x2005);
    EXPECT_EQ(PTPError::timedOut(QStringLiteral("x")).code(), std::nullopt);
    EXPECT_EQ(describe(CameraError(TransportError{QStringLiteral("USB が抜けた")})),
              QStringLiteral("USB が抜けた"));
    EXPECT_EQ(responseCodeOf(CameraError(TransportError{})), std::nullopt);
}

TEST(PTPString, DecodeFollowsTheCountAndNeverReadsTheTerminator) {
    EXPECT_EQ(PTP::decodeString(Bytes{}), std::nullopt);
    EXPECT_EQ(PTP::decodeString(Bytes{0x01, 0, 0}), std::nullopt);
    EXPECT_EQ(PTP::decodeString(Bytes{0x03, 0x41, 0, 0x42, 0, 0, 0}), QStringLiteral("AB"));
    EXPECT_EQ(PTP::decodeString(Bytes{0x03, 0x41, 0}), QStringLiteral("A"));
    EXPECT_EQ(PTP::decodeString(Bytes{0x03, 0x41}), QString());  // half a unit is not read
    EXPECT_EQ(PTP::decodeString(Bytes{0x03, 0x41, 0, 0, 0, 0, 0}), QStringLiteral("A") + QChar(0));
    // A lone surrogate is ill-formed UTF-16.
    EXPECT_EQ(PTP::decodeString(Bytes{0x02, 0x00, 0xD8, 0, 0}),
              QString(QChar(QChar::ReplacementCharacter)));
}

TEST(PTPString, EncodeCountsTheTerminatorAndCutsOverlongText) {
    EXPECT_EQ(PTP::encodeString(QString()), (Bytes{0x01, 0, 0}));
    const Bytes date = PTP::encodeString(QStringLiteral("20240201T080509"));
    ASSERT_EQ(date.size(), 33U);
    EXPECT_EQ(date[0], 0x10);
    EXPECT_EQ(PTP::decodeString(date), QStringLiteral("20240201T080509"));
    const Bytes longText = PTP::encodeString(QString(300, QChar(u'x')));
    EXPECT_EQ(longText[0], 255);
    EXPECT_EQ(longText.size(), 1U + 2 * 255);
    // A cut never splits a surrogate pair.
    QString emoji = QString(253, QChar(u'x')) + QString::fromUtf8("😀");
    EXPECT_EQ(PTP::encodeString(emoji)[0], 254);
}

TEST(PTPReader, WidensByTypeAndLeavesThePositionOnShortReads) {
    EXPECT_EQ(PTPReader(Bytes{0xFE, 0xFF}).readValue(PTP::DataType::int16), -2);
    EXPECT_EQ(PTPReader(Bytes{0xFE, 0xFF}).readValue(PTP::DataType::uint16), 65534);
    EXPECT_EQ(PTPReader(Bytes(8, 0xFF)).readValue(PTP::DataType::uint64), -1);
    EXPECT_EQ(PTPReader(Bytes{0x80}).readValue(PTP::DataType::int8), -128);
    EXPECT_EQ(PTPReader(Bytes{0xFF, 0xFF, 0xFF, 0xFF}).readValue(PTP::DataType::uint32),
              4294967295);

    PTPReader reader(Bytes{1, 2, 3});
    EXPECT_EQ(reader.readValue(PTP::DataType::int32), std::nullopt);
    EXPECT_EQ(reader.offset(), 0);
    EXPECT_EQ(reader.read<std::uint16_t>(), 0x0201);
    EXPECT_EQ(reader.remaining(), 1);

    // A string is skipped by its count even past the end; later reads then fail safely.
    PTPReader strings(Bytes{0x05, 0x41, 0x00});
    EXPECT_EQ(strings.readValue(PTP::DataType::string), 0);
    EXPECT_EQ(strings.offset(), 11);
    EXPECT_EQ(strings.remaining(), -8);
    EXPECT_EQ(strings.read<std::uint8_t>(), std::nullopt);
    EXPECT_EQ(strings.readValue(PTP::DataType::string), std::nullopt);
    EXPECT_EQ(PTPReader(Bytes{}).readValue(PTP::DataType::string), std::nullopt);
}

TEST(PTPEvent, CheckEventStopsAtACutRecordAndRejectsSillyCounts) {
    const Bytes twoAndAHalf{0x02, 0x00, 0x02, 0x40, 0x11, 0x22, 0x33, 0x44, 0x06, 0x40, 0x01};
    EXPECT_EQ(PTPEvent::checkEvent(twoAndAHalf), (std::vector<PTPEvent>{{0x4002, 0x44332211}}));
    Bytes tooMany{0x00, 0x01};
    for (int i = 0; i < 256 * 6; ++i) tooMany.push_back(1);
    EXPECT_TRUE(PTPEvent::checkEvent(tooMany).empty());
    EXPECT_TRUE(PTPEvent::checkEvent(Bytes{0x00, 0x00, 1, 2, 3, 4, 5, 6}).empty());
    EXPECT_TRUE(PTPEvent::checkEvent(Bytes{0x01}).empty());
    const Bytes codeOnly{0x01, 0x00, 0x0D, 0x40};
    EXPECT_TRUE(PTPEvent::checkEvent(codeOnly).empty());
}

TEST(PTPEvent, ContainerNeedsEightBytesAndDefaultsTheParameter) {
    EXPECT_EQ(PTPEvent::container(Bytes{0x10, 0, 0, 0, 4, 0, 0x02, 0x40}), (PTPEvent{0x4002, 0}));
    EXPECT_EQ(PTPEvent::container(Bytes{0x10, 0, 0, 0, 4, 0, 0x02}), std::nullopt);
    const Bytes full{0x10, 0, 0, 0, 4, 0, 0x0D, 0x40, 9, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(PTPEvent::container(full), (PTPEvent{0x400D, 0x12345678}));
    const Bytes sent = PTPEvent{0x400D, 0x12345678}.toContainer();
    EXPECT_EQ(sent, (Bytes{0x10, 0, 0, 0, 4, 0, 0x0D, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(PTPEvent::container(sent), (PTPEvent{0x400D, 0x12345678}));
}

}  // namespace
}  // namespace pexil
