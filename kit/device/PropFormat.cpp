#include "kit/device/PropFormat.h"

#include "kit/ptp/Localized.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

namespace pexil::PropFormat {

namespace {

using PTP::Prop;

const QChar secondsMark{u'"'};

QString decimal(std::int64_t value) {
    return QString::number(static_cast<qlonglong>(value));
}

// The wire value is widened to 64 bits, and "%X" takes an unsigned int: passing the
// widened value straight through would be undefined, and truncating it would show a
// different number from the one the camera sent. The whole bit pattern is shown instead.
QString hex(std::int64_t value) {
    return QString::asprintf("0x%04llX", static_cast<unsigned long long>(value));
}

// One named value of a table below. Latin names ("AF-S", "U1") are shown as they are;
// Japanese ones go through the string table.
struct Named {
    std::int64_t value;
    const char* text;
    bool latin = false;
};

std::optional<QString> lookUp(std::span<const Named> table, std::int64_t value) {
    const auto it = std::find_if(table.begin(), table.end(), [value](const Named& n) { return n.value == value; });
    if (it == table.end()) return std::nullopt;
    return it->latin ? QString::fromUtf8(it->text) : localized(it->text);
}

// Nikon's names, in the camera's own wording. Each table covers every value that the Nikon
// bodies we know of offer.
constexpr Named nikonCompression[] = {
    {0, "JPEG Basic", true},         {1, "JPEG Normal", true},         {2, "JPEG Fine", true},
    {3, "TIFF (RGB)", true},         {4, "NEF (RAW)", true},           {5, "NEF + Basic", true},
    {6, "NEF + Normal", true},       {7, "NEF + Fine", true},
    // The ★ qualities: JPEG compressed for the best picture rather than a steady size.
    {8, "JPEG Basic★", true},        {9, "JPEG Normal★", true},        {10, "JPEG Fine★", true},
    {11, "NEF + Basic★", true},      {12, "NEF + Normal★", true},      {13, "NEF + Fine★", true},
};

constexpr Named nikonPrograms[] = {
    {0x8010, "AUTO", true},   {0x8011, "ポートレート"}, {0x8012, "風景"},
    {0x8013, "クローズアップ"}, {0x8014, "スポーツ"},     {0x8015, "夜景ポートレート"},
    {0x8016, "発光禁止オート"}, {0x8017, "こども"},       {0x8018, "SCENE", true},
    {0x8019, "EFFECTS", true}, {0x8050, "U1", true},      {0x8051, "U2", true},
    {0x8052, "U3", true},
};

constexpr Named standardMetering[] = {
    {1, "平均測光"}, {2, "中央部重点測光"}, {3, "マルチスポット測光"}, {4, "スポット測光"},
};
constexpr Named nikonMetering[] = {
    {2, "中央部重点測光"}, {3, "マルチパターン測光"}, {4, "スポット測光"}, {0x8010, "ハイライト重点測光"},
};

constexpr Named standardFlash[] = {
    {1, "オート"}, {2, "発光禁止"}, {3, "強制発光"}, {4, "赤目軽減"}, {5, "赤目軽減強制発光"}, {6, "外部シンクロ"},
};
constexpr Named nikonFlash[] = {
    {0x8010, "通常発光"}, {0x8011, "スローシンクロ"}, {0x8012, "後幕シンクロ"}, {0x8013, "赤目軽減スローシンクロ"},
};

constexpr Named standardCapture[] = {
    {1, "1コマ撮影"}, {2, "連続撮影"}, {3, "インターバル撮影"},
};
constexpr Named nikonCapture[] = {
    {2, "高速連続撮影"},
    {0x8010, "低速連続撮影"},
    {0x8011, "セルフタイマー"},
    {0x8012, "ミラーアップ撮影"},
    {0x8013, "リモコン"},
    {0x8014, "即時リモコン"},
    {0x8015, "2秒リモコン"},
    {0x8016, "静音撮影"},
    {0x8018, "静音連続撮影"},
    {0x8019, "高速連続撮影（拡張）"},
    {0x8100, "ハイスピードフレームキャプチャー"},
};

constexpr Named standardFocusMetering[] = {
    {1, "中央スポット"}, {2, "マルチスポット"},
};
// The AF-area modes; the dynamic ones are named by the D850's point counts.
constexpr Named nikonFocusMetering[] = {
    {2, "ダイナミック AF（9点）"},
    {0x8010, "シングルポイント AF"},
    {0x8011, "オートエリア AF"},
    {0x8012, "3D トラッキング"},
    {0x8013, "ダイナミック AF（25点）"},
    {0x8014, "ダイナミック AF（72点）"},
    {0x8015, "ダイナミック AF（153点）"},
    {0x8016, "グループエリア AF"},
    {0x8017, "ピンポイント AF"},
    {0x8018, "ワイドエリア AF（S）"},
    {0x8019, "ワイドエリア AF（L）"},
};

std::optional<QString> standardWhiteBalanceName(std::int64_t value) {
    switch (value) {
        case 1:
            return localized("マニュアル");
        case 2:
            return localized("オート");
        case 3:
            return localized("ワンタッチ");
        case 4:
            return localized("晴天");
        case 5:
            return localized("蛍光灯");
        case 6:
            return localized("電球");
        case 7:
            return localized("フラッシュ");
        default:
            return std::nullopt;
    }
}

// Sony shares only the first three of Nikon's vendor white-balance codes; the others mean
// something else (or nothing) on its bodies, so they stay unnamed there.
std::optional<QString> vendorWhiteBalanceName(std::int64_t value, std::uint32_t v) {
    if (v != vendorNikon && v != vendorSony) return std::nullopt;
    switch (value) {
        case 0x8010:
            return localized("曇天");
        case 0x8011:
            return localized("日陰");
        case 0x8012:
            return localized("色温度");
        default:
            break;
    }
    if (v != vendorNikon) return std::nullopt;
    switch (value) {
        case 0x8013:
            return localized("プリセット");
        case 0x8014:
            return localized("オフ");
        case 0x8016:
            return localized("自然光オート");
        default:
            return std::nullopt;
    }
}

QString compressionSetting(std::int64_t value, std::uint32_t vendor) {
    if (vendor == vendorNikon)
        if (auto name = lookUp(nikonCompression, value)) return *name;
    return decimal(value);
}

// A vendor's table first, then the standard's; a value named by neither shows as `fallback`.
QString named(std::int64_t value, std::uint32_t vendor, std::span<const Named> standard,
              std::span<const Named> nikon, QString fallback) {
    if (vendor == vendorNikon)
        if (auto name = lookUp(nikon, value)) return *name;
    if (auto name = lookUp(standard, value)) return *name;
    return fallback;
}

QString stillCaptureMode(std::int64_t value, std::uint32_t vendor) {
    // The high-speed frame captures (C15, C30, C60, C120) count their rate from 0x8100.
    if (vendor == vendorNikon && value > 0x8100 && value <= 0x81FF)
        return QStringLiteral("C") + decimal(value - 0x8100);
    return named(value, vendor, standardCapture, nikonCapture, hex(value));
}

QString whiteBalance(std::int64_t value, std::uint32_t vendor) {
    if (auto name = standardWhiteBalanceName(value)) return *name;
    if (auto name = vendorWhiteBalanceName(value, vendor)) return *name;
    return hex(value);
}

QString focusMode(std::int64_t value, std::uint32_t vendor) {
    switch (value) {
        case 1:
            return QStringLiteral("MF");
        case 2:
            return QStringLiteral("AF");
        case 3:
            return localized("マクロ");
        default:
            break;
    }
    if (vendor == vendorNikon) {
        switch (value) {
            case 0x8010:
                return QStringLiteral("AF-S");
            case 0x8011:
                return QStringLiteral("AF-C");
            case 0x8012:
                return QStringLiteral("AF-A");
            case 0x8013:
                return QStringLiteral("AF-F");
            default:
                break;
        }
    }
    return hex(value);
}

// Values in hundredths (f-numbers, focal lengths). Integrality is decided on the integer so
// that large values are not misjudged by rounding in a double.
QString hundredths(std::int64_t value, const QString& prefix, const char* fractionFormat,
                   const QString& suffix) {
    if (value % 100 == 0) return prefix + decimal(value / 100) + suffix;
    return QString::asprintf(fractionFormat, static_cast<double>(value) / 100.0);
}

QString exposureTime(std::int64_t value) {
    if (value == 0xFFFFFFFF) return QStringLiteral("Bulb");
    if (value == 0xFFFFFFFE) return QStringLiteral("Time");
    if (value < 1) return QStringLiteral("—");
    constexpr std::int64_t perSecond = 10000;
    if (value >= perSecond) {
        if (value % perSecond == 0) return decimal(value / perSecond) + secondsMark;
        return QString::asprintf("%.1f", static_cast<double>(value) / perSecond) + secondsMark;
    }
    // Cameras report 1/250 as 40 and 1/3200 as 3 (really 1/3333): a 2 % tolerance shows the
    // nominal stop the photographer set rather than the rounded tick count.
    const double reciprocal = static_cast<double>(perSecond) / static_cast<double>(value);
    const double nearest = std::round(reciprocal);
    if (std::abs(reciprocal - nearest) / reciprocal < 0.02)
        return QStringLiteral("1/") + decimal(static_cast<std::int64_t>(nearest));
    return QString::asprintf("1/%.1f", reciprocal);
}

QString nikonExposureTime(std::int64_t value) {
    const auto low = static_cast<std::uint32_t>(value);
    switch (static_cast<std::int32_t>(low)) {
        case -3:
            return QStringLiteral("Time");
        case -1:
            return QStringLiteral("Bulb");
        case -2:
            return QStringLiteral("x200");
        default:
            break;
    }
    const std::uint32_t numerator = low >> 16;
    const std::uint32_t denominator = low & 0xFFFFU;
    if (numerator == 0 || denominator == 0) return QStringLiteral("—");
    if (numerator >= denominator) {
        if (numerator % denominator == 0) return decimal(numerator / denominator) + secondsMark;
        return QString::asprintf("%.1f", static_cast<double>(numerator) / denominator) +
               secondsMark;
    }
    if (denominator % numerator == 0)
        return QStringLiteral("1/") + decimal(denominator / numerator);
    return QString::asprintf("1/%.1f", static_cast<double>(denominator) / numerator);
}

QString exposureProgram(std::int64_t value, std::uint32_t vendor) {
    if (vendor == vendorNikon)
        if (auto name = lookUp(nikonPrograms, value)) return *name;
    switch (value) {
        case 1:
            return QStringLiteral("M");
        case 2:
            return QStringLiteral("P");
        case 3:
            return QStringLiteral("A");
        case 4:
            return QStringLiteral("S");
        default:
            return decimal(value);
    }
}

QString exposureBias(std::int64_t value) {
    // In double, so that the magnitude of the most negative value cannot overflow.
    const double ev = static_cast<double>(value) / 1000.0;
    if (std::abs(ev) < 0.01) return QStringLiteral("±0");
    const QString sign = ev > 0 ? QStringLiteral("+") : QString(QChar(0x2212));
    return sign + QString::asprintf("%.1f", std::abs(ev));
}

}  // namespace

QString text(PTP::Prop prop, std::int64_t value, std::uint32_t vendor) {
    switch (prop) {
        case Prop::batteryLevel:
            return decimal(value) + u'%';
        case Prop::imageSize:
            return decimal(value);
        case Prop::compressionSetting:
            return compressionSetting(value, vendor);
        case Prop::whiteBalance:
            return whiteBalance(value, vendor);
        case Prop::fNumber:
            return hundredths(value, QStringLiteral("f/"), "f/%.1f", {});
        case Prop::focalLength:
            return hundredths(value, {}, "%.1fmm", QStringLiteral("mm"));
        case Prop::focusMode:
            return focusMode(value, vendor);
        case Prop::exposureTime:
            return exposureTime(value);
        case Prop::exposureProgram:
            return exposureProgram(value, vendor);
        case Prop::iso:
            return decimal(value);
        case Prop::exposureBias:
            return exposureBias(value);
        case Prop::nikonExposureTime:
            return nikonExposureTime(value);
        case Prop::exposureMetering:
            return named(value, vendor, standardMetering, nikonMetering, hex(value));
        case Prop::flashMode:
            return named(value, vendor, standardFlash, nikonFlash, hex(value));
        case Prop::stillCaptureMode:
            return stillCaptureMode(value, vendor);
        case Prop::focusMetering:
            return named(value, vendor, standardFocusMetering, nikonFocusMetering, hex(value));
        default:
            return decimal(value);
    }
}

QString whiteBalanceSymbol(std::int64_t value, std::uint32_t vendor) {
    switch (value) {
        case 1:
            return QStringLiteral("slider.horizontal.3");
        case 2:
            return QStringLiteral("a.circle");
        case 3:
            return QStringLiteral("hand.tap");
        case 4:
            return QStringLiteral("sun.max");
        case 5:
            return QStringLiteral("light.cylindrical.ceiling");
        case 6:
            return QStringLiteral("lightbulb");
        case 7:
            return QStringLiteral("bolt");
        default:
            break;
    }
    // A vendor code gets its icon only where it has a name; elsewhere it may mean anything.
    if (vendorWhiteBalanceName(value, vendor)) {
        switch (value) {
            case 0x8010:
                return QStringLiteral("cloud");
            case 0x8011:
                return QStringLiteral("house");
            case 0x8012:
                return QStringLiteral("thermometer.medium");
            case 0x8013:
                return QStringLiteral("eyedropper");
            case 0x8014:
                return QStringLiteral("circle.slash");
            case 0x8016:
                return QStringLiteral("sun.haze");
            default:
                break;
        }
    }
    return QStringLiteral("circle.lefthalf.filled");
}

}  // namespace pexil::PropFormat
