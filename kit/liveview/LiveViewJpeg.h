#pragma once

#include "kit/ptp/Bytes.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace pexil {

// The JPEG inside a Nikon GetLiveViewImg answer: a vendor header (its size differs between
// bodies) comes first, so the picture is found by its start marker FF D8 FF within the
// first 4096 bytes, and runs to the end of the data. The result is a view into `in`, valid
// as long as `in` is; none when the data is shorter than 4 bytes or has no marker there.
inline std::optional<ByteView> liveViewJpeg(ByteView in) {
    constexpr std::size_t searchLimit = 4096;
    const std::size_t n = std::min(in.size(), searchLimit);
    if (n < 4) return std::nullopt;
    for (std::size_t i = 0; i + 2 < n; ++i) {
        if (in[i] == 0xFF && in[i + 1] == 0xD8 && in[i + 2] == 0xFF) return in.subspan(i);
    }
    return std::nullopt;
}

}  // namespace pexil
