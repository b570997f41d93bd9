#include "kit/device/PropFormat.h"

#include "kit/ptp/Localized.h"

#include <cmath>
#include <optional>

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
    if (vendor == vendorNikon) {
        switch (value) {
            case 0:
                return QStringLiteral("JPEG Basic");
            case 1:
                return QStringLiteral("JPEG Normal");
            case 2:
                return QStringLiteral("JPEG Fine");
            case 3:
                return QStringLiteral("TIFF (RGB)");
            case 4:
                return QStringLiteral("NEF (RAW)");
            case 5:
                return QStringLiteral("NEF + Basic");
            case 6:
                return QStringLiteral("NEF + Normal");
            case 7:
                return QStringLiteral("NEF + Fine");
            default:
                break;
        }
    }
    return decimal(value);
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

QString exposureProgram(std::int64_t value) {
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
            return exposureProgram(value);
        case Prop::iso:
            return decimal(value);
        case Prop::exposureBias:
            return exposureBias(value);
        case Prop::nikonExposureTime:
            return nikonExposureTime(value);
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
