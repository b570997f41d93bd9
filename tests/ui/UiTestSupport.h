#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>

namespace pexil::ui::test {

// Renders `w` over `backdrop` at scale 1.
inline QImage render(QWidget& w, const QColor& backdrop) {
    QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(backdrop);
    w.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// Largest difference of the three channels.
inline int distance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

// `over` blended onto `under` at `opacity`.
inline QColor blend(const QColor& under, const QColor& over, double opacity) {
    const auto mix = [opacity](int u, int o) { return int(std::lround(u + (o - u) * opacity)); };
    return QColor(mix(under.red(), over.red()), mix(under.green(), over.green()),
                  mix(under.blue(), over.blue()));
}

inline void mouse(QWidget& w, QEvent::Type type, double x, double y = 10) {
    const QPointF at(x, y);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

// A wheel event: pixel deltas (trackpad) when `pixels`, else angle deltas (120 per notch).
inline bool wheel(QWidget& w, QPoint delta, bool pixels) {
    const QPointF at(w.width() / 2.0, w.height() / 2.0);
    QWheelEvent event(at, w.mapToGlobal(at), pixels ? delta : QPoint(), pixels ? QPoint() : delta,
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
    return event.isAccepted();
}

inline bool key(QWidget& w, int code) {
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
    return event.isAccepted();
}

}  // namespace pexil::ui::test
