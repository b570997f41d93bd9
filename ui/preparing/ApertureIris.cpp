#include "ui/preparing/ApertureIris.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pexil::ui {

namespace {
constexpr double pi = std::numbers::pi;

QColor mix(const QColor& under, const QColor& over, double amount) {
    return QColor::fromRgbF(under.redF() + (over.redF() - under.redF()) * amount,
                            under.greenF() + (over.greenF() - under.greenF()) * amount,
                            under.blueF() + (over.blueF() - under.blueF()) * amount);
}

QPointF polar(const QPointF& c, double radius, double angle) {
    return {c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle)};
}
}  // namespace

ApertureIris::ApertureIris(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(148, 148);
}

ApertureIris::State ApertureIris::stateAt(double t, std::optional<double> reveal) {
    double g = 0.34 + 0.12 * std::sin(2 * pi * t / 2.6);
    double opacity = 1;
    if (reveal) {
        const double p = std::clamp(2 * (t - *reveal), 0.0, 1.0);
        g += (0.995 - g) * (1 - std::pow(1 - p, 3));
        opacity = 1 - p * p;
    }
    return {g, opacity, 0.35 * t + 1.4 * (0.46 - g)};
}

void ApertureIris::paint(QPainter& p, const QRectF& bounds, double t, std::optional<double> reveal) {
    const State s = stateAt(t, reveal);
    if (s.opacity <= 0) return;
    const QPointF c = bounds.center();
    const double R = std::min(bounds.width(), bounds.height()) / 2;
    const double r = R * s.opening;

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(p.opacity() * s.opacity);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.11, 0.12, 0.14));
    p.drawEllipse(c, R, R);

    const QRectF rim(c.x() - 0.96 * R, c.y() - 0.96 * R, 1.92 * R, 1.92 * R);
    for (int i = 0; i < 6; ++i) {
        const double a = s.rotation + pi / 6 + i * pi / 3;
        QPainterPath blade(polar(c, 0.96 * R, a));
        // Qt's arc angles are in degrees, counter-clockwise; screen angles here grow clockwise.
        blade.arcTo(rim, -a * 180 / pi, -60);
        blade.lineTo(polar(c, r, a + pi / 3 - pi / 7));
        blade.lineTo(polar(c, r, a - pi / 7));
        blade.closeSubpath();
        const QColor fill(255 - 12 * i, 170 - 12 * i, 70 - 6 * i);
        // The outline is the dark edge colour at 0.55 over the blade, blended here: Qt's raster
        // engine strokes translucent pens about four times slower than opaque ones, which
        // alone cost 2.6 ms of a 3 ms frame at device pixel ratio 2.
        QPen outline(mix(fill, QColor::fromRgbF(0.08, 0.06, 0.05), 0.55), 1.2);
        outline.setJoinStyle(Qt::RoundJoin);
        p.setBrush(fill);
        p.setPen(outline);
        p.drawPath(blade);
    }

    QPolygonF opening;
    for (int k = 0; k < 6; ++k) opening << polar(c, r, s.rotation + pi / 6 + k * pi / 3 - pi / 7);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.05, 0.05, 0.06));
    p.drawPolygon(opening);
    if (r > 0) {
        QRadialGradient glint(QPointF(c.x() - 0.3 * r, c.y() - 0.35 * r), 1.3 * r);
        glint.setColorAt(0, QColor::fromRgbF(0.35, 0.47, 0.67, 0.5));
        glint.setColorAt(1, Qt::transparent);
        p.setBrush(glint);
        p.drawPolygon(opening);
    }
    p.restore();
}

void ApertureIris::setTime(double t) {
    time_ = t;
    update();
}

void ApertureIris::setReveal(std::optional<double> reveal) {
    reveal_ = reveal;
    update();
}

void ApertureIris::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, QRectF(rect()), time_, reveal_);
}

}  // namespace pexil::ui
