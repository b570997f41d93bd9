#pragma once

#include "app/geo/GeoPayload.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace pexil::GeoLink {

// One message per connection: "PEXIL1", a big-endian 32-bit body length, then the
// envelope as JSON. The reply is "OK" or "NG".
inline constexpr std::array<char, 6> magic{'P', 'E', 'X', 'I', 'L', '1'};
inline constexpr qsizetype headerSize = 10;
inline constexpr std::uint32_t maximumBody = 33554432;  // 32 MiB

struct Envelope {
    QString sender;
    GeoPayload payload;
    friend bool operator==(const Envelope&, const Envelope&) = default;
};

// The checks a receiver makes, in order, and the text it records when one fails.
enum class Failure { header, magic, length, body, decode };
QString failureText(Failure failure);

// Checks a 10-byte header (fewer bytes: Failure::header) and gives the body length.
Result<std::uint32_t, Failure> checkHeader(ByteView header);
Result<Envelope, Failure> decodeEnvelope(ByteView body);

QByteArray encodeEnvelope(const Envelope& envelope);
// A whole message: header and body.
QByteArray frame(const Envelope& envelope);

}  // namespace pexil::GeoLink
