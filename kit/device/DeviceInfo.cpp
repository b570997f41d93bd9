#include "kit/device/DeviceInfo.h"

#include "kit/device/PropFormat.h"
#include "kit/ptp/PTP.h"

namespace pexil {

namespace {

// A forward cursor with the dataset's four readers; each read fails when the bytes run out.
class DatasetCursor {
public:
    explicit DatasetCursor(ByteView bytes) : bytes_(bytes) {}

    std::optional<std::uint16_t> u16() {
        if (left() < 2) return std::nullopt;
        const auto value = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }

    std::optional<std::uint32_t> u32() {
        if (left() < 4) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return value;
    }

    // The count byte stays consumed when the characters it announces are missing.
    std::optional<QString> string() {
        if (left() < 1) return std::nullopt;
        const std::size_t count = bytes_[pos_++];
        if (left() < 2 * count) return std::nullopt;
        std::vector<char16_t> units;
        units.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const auto unit =
                static_cast<char16_t>(bytes_[pos_ + 2 * i] | (bytes_[pos_ + 2 * i + 1] << 8));
            // Cameras pad with NULs and some put them inside names (a model of "D\0 5").
            if (unit != 0) units.push_back(unit);
        }
        pos_ += 2 * count;
        return PTP::fromUtf16Units(units);
    }

    std::optional<std::vector<std::uint16_t>> array() {
        const auto count = u32();
        if (!count) return std::nullopt;
        // 64-bit arithmetic: a count near 2^32 must fail here, not wrap.
        if (left() < 2 * static_cast<std::uint64_t>(*count)) return std::nullopt;
        std::vector<std::uint16_t> out;
        out.reserve(*count);
        for (std::uint32_t i = 0; i < *count; ++i) out.push_back(*u16());
        return out;
    }

private:
    std::uint64_t left() const { return bytes_.size() - pos_; }
    ByteView bytes_;
    std::size_t pos_ = 0;
};

bool containsNoCase(const QString& text, const char* word) {
    return text.contains(QLatin1String(word), Qt::CaseInsensitive);
}

}  // namespace

std::optional<DeviceInfo> DeviceInfo::parse(ByteView bytes) {
    DatasetCursor cursor(bytes);
    DeviceInfo info;
    if (!cursor.u16()) return std::nullopt;  // StandardVersion
    const auto vendor = cursor.u32();
    if (!vendor) return std::nullopt;
    info.vendor = *vendor;
    if (!cursor.u16() || !cursor.string() || !cursor.u16()) return std::nullopt;
    auto operations = cursor.array();
    if (!operations) return std::nullopt;
    auto events = cursor.array();
    if (!events) return std::nullopt;
    auto properties = cursor.array();
    if (!properties) return std::nullopt;
    if (!cursor.array() || !cursor.array()) return std::nullopt;  // capture and image formats
    auto manufacturer = cursor.string();
    if (!manufacturer) return std::nullopt;
    info.operations = std::move(*operations);
    info.events = std::move(*events);
    info.properties = std::move(*properties);
    info.manufacturer = std::move(*manufacturer);
    // Some bodies end the dataset early; what is missing from here on reads as empty.
    info.model = cursor.string().value_or(QString());
    info.version = cursor.string().value_or(QString());
    info.serialNumber = cursor.string().value_or(QString());
    return info;
}

std::uint32_t DeviceInfo::effectiveVendor() const {
    if (vendor != 0xFFFFFFFF && vendor != 0 && vendor != 6) return vendor;
    if (containsNoCase(manufacturer, "Nikon")) return PropFormat::vendorNikon;
    if (containsNoCase(manufacturer, "Sony")) return PropFormat::vendorSony;
    return vendor;
}

bool DeviceInfo::isNikon() const {
    return effectiveVendor() == PropFormat::vendorNikon;
}

}  // namespace pexil
