#pragma once

#include "ui/theme/Tween.h"

#include <QRectF>

class QPainter;

namespace pexil::ui {

// The shutter button's face and its animation state, as a function of FrameClock time.
//
// Back to front: a ring (dimmed to 0.22 while the progress arc shows), the progress arc
// spinning once every 0.9 s while busy, and the disc (shrunk and dimmed while busy, pressed in
// while pressed). Becoming busy starts the arc at twelve o'clock growing to 0.28 of the circle;
// ending busy completes the circle from wherever it is (also in the middle of its start
// animation), then fades it out and resets it.
class ShutterFace final {
public:
    static constexpr double lineWidth = 3;

    // What to draw at one moment.
    struct Look {
        double ringOpacity = 1;
        double arc = 0;            // trimmed fraction of the circle
        double arcOpacity = 0;     // 0: no arc
        double arcRotation = -90;  // degrees, clockwise from three o'clock
        double discScale = 1;
        double discOpacity = 1;
    };

    void setBusy(bool busy, double now);
    void setPressed(bool pressed, double now);
    bool isBusy() const { return busy_; }

    Look look(double now) const;
    // Whether the look still changes with time (the arc spins or something animates).
    bool isAnimating(double now) const;

    // Draws `look` centred in `bounds` (a square of the button's size).
    static void paint(QPainter& painter, const QRectF& bounds, const Look& look);

private:
    bool busy_ = false;
    bool pressed_ = false;
    bool arcShown_ = false;  // the arc is on screen, fading out included
    double spinStart_ = 0;
    double spinStop_ = 0;    // when busy ended: the arc stays at that angle
    double fadeStart_ = 0;   // when the completed circle starts fading
    Tween arc_;
    Tween discScale_{1};
    Tween discOpacity_{1};
};

}  // namespace pexil::ui
