#include "kit/device/CameraCapabilities.h"
#include "kit/device/DeviceInfo.h"
#include "support/Datasets.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

using testing::DeviceInfoSpec;

TEST(DeviceInfo, ParsesAFullDataset) {
    const auto info = DeviceInfo::parse(testing::deviceInfo());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendor, 6U);
    EXPECT_EQ(info->manufacturer, QStringLiteral("Nikon Corporation"));
    EXPECT_EQ(info->model, QStringLiteral("D850"));
    EXPECT_EQ(info->version, QStringLiteral("V1.02"));
    EXPECT_EQ(info->serialNumber, QStringLiteral("3000123"));
    EXPECT_EQ(info->operations.front(), 0x1001);
    EXPECT_EQ(info->operations.back(), 0x9203);
    EXPECT_EQ(info->events, (std::vector<std::uint16_t>{0x4002, 0x4006, 0x400D}));
    EXPECT_EQ(info->properties.size(), 12U);
}

TEST(DeviceInfo, CutShortAfterTheManufacturerStillParsesWithEmptyNames) {
    Bytes bytes = testing::deviceInfo();
    const Bytes tail = [] {
        Bytes t;
        testing::appendString(t, QStringLiteral("D850"));
        testing::appendString(t, QStringLiteral("V1.02"));
        testing::appendString(t, QStringLiteral("3000123"));
        return t;
    }();
    bytes.resize(bytes.size() - tail.size());
    const auto info = DeviceInfo::parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->model.isEmpty());
    EXPECT_TRUE(info->version.isEmpty());
    EXPECT_TRUE(info->serialNumber.isEmpty());

    // Every shorter prefix up to the manufacturer fails, none reads outside.
    const Bytes full = testing::deviceInfo();
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(DeviceInfo::parse(ByteView(full.data(), n))) << "prefix " << n;
}

TEST(DeviceInfo, AStringAnnouncingMoreThanRemainsFailsTheParse) {
    Bytes bytes = testing::deviceInfo();
    bytes[8] = 0xF0;  // the VendorExtensionDesc count byte
    EXPECT_FALSE(DeviceInfo::parse(bytes));
}

TEST(DeviceInfo, AnArrayCountNearTwoToThe32FailsWithoutWrapping) {
    Bytes bytes = testing::deviceInfo();
    const std::size_t operationsCount = 2 + 4 + 2 + 1 + 2 * 19 + 2;
    ASSERT_EQ(bytes[operationsCount], 21);
    for (int i = 0; i < 4; ++i) bytes[operationsCount + static_cast<std::size_t>(i)] = 0xFF;
    EXPECT_FALSE(DeviceInfo::parse(bytes));
}

TEST(DeviceInfo, EmbeddedZeroUnitsAreDropped) {
    // Empty model, version and serial are one zero count byte each; put "D", NUL, "5" in their
    // place.
    Bytes bytes =
        testing::deviceInfo({.model = QString(), .version = QString(), .serial = QString()});
    bytes.resize(bytes.size() - 3);
    bytes.insert(bytes.end(), {0x03, 'D', 0, 0, 0, '5', 0});
    const auto info = DeviceInfo::parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->model, QStringLiteral("D5"));
}

TEST(DeviceInfo, EffectiveVendorAsksTheManufacturerOnlyForGenericIds) {
    auto vendorOf = [](std::uint32_t vendor, const char* manufacturer) {
        DeviceInfo info;
        info.vendor = vendor;
        info.manufacturer = QString::fromUtf8(manufacturer);
        return info.effectiveVendor();
    };
    EXPECT_EQ(vendorOf(6, "Nikon Corporation"), 10U);
    EXPECT_EQ(vendorOf(0xFFFFFFFF, "NIKON"), 10U);
    EXPECT_EQ(vendorOf(0, "nikon"), 10U);
    EXPECT_EQ(vendorOf(6, "SONY"), 17U);
    EXPECT_EQ(vendorOf(10, "Canon"), 10U);
    EXPECT_EQ(vendorOf(0x0B, "Nikon"), 0x0BU);
    EXPECT_EQ(vendorOf(6, "Canon Inc."), 6U);
}

TEST(CameraCapabilities, RecognisesTheNikon1Line) {
    auto isNikon1 = [](const char* manufacturer, const char* model) {
        DeviceInfo info;
        info.manufacturer = QString::fromUtf8(manufacturer);
        info.model = QString::fromUtf8(model);
        return CameraCapabilities(info).isNikon1;
    };
    EXPECT_TRUE(isNikon1("Nikon Corporation", "V1"));
    EXPECT_TRUE(isNikon1("Nikon Corporation", "J5"));
    EXPECT_TRUE(isNikon1("NIKON", "S1"));
    EXPECT_FALSE(isNikon1("Nikon Corporation", "S10"));
    EXPECT_FALSE(isNikon1("Nikon Corporation", "D850"));
    EXPECT_FALSE(isNikon1("Nikon Corporation", "Z 6"));
    EXPECT_FALSE(isNikon1("Nikon Corporation", ""));
    EXPECT_FALSE(isNikon1("Nikon Corporation", "j5"));
    EXPECT_FALSE(isNikon1("Fujifilm", "V1"));
}

// Laid out by hand from the standard's DeviceInfo table, so a mistake shared by the test data
// builder and the parser cannot pass unseen.
TEST(DeviceInfo, ReadsADatasetLaidOutByHand) {
    const Bytes bytes = {
        0x64, 0x00,                                         // StandardVersion 100
        0x0A, 0x00, 0x00, 0x00,                             // VendorExtensionID 10 (Nikon)
        0x64, 0x00,                                         // VendorExtensionVersion
        0x00,                                               // VendorExtensionDesc: empty
        0x00, 0x00,                                         // FunctionalMode
        0x02, 0x00, 0x00, 0x00, 0x01, 0x10, 0x02, 0x90,     // OperationsSupported {0x1001, 0x9002}
        0x01, 0x00, 0x00, 0x00, 0x02, 0x40,                 // EventsSupported {0x4002}
        0x00, 0x00, 0x00, 0x00,                             // DevicePropertiesSupported {}
        0x00, 0x00, 0x00, 0x00,                             // CaptureFormats {}
        0x01, 0x00, 0x00, 0x00, 0x01, 0x38,                 // ImageFormats {0x3801}
        0x04, 'N',  0,    'I',  0,    'K',  0,    0,    0,  // Manufacturer "NIK"
        0x05, 'Z',  0,    ' ',  0,    0x30, 0x6F, '8',  0,
        0,    0,        // Model: one character beyond ASCII
        0x01, 0,    0,  // DeviceVersion: only the terminator
        0x00,           // SerialNumber: empty
    };
    const auto info = DeviceInfo::parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendor, 10U);
    EXPECT_EQ(info->operations, (std::vector<std::uint16_t>{0x1001, 0x9002}));
    EXPECT_EQ(info->events, (std::vector<std::uint16_t>{0x4002}));
    EXPECT_TRUE(info->properties.empty());
    EXPECT_EQ(info->manufacturer, QStringLiteral("NIK"));
    EXPECT_EQ(info->model, QStringLiteral("Z ") + QChar(0x6F30) + QStringLiteral("8"));
    EXPECT_EQ(info->version, QString());
    EXPECT_EQ(info->serialNumber, QString());
}

}  // namespace
}  // namespace pexil
