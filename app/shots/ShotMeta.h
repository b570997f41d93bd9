#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace pexil {

// The few facts of a picture's metadata that the filmstrip and the preview show. A value;
// a fresh one (no picture read yet) has size 0 × 0 and every optional field absent.
struct ShotMeta {
    int pixelWidth = 0;
    int pixelHeight = 0;
    std::optional<int> iso;
    std::optional<double> exposureTime;  // seconds
    std::optional<double> fNumber;
    std::optional<QDateTime> captured;  // EXIF DateTimeOriginal "yyyy:MM:dd HH:mm:ss", local time

    // "1/250" below a second, "2.0\"" from a second on; none when the exposure time is absent
    // or unusable (0, negative or not finite, as a damaged file may hold).
    std::optional<QString> shutterText() const;
    // Shutter, aperture and ISO joined with two blanks, each left out when absent:
    // "1/250  f/5.6  ISO 400". Empty when none of the three is known.
    QString summary() const;

    friend bool operator==(const ShotMeta&, const ShotMeta&) = default;
};

// A moment as the program writes it, "2026年12月8日 10:15:30"; empty for none or an invalid one.
QString dateTimeText(const std::optional<QDateTime>& date);

}  // namespace pexil
