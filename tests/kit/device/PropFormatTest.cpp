#include "kit/device/PropFormat.h"
#include "kit/ptp/PTP.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>

// Failure messages show the text, not the bytes of the QString object.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace pexil {
namespace {

using PTP::Prop;

const QString minus = QString(QChar(0x2212));

// Every test states the vendor whose camera it formats for; none: the standard's names.
class PropFormatTest : public ::testing::Test {
protected:
    QString text(Prop prop, std::int64_t value) const {
        return PropFormat::text(prop, value, vendor);
    }
    QString whiteBalanceSymbol(std::int64_t value) const {
        return PropFormat::whiteBalanceSymbol(value, vendor);
    }

    std::uint32_t vendor = 0;
};

TEST_F(PropFormatTest, PlainDecimals) {
    EXPECT_EQ(text(Prop::batteryLevel, 75), "75%");
    EXPECT_EQ(text(Prop::batteryLevel, 100), "100%");
    EXPECT_EQ(text(Prop::imageSize, 6000), "6000");  // no digit grouping
    EXPECT_EQ(text(Prop::iso, 6400), "6400");
    EXPECT_EQ(text(Prop::iso, 102400), "102400");
    EXPECT_EQ(text(Prop::iso, -1), "-1");
    EXPECT_EQ(text(Prop::iso, std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST_F(PropFormatTest, CompressionNamesOnlyForNikon) {
    vendor = PropFormat::vendorNikon;
    EXPECT_EQ(text(Prop::compressionSetting, 0), "JPEG Basic");
    EXPECT_EQ(text(Prop::compressionSetting, 1), "JPEG Normal");
    EXPECT_EQ(text(Prop::compressionSetting, 2), "JPEG Fine");
    EXPECT_EQ(text(Prop::compressionSetting, 3), "TIFF (RGB)");
    EXPECT_EQ(text(Prop::compressionSetting, 4), "NEF (RAW)");
    EXPECT_EQ(text(Prop::compressionSetting, 5), "NEF + Basic");
    EXPECT_EQ(text(Prop::compressionSetting, 6), "NEF + Normal");
    EXPECT_EQ(text(Prop::compressionSetting, 7), "NEF + Fine");
    EXPECT_EQ(text(Prop::compressionSetting, 8), "JPEG Basic★");
    EXPECT_EQ(text(Prop::compressionSetting, 13), "NEF + Fine★");
    EXPECT_EQ(text(Prop::compressionSetting, 14), "14");
    EXPECT_EQ(text(Prop::compressionSetting, -1), "-1");
    vendor = PropFormat::vendorSony;
    EXPECT_EQ(text(Prop::compressionSetting, 4), "4");
    vendor = 0;
    EXPECT_EQ(text(Prop::compressionSetting, 4), "4");
}

TEST_F(PropFormatTest, StandardWhiteBalanceForEveryVendor) {
    for (const std::uint32_t each : {0u, 6u, PropFormat::vendorNikon, PropFormat::vendorSony}) {
        vendor = each;
        EXPECT_EQ(text(Prop::whiteBalance, 1), "マニュアル") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 2), "オート") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 3), "ワンタッチ") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 4), "晴天") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 5), "蛍光灯") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 6), "電球") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 7), "フラッシュ") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 0), "0x0000") << vendor;
        EXPECT_EQ(text(Prop::whiteBalance, 8), "0x0008") << vendor;
    }
}

TEST_F(PropFormatTest, VendorWhiteBalanceNames) {
    vendor = PropFormat::vendorNikon;
    EXPECT_EQ(text(Prop::whiteBalance, 0x8010), "曇天");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8011), "日陰");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8012), "色温度");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8013), "プリセット");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8014), "オフ");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8015), "0x8015");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8016), "自然光オート");

    vendor = PropFormat::vendorSony;
    EXPECT_EQ(text(Prop::whiteBalance, 0x8010), "曇天");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8011), "日陰");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8012), "色温度");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8013), "0x8013");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8014), "0x8014");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8016), "0x8016");

    vendor = 0;
    EXPECT_EQ(text(Prop::whiteBalance, 0x8010), "0x8010");
    EXPECT_EQ(text(Prop::whiteBalance, 0x8016), "0x8016");
}

