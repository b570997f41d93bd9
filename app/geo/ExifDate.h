#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace pexil {

// An EXIF date ("yyyy:MM:dd HH:mm:ss" exactly, as the camera wrote it, possibly with the
// NULs that end an ASCII value) read as a local time of `zone`. None for anything else:
// the text comes from the picture file and is not trusted.
std::optional<QDateTime> parseExifDate(QString text, const QTimeZone& zone);

}  // namespace pexil
