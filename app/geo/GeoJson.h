#pragma once

#include "app/geo/GeoPayload.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace pexil::GeoJson {

// Decodes a record from UTF-8 JSON, all or nothing: a missing required member, a value
// of the wrong type, a time not of the form 2024-05-01T12:00:00Z / +09:00 (whole seconds
// only), a position out of range (see positionFault) or input that is not JSON fails with a
// Japanese description of what is wrong.
Result<GeoPayload, QString> decodePayload(ByteView json);
// The first point of the record, shots before track, that names no place on Earth
// (GeoPosition::fault), described as the decoder describes its faults: "「track」の 3 点目:
// 緯度 91 が範囲外です（-90〜90）". None when every point is valid.
std::optional<QString> positionFault(const GeoPayload& payload);
// The record as JSON: times in UTC with Z, points without altitude or accuracy omit them.
QByteArray encodePayload(const GeoPayload& payload);

// The time form of every record: RFC 3339 to the whole second with Z or ±hh:mm.
std::optional<QDateTime> parseTime(const QString& text);
QString formatTime(const QDateTime& time);

}  // namespace pexil::GeoJson
