#pragma once

#include <QDateTime>
#include <QString>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace pexil {

// One recorded position.
struct GeoPoint {
    QDateTime time;  // UTC
    double lat = 0;  // decimal degrees, north positive
    double lon = 0;  // decimal degrees, east positive
    std::optional<double> alt;       // metres above sea level
    std::optional<double> accuracy;  // horizontal, metres; carried, never used to decide
    friend bool operator==(const GeoPoint&, const GeoPoint&) = default;
};

// One complete record from the phone: exact positions by picture file name (exact,
// case-sensitive keys) and the track in the order received.
struct GeoPayload {
    QDateTime generated;
    std::map<QString, GeoPoint> shots;
    std::vector<GeoPoint> track;

    // Times of the first and last track points as stored (not the minimum and maximum);
    // none for an empty track.
    std::optional<std::pair<QDateTime, QDateTime>> trackRange() const {
        if (track.empty()) return std::nullopt;
        return std::pair{track.front().time, track.back().time};
    }
    friend bool operator==(const GeoPayload&, const GeoPayload&) = default;
};

}  // namespace pexil
