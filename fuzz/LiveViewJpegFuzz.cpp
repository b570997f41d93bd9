#include "kit/liveview/LiveViewHeader.h"
#include "kit/liveview/LiveViewJpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any answer to GetLiveViewImg: the picture found must lie inside the answer, start with
// the marker, and run to its end; the header before it places any click inside its whole
// area.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView bytes(data, size);
    if (const auto picture = pexil::liveViewJpeg(bytes)) {
        if (picture->size() < 3 || picture->data() < data ||
            picture->data() + picture->size() != data + size || (*picture)[0] != 0xFF ||
            (*picture)[1] != 0xD8 || (*picture)[2] != 0xFF)
            std::abort();
    }
    if (const auto header = pexil::LiveViewHeader::parse(bytes)) {
        const pexil::LiveViewGeometry geometry(*header);
        const QPoint whole = geometry.toWhole(QPointF(0.7, 0.3));
        if (whole.x() < 0 || whole.y() < 0 || whole.x() >= header->whole.width() ||
            whole.y() >= header->whole.height())
            std::abort();
        (void)geometry.afArea();
    }
    return 0;
}
