#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPError.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace pexil {

// One file on a camera's card, as the platform's card catalogue hands it out: the two
// requests CardFile builds on. Implementations adapt whatever camera service is in use.
//
// Threads: the requests are made on the main thread. Each completion is called exactly
// once, on any thread, possibly before the request returns; a request that cannot even be
// made answers with none and an error.
class CardFileSource {
public:
    // Data (or none) and an error (or none).
    using Done =
        std::function<void(std::optional<Bytes> data, std::optional<TransportError> error)>;

    virtual ~CardFileSource() = default;

    // Up to `length` bytes at `offset` of the file (fewer at its end). Both are non-negative.
    virtual void requestReadData(std::int64_t offset, std::int64_t length, Done done) = 0;
    // An encoded thumbnail no larger than `maxPixel` (at least 1) on its longest side.
    virtual void requestThumbnail(int maxPixel, Done done) = 0;
};

}  // namespace pexil
