#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

// A geo link message as any device on the network may send it: the header, then the body
// both as an envelope and as a bare record (the form of payload files). Whatever decodes
// must survive being written and read again unchanged, or a saved copy would be lost.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView message(data, size);
    const std::size_t split = std::min<std::size_t>(size, pexil::GeoLink::headerSize);
    (void)pexil::GeoLink::checkHeader(message.first(split));
    const pexil::ByteView body = message.subspan(split);

    if (const auto envelope = pexil::GeoLink::decodeEnvelope(body)) {
        const QByteArray again = pexil::GeoLink::frame(envelope.value());
        const auto length = pexil::GeoLink::checkHeader(
            pexil::ByteView(reinterpret_cast<const std::uint8_t*>(again.constData()),
                            static_cast<std::size_t>(again.size())));
        if (!length) __builtin_trap();
        const auto reread = pexil::GeoLink::decodeEnvelope(
            pexil::ByteView(reinterpret_cast<const std::uint8_t*>(again.constData()),
                            static_cast<std::size_t>(again.size()))
                .subspan(pexil::GeoLink::headerSize));
        if (!reread || !(reread.value() == envelope.value())) __builtin_trap();
    }

    if (const auto payload = pexil::GeoJson::decodePayload(message)) {
        const QByteArray again = pexil::GeoJson::encodePayload(payload.value());
        const auto reread = pexil::GeoJson::decodePayload(
            pexil::ByteView(reinterpret_cast<const std::uint8_t*>(again.constData()),
                            static_cast<std::size_t>(again.size())));
        if (!reread || !(reread.value() == payload.value())) __builtin_trap();
    }
    return 0;
}
