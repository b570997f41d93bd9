#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/PTPReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The smaller readers of camera data: events, response containers, strings and values.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView bytes(data, size);
    if (pexil::PTPEvent::checkEvent(bytes).size() > 255) std::abort();
    (void)pexil::PTPEvent::container(bytes);
    (void)pexil::PTP::responseCode(bytes);
    if (const auto text = pexil::PTP::decodeString(bytes)) {
        // What decodes must encode again without growing past one count byte.
        if (pexil::PTP::encodeString(*text).size() > 1 + 2 * 255) std::abort();
    }
    pexil::PTPReader reader(bytes);
    for (int i = 0; i < 64 && reader.remaining() > 0; ++i) {
        const auto type = pexil::PTP::toDataType(reader.read<std::uint16_t>().value_or(0));
        if (type) (void)reader.readValue(*type);
    }
    return 0;
}
