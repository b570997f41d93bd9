#include "app/geo/GeoLink.h"

#include "app/geo/GeoJson.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

namespace pexil::GeoJson::detail {
// Defined beside the record decoder in GeoJson.cpp, whose streaming reader it shares; kept
// out of GeoJson.h because only the geo link wraps a record in an envelope.
Result<std::pair<QString, GeoPayload>, QString> decodeEnvelope(ByteView json);
}  // namespace pexil::GeoJson::detail

namespace pexil::GeoLink {

QString failureText(Failure failure) {
    switch (failure) {
        case Failure::header:
            return QStringLiteral("受信できませんでした");
        case Failure::magic:
            return QStringLiteral("形式が違います");
        case Failure::length:
            return QStringLiteral("大きさが不正です");
        case Failure::busy:
            return QStringLiteral("受信中のデータが多すぎます");
        case Failure::body:
            return QStringLiteral("本体を受信できませんでした");
        case Failure::decode:
            return QStringLiteral("内容を解釈できませんでした");
        case Failure::position:
            return QStringLiteral("範囲外の位置が含まれています");
        case Failure::evicted:
            return QStringLiteral("接続が混み合っているため打ち切りました");
    }
    return QStringLiteral("内容を解釈できませんでした");
}

Result<std::uint32_t, Failure> checkHeader(ByteView header) {
    // Only the first ten bytes are looked at, so a caller holding a whole message may pass it.
    if (header.size() < static_cast<std::size_t>(headerSize)) return Failure::header;
    const bool magicMatches = std::equal(
        magic.begin(), magic.end(), header.begin(),
        [](char expected, std::uint8_t got) { return static_cast<std::uint8_t>(expected) == got; });
    if (!magicMatches) return Failure::magic;
    const std::uint32_t length = std::uint32_t{header[6]} << 24 | std::uint32_t{header[7]} << 16 |
                                 std::uint32_t{header[8]} << 8 | std::uint32_t{header[9]};
    if (length == 0 || length > maximumBody) return Failure::length;
    return length;
}

Result<Envelope, Failure> decodeEnvelope(ByteView body) {
    auto decoded = GeoJson::detail::decodeEnvelope(body);
    if (!decoded) return Failure::decode;
    auto& [sender, payload] = decoded.value();
    if (GeoJson::positionFault(payload)) return Failure::position;
    return Envelope{std::move(sender), std::move(payload)};
}

QByteArray encodeEnvelope(const Envelope& envelope) {
    // The record's own encoder writes the payload; only the sender needs JSON quoting here.
    const std::string sender = nlohmann::json(envelope.sender.toStdString())
                                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    QByteArray body = QByteArrayLiteral("{\"sender\":");
    body += QByteArray::fromStdString(sender);
    body += QByteArrayLiteral(",\"payload\":");
    body += GeoJson::encodePayload(envelope.payload);
    body += '}';
    return body;
}

QByteArray frame(const Envelope& envelope) {
    const QByteArray body = encodeEnvelope(envelope);
    const auto length = static_cast<std::uint32_t>(body.size());
    QByteArray message(magic.data(), static_cast<qsizetype>(magic.size()));
    message += static_cast<char>(length >> 24);
    message += static_cast<char>(length >> 16);
    message += static_cast<char>(length >> 8);
    message += static_cast<char>(length);
    message += body;
    return message;
}

}  // namespace pexil::GeoLink
