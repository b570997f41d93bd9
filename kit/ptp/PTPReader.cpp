#include "kit/ptp/PTPReader.h"

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

}  // namespace pexil
