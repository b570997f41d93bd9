#include "ui/components/GlassBacking.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace pexil::ui {

QColor GlassBacking::fillColor(const QColor& tint, double hover, bool pressed) {
    QColor c = tint.isValid() ? tint : QColor(255, 255, 255);
    const double base = tint.isValid() ? 0.30 : 0.08;
    c.setAlphaF(std::clamp(base + 0.07 * hover + (pressed ? 0.08 : 0.0), 0.0, 1.0));
    return c;
}

void GlassBacking::paint(QPainter& p, const QRectF& bounds, Shape shape, const QColor& tint,
                         double hover, bool pressed) {
    QRectF r = bounds;
    if (shape == Shape::Circle) {
        const double side = std::min(bounds.width(), bounds.height());
        r = QRectF(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side);
    }
    const double radius = std::min(r.width(), r.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(path, fillColor(tint, hover, pressed));
    // The rim catches light from above, as glass does.
    QLinearGradient rim(r.topLeft(), r.bottomLeft());
    rim.setColorAt(0, QColor(255, 255, 255, int(56 + 40 * hover)));
    rim.setColorAt(1, QColor(255, 255, 255, 10));
    p.setPen(QPen(QBrush(rim), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

}  // namespace pexil::ui
