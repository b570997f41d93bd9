#include "kit/ptp/PTPEvent.h"

#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"

namespace pexil {

std::vector<PTPEvent> PTPEvent::checkEvent(ByteView bytes) {
    PTPReader reader(bytes);
    const auto count = reader.read<std::uint16_t>();
    if (!count || *count == 0 || *count > 255) return {};
    std::vector<PTPEvent> events;
    for (unsigned i = 0; i < *count; ++i) {
        const auto code = reader.read<std::uint16_t>();
        if (!code) break;
        const auto param = reader.read<std::uint32_t>();
        if (!param) break;
        events.push_back({*code, *param});
    }
    return events;
}

std::optional<PTPEvent> PTPEvent::container(ByteView bytes) {
    PTPReader reader(bytes);
    if (!reader.read<std::uint32_t>() || !reader.read<std::uint16_t>()) return std::nullopt;
    const auto code = reader.read<std::uint16_t>();
    if (!code) return std::nullopt;
    reader.read<std::uint32_t>();  // transaction ID
    return PTPEvent{*code, reader.read<std::uint32_t>().value_or(0)};
}

Bytes PTPEvent::toContainer() const {
    Bytes out;
    PTP::appendLE(out, std::uint32_t{16});
    PTP::appendLE(out, std::uint16_t{4});
    PTP::appendLE(out, code);
    PTP::appendLE(out, std::uint32_t{0xFFFFFFFF});
    PTP::appendLE(out, param);
    return out;
}

}  // namespace pexil