TEST_F(PropFormatTest, HexFallbackShowsTheWholeValue) {
    // Not cut to 16 or 32 bits: a value that differs from a named code must not look like it.
    EXPECT_EQ(text(Prop::whiteBalance, 0x18010), "0x18010");
    EXPECT_EQ(text(Prop::whiteBalance, 0x1'0000'0002), "0x100000002");
    EXPECT_EQ(text(Prop::whiteBalance, -1), "0xFFFFFFFFFFFFFFFF");
    EXPECT_EQ(text(Prop::focusMode, 0xABCD), "0xABCD");
}

TEST_F(PropFormatTest, ApertureAndFocalLength) {
    EXPECT_EQ(text(Prop::fNumber, 560), "f/5.6");
    EXPECT_EQ(text(Prop::fNumber, 800), "f/8");
    EXPECT_EQ(text(Prop::fNumber, 1400), "f/14");
    EXPECT_EQ(text(Prop::fNumber, 350), "f/3.5");
    EXPECT_EQ(text(Prop::fNumber, 120), "f/1.2");
    EXPECT_EQ(text(Prop::fNumber, 0), "f/0");
    EXPECT_EQ(text(Prop::focalLength, 5000), "50mm");
    EXPECT_EQ(text(Prop::focalLength, 2450), "24.5mm");
    EXPECT_EQ(text(Prop::focalLength, 10500), "105mm");
    // Integral values print exactly even beyond a double's 53-bit mantissa.
    EXPECT_EQ(text(Prop::focalLength, 900719925474099300), "9007199254740993mm");
}

TEST_F(PropFormatTest, FocusModeNikonNamesOnlyForNikon) {
    vendor = PropFormat::vendorNikon;
    EXPECT_EQ(text(Prop::focusMode, 1), "MF");
    EXPECT_EQ(text(Prop::focusMode, 2), "AF");
    EXPECT_EQ(text(Prop::focusMode, 3), "マクロ");
    EXPECT_EQ(text(Prop::focusMode, 0x8010), "AF-S");
    EXPECT_EQ(text(Prop::focusMode, 0x8011), "AF-C");
    EXPECT_EQ(text(Prop::focusMode, 0x8012), "AF-A");
    EXPECT_EQ(text(Prop::focusMode, 0x8013), "AF-F");
    EXPECT_EQ(text(Prop::focusMode, 0x8014), "0x8014");
    EXPECT_EQ(text(Prop::focusMode, 4), "0x0004");
    vendor = 0;
    EXPECT_EQ(text(Prop::focusMode, 1), "MF");
    EXPECT_EQ(text(Prop::focusMode, 0x8011), "0x8011");
    vendor = PropFormat::vendorSony;
    EXPECT_EQ(text(Prop::focusMode, 0x8010), "0x8010");
}

