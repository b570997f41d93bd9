#include "app/geo/ExifDate.h"

#include <cstddef>
#include <cstdint>

// DateTimeOriginal as a picture file carries it. A date that parses, written back in the
// same form, must be the text it came from (less its trailing NULs).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString text = QString::fromLatin1(reinterpret_cast<const char*>(data),
                                       static_cast<qsizetype>(size));
    const auto date = pexil::parseExifDate(text, QTimeZone::utc());
    if (!date) return 0;
    while (text.endsWith(QChar(0))) text.chop(1);
    if (date->toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")) != text) __builtin_trap();
    return 0;
}
