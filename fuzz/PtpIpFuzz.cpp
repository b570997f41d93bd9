#include "camera/ptpip/PtpIpPackets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// PTP/IP packets as a connection reads them: header after header, each whole packet
// parsed, plus the standard event container a transport turns events into.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pexil::camera::ptpip;
    pexil::ByteView rest(data, size);
    for (int i = 0; i < 256 && rest.size() >= headerSize; ++i) {
        const auto header = parseHeader(rest);
        if (!header) break;
        // The cap holds for everything a reader would allocate.
        if (!header->isData() && header->length > maxControlPacket) std::abort();
        if (header->length > rest.size()) break;  // a streamed packet cut by the input
        if (const auto packet = parse(rest.first(header->length))) {
            // Encoding normalises once (names cut, parameters capped); after that a
            // packet must come back unchanged.
            const auto once = encode(*packet);
            const auto again = parse(once);
            if (!again || encode(*again) != once || typeOf(*again) != typeOf(*packet)) std::abort();
        }
        rest = rest.subspan(header->length);
    }
    if (const auto event = fromEventContainer(pexil::ByteView(data, size))) {
        if (fromEventContainer(eventContainer(*event)) != event) std::abort();
    }
    return 0;
}
