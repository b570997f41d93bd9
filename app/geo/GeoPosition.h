#pragma once

#include "app/geo/GeoPayload.h"

#include <QLocale>
#include <QString>

#include <cmath>
#include <optional>

namespace pexil::GeoPosition {

// Why a point names no place on Earth, in Japanese ("緯度 91 が範囲外です（-90〜90）"); none
// when it does: latitude within −90…90, longitude within −180…180, both finite, altitude
// finite when present. Accuracy is carried, never used, and not looked at.
//
// Every way a position enters the program (the geo link, payload and GPX files, the saved
// copy) and the write into a picture apply it: a point out of range is a forged or broken
// record, and ExifTool would store latitude 91.5 as it is, in a file the user keeps.
inline std::optional<QString> fault(const GeoPoint& point) {
    // Every digit shown: rounded to six, −90.0000001 would read as a valid −90.
    const auto shown = [](double value) {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    };
    // Written with "!(… <= …)" so that NaN, which compares false with everything, is caught.
    if (!(point.lat >= -90.0 && point.lat <= 90.0))
        return QStringLiteral("緯度 %1 が範囲外です（-90〜90）").arg(shown(point.lat));
    if (!(point.lon >= -180.0 && point.lon <= 180.0))
        return QStringLiteral("経度 %1 が範囲外です（-180〜180）").arg(shown(point.lon));
    if (point.alt && !std::isfinite(*point.alt))
        return QStringLiteral("標高 %1 が数ではありません").arg(shown(*point.alt));
    return std::nullopt;
}

}  // namespace pexil::GeoPosition
