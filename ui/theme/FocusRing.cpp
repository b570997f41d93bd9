#include "ui/theme/FocusRing.h"

#include "ui/theme/Theme.h"

#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace pexil::ui {

QColor FocusRing::colour() { return Theme::amber(); }

FocusRing::Outline FocusRing::outline(const QRectF& shape, double radius, const QRectF& bounds) {
    const double reach = gap + width / 2;
    const QRectF wanted = shape.adjusted(-reach, -reach, reach, reach);
    // The stroke's outer half must stay on the widget, or it is cut off.
    const QRectF room = bounds.adjusted(width / 2, width / 2, -width / 2, -width / 2);
    const QRectF rect = wanted.intersected(room);
    // The corners follow the side that got the least of its reach, so a ring pulled in over
    // the shape's edge keeps to its curve.
    const double grown = std::min({shape.left() - rect.left(), shape.top() - rect.top(),
                                   rect.right() - shape.right(), rect.bottom() - shape.bottom()});
    return {rect, std::max(0.0, radius + grown)};
}

void FocusRing::focusIn(Qt::FocusReason reason) {
    switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason: fromKeyboard_ = true; break;
        case Qt::MouseFocusReason: fromKeyboard_ = false; break;
        default: break;
    }
}

bool FocusRing::isShown(const QWidget& widget) const { return fromKeyboard_ && widget.hasFocus(); }

void FocusRing::paint(QPainter& painter, const QWidget& widget, const QRectF& shape,
                      double radius) const {
    if (!isShown(widget)) return;
    const Outline ring = outline(shape, radius, QRectF(widget.rect()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    painter.setClipping(false);
    painter.setPen(QPen(colour(), width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(ring.rect, ring.radius, ring.radius);
    painter.restore();
}

}  // namespace pexil::ui