TEST_F(PropFormatTest, StandardShutterSpeeds) {
    EXPECT_EQ(text(Prop::exposureTime, 40), "1/250");
    EXPECT_EQ(text(Prop::exposureTime, 3), "1/3333");
    EXPECT_EQ(text(Prop::exposureTime, 125), "1/80");
    EXPECT_EQ(text(Prop::exposureTime, 166), "1/60");  // 60.24, within 2 %
    EXPECT_EQ(text(Prop::exposureTime, 5000), "1/2");
    EXPECT_EQ(text(Prop::exposureTime, 3390), "1/3");    // 2.950: 1.7 % off, within
    EXPECT_EQ(text(Prop::exposureTime, 3413), "1/2.9");  // 2.930: 2.4 % off, outside
    EXPECT_EQ(text(Prop::exposureTime, 6250), "1/1.6");
    EXPECT_EQ(text(Prop::exposureTime, 7692), "1/1.3");
    EXPECT_EQ(text(Prop::exposureTime, 9999), "1/1");
    EXPECT_EQ(text(Prop::exposureTime, 10000), "1\"");
    EXPECT_EQ(text(Prop::exposureTime, 13000), "1.3\"");
    EXPECT_EQ(text(Prop::exposureTime, 20000), "2\"");
    EXPECT_EQ(text(Prop::exposureTime, 300000), "30\"");
    EXPECT_EQ(text(Prop::exposureTime, 0), "—");
    EXPECT_EQ(text(Prop::exposureTime, -40), "—");
    EXPECT_EQ(text(Prop::exposureTime, 4294967295), "Bulb");
    EXPECT_EQ(text(Prop::exposureTime, 4294967294), "Time");
    EXPECT_EQ(text(Prop::exposureTime, 4294967296), "429496.7\"");
    EXPECT_EQ(text(Prop::exposureTime, 10'000'000'000'000'000), "1000000000000\"");
    EXPECT_TRUE(text(Prop::exposureTime, std::numeric_limits<std::int64_t>::max()).endsWith('"'));
}

TEST_F(PropFormatTest, NikonShutterSpeeds) {
    auto nikon = [this](std::uint32_t numerator, std::uint32_t denominator) {
        return text(Prop::nikonExposureTime, std::int64_t{(numerator << 16) | denominator});
    };
    EXPECT_EQ(nikon(1, 250), "1/250");
    EXPECT_EQ(nikon(1, 8000), "1/8000");
    EXPECT_EQ(nikon(10, 25), "1/2.5");
    EXPECT_EQ(nikon(2, 3), "1/1.5");
    EXPECT_EQ(nikon(10, 6000), "1/600");   // exact quotient, no tolerance needed
    EXPECT_EQ(nikon(3, 1000), "1/333.3");  // and none applied
    EXPECT_EQ(nikon(2, 1), "2\"");
    EXPECT_EQ(nikon(3, 2), "1.5\"");
    EXPECT_EQ(nikon(10, 10), "1\"");
    EXPECT_EQ(nikon(13, 10), "1.3\"");
    EXPECT_EQ(nikon(30, 1), "30\"");
    EXPECT_EQ(nikon(0xFFFE, 1), "65534\"");
    EXPECT_EQ(nikon(0, 250), "—");
    EXPECT_EQ(nikon(1, 0), "—");
    EXPECT_EQ(text(Prop::nikonExposureTime, 0), "—");
    EXPECT_EQ(text(Prop::nikonExposureTime, 0xFFFFFFFE), "x200");
    EXPECT_EQ(text(Prop::nikonExposureTime, 0xFFFFFFFF), "Bulb");
    EXPECT_EQ(text(Prop::nikonExposureTime, 0xFFFFFFFD), "Time");
    // Only the low 32 bits count, however the value was widened.
    EXPECT_EQ(text(Prop::nikonExposureTime, -2), "x200");
    EXPECT_EQ(text(Prop::nikonExposureTime, 0x7'0001'00FA), "1/250");
    // -4 is no marker: it reads as 0xFFFF over 0xFFFC.
    EXPECT_EQ(text(Prop::nikonExposureTime, 0xFFFFFFFC), "1.0\"");
}

TEST_F(PropFormatTest, ExposureProgramLetters) {
    EXPECT_EQ(text(Prop::exposureProgram, 1), "M");
    EXPECT_EQ(text(Prop::exposureProgram, 2), "P");
    EXPECT_EQ(text(Prop::exposureProgram, 3), "A");
    EXPECT_EQ(text(Prop::exposureProgram, 4), "S");
    EXPECT_EQ(text(Prop::exposureProgram, 0), "0");
    EXPECT_EQ(text(Prop::exposureProgram, 0x8010), "32784");
}

// Nikon's names for its own codes; another maker's camera keeps the standard's names, else
// the number, since the same code means something else there.
TEST_F(PropFormatTest, NikonModesAndSettingsByName) {
    struct Case {
        Prop prop;
        std::int64_t value;
        const char* nikon;
        const char* other;
    };
    const Case cases[] = {
        {Prop::exposureProgram, 0x8010, "AUTO", "32784"},
        {Prop::exposureProgram, 0x8016, "発光禁止オート", "32790"},
        {Prop::exposureProgram, 0x8019, "EFFECTS", "32793"},
        {Prop::exposureProgram, 0x8050, "U1", "32848"},
        {Prop::exposureProgram, 0x8052, "U3", "32850"},
        {Prop::exposureProgram, 0x8053, "32851", "32851"},
        {Prop::exposureMetering, 3, "マルチパターン測光", "マルチスポット測光"},
        {Prop::exposureMetering, 0x8010, "ハイライト重点測光", "0x8010"},
        {Prop::flashMode, 2, "発光禁止", "発光禁止"},
        {Prop::flashMode, 0x8012, "後幕シンクロ", "0x8012"},
        {Prop::stillCaptureMode, 1, "1コマ撮影", "1コマ撮影"},
        {Prop::stillCaptureMode, 2, "高速連続撮影", "連続撮影"},
        {Prop::stillCaptureMode, 0x8010, "低速連続撮影", "0x8010"},
        {Prop::stillCaptureMode, 0x8100, "ハイスピードフレームキャプチャー", "0x8100"},
        {Prop::stillCaptureMode, 0x811E, "C30", "0x811E"},
        {Prop::stillCaptureMode, 0x8178, "C120", "0x8178"},
        {Prop::stillCaptureMode, 0x8200, "0x8200", "0x8200"},
        {Prop::focusMetering, 2, "ダイナミック AF（9点）", "マルチスポット"},
        {Prop::focusMetering, 0x8017, "ピンポイント AF", "0x8017"},
        {Prop::focusMetering, 0x801A, "0x801A", "0x801A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PropFormat::text(c.prop, c.value, PropFormat::vendorNikon), QString::fromUtf8(c.nikon))
            << PTP::name(c.prop).toStdString() << " " << c.value;
        EXPECT_EQ(PropFormat::text(c.prop, c.value, PropFormat::vendorSony), QString::fromUtf8(c.other))
            << PTP::name(c.prop).toStdString() << " " << c.value;
    }
}

TEST_F(PropFormatTest, ExposureBiasSignsAndZero) {
    EXPECT_EQ(text(Prop::exposureBias, -333), minus + "0.3");
    EXPECT_EQ(text(Prop::exposureBias, 667), "+0.7");
    EXPECT_EQ(text(Prop::exposureBias, 5), "±0");
    EXPECT_EQ(text(Prop::exposureBias, 0), "±0");
    EXPECT_EQ(text(Prop::exposureBias, -9), "±0");
    EXPECT_EQ(text(Prop::exposureBias, 1000), "+1.0");
    EXPECT_EQ(text(Prop::exposureBias, -2000), minus + "2.0");
    EXPECT_EQ(text(Prop::exposureBias, -1667), minus + "1.7");
    EXPECT_FALSE(text(Prop::exposureBias, -333).contains('-'));  // never the hyphen-minus
    EXPECT_TRUE(
        text(Prop::exposureBias, std::numeric_limits<std::int64_t>::min()).startsWith(minus));
}

TEST_F(PropFormatTest, UnknownPropertyFallsBackToDecimal) {
    EXPECT_EQ(text(static_cast<Prop>(0x5002), 42), "42");
}

TEST_F(PropFormatTest, WhiteBalanceSymbols) {
    vendor = PropFormat::vendorNikon;
    EXPECT_EQ(whiteBalanceSymbol(1), "slider.horizontal.3");
    EXPECT_EQ(whiteBalanceSymbol(2), "a.circle");
    EXPECT_EQ(whiteBalanceSymbol(3), "hand.tap");
    EXPECT_EQ(whiteBalanceSymbol(4), "sun.max");
    EXPECT_EQ(whiteBalanceSymbol(5), "light.cylindrical.ceiling");
    EXPECT_EQ(whiteBalanceSymbol(6), "lightbulb");
    EXPECT_EQ(whiteBalanceSymbol(7), "bolt");
    EXPECT_EQ(whiteBalanceSymbol(0x8010), "cloud");
    EXPECT_EQ(whiteBalanceSymbol(0x8011), "house");
    EXPECT_EQ(whiteBalanceSymbol(0x8012), "thermometer.medium");
    EXPECT_EQ(whiteBalanceSymbol(0x8013), "eyedropper");
    EXPECT_EQ(whiteBalanceSymbol(0x8014), "circle.slash");
    EXPECT_EQ(whiteBalanceSymbol(0x8015), "circle.lefthalf.filled");
    EXPECT_EQ(whiteBalanceSymbol(0x8016), "sun.haze");
    EXPECT_EQ(whiteBalanceSymbol(0), "circle.lefthalf.filled");

    // A vendor code gets its icon only where that vendor names it.
    vendor = PropFormat::vendorSony;
    EXPECT_EQ(whiteBalanceSymbol(0x8010), "cloud");
    EXPECT_EQ(whiteBalanceSymbol(0x8012), "thermometer.medium");
    EXPECT_EQ(whiteBalanceSymbol(0x8013), "circle.lefthalf.filled");
    EXPECT_EQ(whiteBalanceSymbol(0x8016), "circle.lefthalf.filled");
    vendor = 0;
    EXPECT_EQ(whiteBalanceSymbol(0x8010), "circle.lefthalf.filled");
    EXPECT_EQ(whiteBalanceSymbol(4), "sun.max");
}

}  // namespace
}  // namespace pexil
