#include "camera/session/ObjectInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Every object on a card is described by the camera in this dataset.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto info = pexil::camera::ObjectInfo::parse(pexil::ByteView(data, size));
    if (!info) return 0;
    // What parses must survive a round trip through the encoder.
    const auto again = pexil::camera::ObjectInfo::parse(info->encode());
    if (info->filename.size() > 254) return 0;  // a PTP string holds at most 254 units
    if (!again || again->filename != info->filename || again->parent != info->parent) std::abort();
    return 0;
}
