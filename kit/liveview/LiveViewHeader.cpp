#include "kit/liveview/LiveViewHeader.h"

#include <algorithm>
#include <cmath>

namespace pexil {

namespace {

constexpr std::size_t afFieldsEnd = 24;
constexpr std::size_t rotationAt = 29;
constexpr std::size_t judgementAt = 38;
constexpr std::size_t encodedMinimum = 40;

int read16(ByteView in, std::size_t at) {
    return (in[at] << 8) | in[at + 1];
}

void put16(Bytes& out, std::size_t at, int value) {
    const auto v = static_cast<std::uint32_t>(std::clamp(value, 0, 0xFFFF));
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
}

QPointF rotated(QPointF p, int quarterTurns) {
    switch (quarterTurns) {
        case 1:
            return {1 - p.y(), p.x()};
        case 2:
            return {1 - p.x(), 1 - p.y()};
        case 3:
            return {p.y(), 1 - p.x()};
        default:
            return p;
    }
}

}  // namespace

std::optional<LiveViewHeader> LiveViewHeader::parse(ByteView in) {
    if (in.size() < afFieldsEnd) return std::nullopt;
    LiveViewHeader h;
    h.jpeg = QSize(read16(in, 0), read16(in, 2));
    h.whole = QSize(read16(in, 4), read16(in, 6));
    if (h.whole.isEmpty()) return std::nullopt;
    h.display = QSize(read16(in, 8), read16(in, 10));
    h.displayCentre = QPoint(read16(in, 12), read16(in, 14));
    if (h.display.isEmpty()) {
        h.display = h.whole;
        h.displayCentre = QPoint(h.whole.width() / 2, h.whole.height() / 2);
    }
    h.afSize = QSize(read16(in, 16), read16(in, 18));
    h.afCentre = QPoint(read16(in, 20), read16(in, 22));
    if (in.size() > rotationAt && in[rotationAt] <= 3)
        h.rotation = static_cast<LiveViewRotation>(in[rotationAt]);
    if (in.size() > judgementAt && in[judgementAt] <= 2)
        h.judgement = static_cast<FocusJudgement>(in[judgementAt]);
    return h;
}

Bytes LiveViewHeader::encode(std::size_t size) const {
    Bytes out(std::max(size, encodedMinimum), 0);
    put16(out, 0, jpeg.width());
    put16(out, 2, jpeg.height());
    put16(out, 4, whole.width());
    put16(out, 6, whole.height());
    put16(out, 8, display.width());
    put16(out, 10, display.height());
    put16(out, 12, displayCentre.x());
    put16(out, 14, displayCentre.y());
    put16(out, 16, afSize.width());
    put16(out, 18, afSize.height());
    put16(out, 20, afCentre.x());
    put16(out, 22, afCentre.y());
    out[rotationAt] = static_cast<std::uint8_t>(rotation);
    out[judgementAt] = static_cast<std::uint8_t>(judgement);
    return out;
}

int LiveViewGeometry::quarterTurns() const {
    switch (header_.rotation) {
        case LiveViewRotation::turnRight:
            return 1;
        case LiveViewRotation::upsideDown:
            return 2;
        case LiveViewRotation::turnLeft:
            return 3;
        case LiveViewRotation::level:
            break;
    }
    return 0;
}

QRectF LiveViewGeometry::displayed() const {
    const QSizeF size(header_.display);
    return {QPointF(header_.displayCentre) - QPointF(size.width() / 2, size.height() / 2), size};
}

QPoint LiveViewGeometry::toWhole(QPointF shown) const {
    shown = QPointF(std::clamp(shown.x(), 0.0, 1.0), std::clamp(shown.y(), 0.0, 1.0));
    // Turning back the other way: three quarters clockwise undo one.
    const QPointF f = rotated(shown, (4 - quarterTurns()) % 4);
    const QRectF area = displayed();
    const double x = area.left() + f.x() * area.width();
    const double y = area.top() + f.y() * area.height();
    return {std::clamp(static_cast<int>(std::lround(x)), 0, header_.whole.width() - 1),
            std::clamp(static_cast<int>(std::lround(y)), 0, header_.whole.height() - 1)};
}

QPointF LiveViewGeometry::toShown(QPointF whole) const {
    const QRectF area = displayed();
    if (area.isEmpty()) return {};
    const QPointF f((whole.x() - area.left()) / area.width(),
                    (whole.y() - area.top()) / area.height());
    return rotated(f, quarterTurns());
}

QRectF LiveViewGeometry::afArea() const {
    if (header_.afSize.isEmpty()) return {};
    const QPointF centre(header_.afCentre);
    const QPointF half(header_.afSize.width() / 2.0, header_.afSize.height() / 2.0);
    return QRectF(toShown(centre - half), toShown(centre + half)).normalized();
}

}  // namespace pexil
