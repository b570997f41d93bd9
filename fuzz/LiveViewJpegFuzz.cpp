#include "kit/liveview/LiveViewJpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any answer to GetLiveViewImg: the picture found must lie inside the answer, start with
// the marker, and run to its end.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView bytes(data, size);
    if (const auto picture = pexil::liveViewJpeg(bytes)) {
        if (picture->size() < 3 || picture->data() < data ||
            picture->data() + picture->size() != data + size || (*picture)[0] != 0xFF ||
            (*picture)[1] != 0xD8 || (*picture)[2] != 0xFF)
            std::abort();
    }
    return 0;
}
