#include "app/shots/ShotMeta.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

namespace pexil {

namespace {

// A damaged file can hold 0, a negative number or a NaN/infinity here; none of them is a
// shutter time or an aperture, and dividing by them would print nonsense or overflow.
bool usable(const std::optional<double>& value) {
    return value && std::isfinite(*value) && *value > 0;
}

}  // namespace

std::optional<QString> ShotMeta::shutterText() const {
    if (!usable(exposureTime)) return std::nullopt;
    const double seconds = *exposureTime;
    if (seconds >= 1) return QString::asprintf("%.1f\"", seconds);
    // Subnormal times would give a reciprocal beyond any integer; no camera has such a
    // shutter, so the value is as damaged as a zero.
    const double exact = 1.0 / seconds;
    // Between 1/3 s and 1 s the cameras' own steps have a fraction (1/1.3, 1/1.6, 1/2.5);
    // rounding them to whole numbers would show 1/1.3 s as "1/1", a full second.
    if (exact < 2.95) {
        QString text = QString::number(exact, 'f', 1);
        if (text.endsWith(QStringLiteral(".0"))) text.chop(2);
        return QStringLiteral("1/") + text;
    }
    const double reciprocal = std::round(exact);
    if (!(reciprocal < 1e9)) return std::nullopt;
    return QStringLiteral("1/%1").arg(static_cast<qint64>(reciprocal));
}

QString ShotMeta::summary() const {
    QStringList parts;
    if (auto shutter = shutterText()) parts << *shutter;
    if (usable(fNumber)) {
        QString aperture = QString::number(*fNumber, 'f', 1);
        if (aperture.endsWith(QStringLiteral(".0"))) aperture.chop(2);
        parts << QStringLiteral("f/") + aperture;
    }
    if (iso) parts << QStringLiteral("ISO %1").arg(*iso);
    return parts.join(QStringLiteral("  "));
}

QString dateTimeText(const std::optional<QDateTime>& date) {
    if (!date || !date->isValid()) return {};
    return QLocale(QLocale::Japanese).toString(*date, QStringLiteral("yyyy年M月d日 H:mm:ss"));
}

}  // namespace pexil
