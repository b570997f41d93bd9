#pragma once

#include "app/geo/GeoPayload.h"
#include "kit/ptp/Bytes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace pexil {

// The last geo record received, as kept on disk between runs:
// {"sender": …, "receivedAt": "…Z", "payload": {…}}, written compactly.
struct GeoSavedRecord {
    QString sender;
    QDateTime receivedAt;
    GeoPayload payload;
    friend bool operator==(const GeoSavedRecord&, const GeoSavedRecord&) = default;

    static QByteArray encode(const GeoSavedRecord& saved);
    // All or nothing, and never reads outside `json` (the file may have been edited or
    // damaged); none for anything but a complete record.
    static std::optional<GeoSavedRecord> decode(ByteView json);
};

}  // namespace pexil
