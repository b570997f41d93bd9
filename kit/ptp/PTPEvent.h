#pragma once

#include "kit/ptp/Bytes.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil {

// One camera event: its code and first parameter.
struct PTPEvent {
    std::uint16_t code = 0;
    std::uint32_t param = 0;

    friend bool operator==(const PTPEvent&, const PTPEvent&) = default;

    // The data of Nikon CheckEvent: a 16-bit count, then 6-byte records. A count of 0 or
    // above 255 gives nothing; a record cut short ends the list.
    static std::vector<PTPEvent> checkEvent(ByteView bytes);
    // An event container as the camera service delivers it; none below 8 bytes, a missing
    // parameter reads as 0.
    static std::optional<PTPEvent> container(ByteView bytes);
    // The other way round, as a camera sends it on the interrupt pipe: no transaction
    // (0xFFFFFFFF), one parameter.
    Bytes toContainer() const;
};

}  // namespace pexil
