#include "app/geo/GeoSavedRecord.h"

#include <cstddef>
#include <cstdint>

// The saved copy of the last geo record, as found on disk: edited by hand, cut short by a
// full disk, or not ours at all. Whatever decodes must come back unchanged from its own
// encoding, or the next run would lose it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto saved = pexil::GeoSavedRecord::decode(pexil::ByteView(data, size));
    if (!saved) return 0;
    const QByteArray again = pexil::GeoSavedRecord::encode(*saved);
    const auto reread = pexil::GeoSavedRecord::decode(
        pexil::ByteView(reinterpret_cast<const std::uint8_t*>(again.constData()),
                        static_cast<std::size_t>(again.size())));
    if (!reread || !(*reread == *saved)) __builtin_trap();
    return 0;
}
