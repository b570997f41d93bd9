#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace pexil::ui {

// The translucent "glass" behind round and capsule buttons. Widgets cannot blur what lies
// behind them, so glass is a light translucent fill with a brighter rim, tinted when a tint is
// given, brighter under the pointer (`hover` 0…1) and when pressed.
class GlassBacking final {
public:
    enum class Shape { Circle, Capsule };

    GlassBacking() = delete;

    // Circle: the largest circle centred in `bounds`; capsule: `bounds` with fully rounded ends.
    static void paint(QPainter& painter, const QRectF& bounds, Shape shape, const QColor& tint,
                      double hover, bool pressed);
    // The fill's colour (before the rim) for the given state.
    static QColor fillColor(const QColor& tint, double hover, bool pressed);
};

}  // namespace pexil::ui
