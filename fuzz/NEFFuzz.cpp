#include "kit/nef/NEF.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Both readers see the same bytes: any head of a file, as the camera may hand us.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView bytes(data, size);
    if (const auto turn = pexil::NEF::orientation(bytes); turn && (*turn < 1 || *turn > 8))
        std::abort();
    if (const auto found = pexil::NEF::largestPreview(bytes);
        found && (found->offset < 0 || found->length <= 0))
        std::abort();
    return 0;
}
