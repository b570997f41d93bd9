#include "camera/session/ObjectPropList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A camera describes a whole card in this list; its element count and datatypes are the
// camera's word only.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace List = pexil::camera::ObjectPropList;
    const auto objects = List::parse(pexil::ByteView(data, size));
    if (!objects) return 0;
    // What parses must survive a round trip through the encoder: the same objects in the
    // same order, each in the same place with the same format and size.
    const auto bytes = List::encode(*objects);
    if (!bytes) std::abort();
    const auto again = List::parse(*bytes);
    if (!again || again->size() != objects->size()) std::abort();
    for (std::size_t i = 0; i < objects->size(); ++i) {
        const auto& [handle, info] = (*objects)[i];
        const auto& [handleAgain, infoAgain] = (*again)[i];
        if (handle != handleAgain || info.parent != infoAgain.parent ||
            info.format != infoAgain.format || info.size != infoAgain.size)
            std::abort();
    }
    return 0;
}
