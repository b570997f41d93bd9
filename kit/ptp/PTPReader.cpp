#include "kit/ptp/PTPReader.h"

#include <vector>

namespace pexil {

namespace {
template <class T>
std::optional<std::int64_t> widen(std::optional<T> value) {
    if (!value) return std::nullopt;
    return static_cast<std::int64_t>(*value);
}
}  // namespace

std::optional<std::int64_t> PTPReader::readValue(PTP::DataType type) {
    using PTP::DataType;
    switch (type) {
        case DataType::int8:
            return widen(read<std::int8_t>());
        case DataType::uint8:
            return widen(read<std::uint8_t>());
        case DataType::int16:
            return widen(read<std::int16_t>());
        case DataType::uint16:
            return widen(read<std::uint16_t>());
        case DataType::int32:
            return widen(read<std::int32_t>());
        case DataType::uint32:
            return widen(read<std::uint32_t>());
        case DataType::int64:
            return widen(read<std::int64_t>());
        case DataType::uint64:
            return widen(read<std::uint64_t>());
        case DataType::string: {
            const auto count = read<std::uint8_t>();
            if (!count) return std::nullopt;
            offset_ += 2 * static_cast<std::int64_t>(*count);
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<QString> PTPReader::readString() {
    if (remaining() < 1) return std::nullopt;
    const std::size_t count = data_[static_cast<std::size_t>(offset_)];
    if (remaining() < 1 + 2 * static_cast<std::int64_t>(count)) return std::nullopt;
    ++offset_;
    std::vector<char16_t> units;
    units.reserve(count);
    bool terminated = false;
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<char16_t>(*read<std::uint16_t>());
        if (unit == 0) terminated = true;
        if (!terminated) units.push_back(unit);
    }
    return PTP::fromUtf16Units(units);
}

}  // namespace pexil
