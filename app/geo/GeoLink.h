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

// The checks a receiver makes, in order, and the text it records when one fails:
//   header    the 10 header bytes did not all arrive ("受信できませんでした")
//   magic     not "PEXIL1" ("形式が違います")
//   length    0 or over 32 MiB ("大きさが不正です")
//   busy      the body would not fit in what the receiver holds for bodies in progress
//             ("受信中のデータが多すぎます")
//   body      the body did not all arrive ("本体を受信できませんでした")
//   decode    not an envelope ("内容を解釈できませんでした")
//   position  an envelope with a point out of range, see GeoPosition
//             ("範囲外の位置が含まれています")
// and one that is no check of the message: `evicted`, a sender cut off to make room for a
// new one while every slot was taken ("接続が混み合っているため打ち切りました").
enum class Failure { header, magic, length, busy, body, decode, position, evicted };
QString failureText(Failure failure);

// Checks a 10-byte header (fewer bytes: Failure::header) and gives the body length.
Result<std::uint32_t, Failure> checkHeader(ByteView header);
// Decodes a body: Failure::decode when it is no envelope, Failure::position when it is one
// holding a point that names no place on Earth.
Result<Envelope, Failure> decodeEnvelope(ByteView body);

QByteArray encodeEnvelope(const Envelope& envelope);
// A whole message: header and body.
QByteArray frame(const Envelope& envelope);

}  // namespace pexil::GeoLink
