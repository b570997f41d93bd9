// The camera's clock, in the PTP DateTime form read and written in the computer's zone.
#include "kit/ptp/PTPCamera.h"

namespace pexil {

namespace {
QString clockPattern() {
    return QStringLiteral("yyyyMMdd'T'HHmmss");
}
}  // namespace

QString PTPCamera::formatClock(const QDateTime& date) {
    // QDateTime::toString with a pattern uses the C locale: ASCII digits whatever the user's
    // locale.
    return date.toLocalTime().toString(clockPattern());
}

std::optional<QDateTime> PTPCamera::parseClock(const QString& text) {
    QDateTime date = QDateTime::fromString(text, clockPattern());
    if (!date.isValid()) return std::nullopt;
    return date;
}

async::Task<std::optional<QDateTime>> PTPCamera::cameraClock() {
    auto data = co_await send(PTP::Op::getDevicePropValue, args(PTP::param(PTP::Prop::dateTime)));
    if (!data) co_return std::nullopt;
    const auto text = PTP::decodeString(data.value());
    if (!text) co_return std::nullopt;
    // Bodies add tenths of a second (".0") or a zone suffix after the 15 characters.
    co_return parseClock(text->left(15));
}

async::Task<CameraResult<Done>> PTPCamera::setCameraClock(QDateTime date) {
    auto sent = co_await send(PTP::Op::setDevicePropValue, args(PTP::param(PTP::Prop::dateTime)),
                              PTP::encodeString(formatClock(date)));
    if (!sent) co_return sent.error();
    co_return Done{};
}

}  // namespace pexil
