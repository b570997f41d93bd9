#include "app/geo/GeoJson.h"
#include "app/geo/GpxReader.h"

#include <cstddef>
#include <cstdint>

// A GPX file is whatever the user picks. A track read from it is kept in the saved copy,
// so it must also survive being written as a record and read back unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto payload = pexil::Gpx::read(pexil::ByteView(data, size));
    if (!payload) return 0;
    if (payload.value().track.empty()) __builtin_trap();
    const QByteArray json = pexil::GeoJson::encodePayload(payload.value());
    const auto reread = pexil::GeoJson::decodePayload(
        pexil::ByteView(reinterpret_cast<const std::uint8_t*>(json.constData()),
                        static_cast<std::size_t>(json.size())));
    if (!reread || !(reread.value() == payload.value())) __builtin_trap();
    return 0;
}
