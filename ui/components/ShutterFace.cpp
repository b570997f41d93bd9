#include "ui/components/ShutterFace.h"

#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pexil::ui {

namespace {
constexpr double arcStartDuration = 0.25;
constexpr double arcFinishDuration = 0.28;
constexpr double arcFadeDuration = 0.2;
constexpr double spinPeriod = 0.9;
constexpr double springDuration = 0.35;
constexpr double pressDuration = 0.12;
}  // namespace

void ShutterFace::setBusy(bool busy, double now) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        spinStart_ = now;
        arcShown_ = true;
        arc_.jump(0);
        arc_.animate(0.28, now, arcStartDuration);
    } else if (arcShown_) {
        spinStop_ = now;
        // Completion is a point in time, not a callback of the start animation, so ending busy
        // before the arc finished growing still completes and fades the circle.
        arc_.animate(1, now, arcFinishDuration, QEasingCurve::InOutCubic);
        fadeStart_ = arc_.end();
    }
    discScale_.animate(busy ? 0.84 : (pressed_ ? 0.88 : 1.0), now, springDuration, springCurve());
    discOpacity_.animate(busy ? 0.8 : 1.0, now, springDuration, springCurve());
}

void ShutterFace::setPressed(bool pressed, double now) {
    if (pressed == pressed_) return;
    pressed_ = pressed;
    if (!busy_) discScale_.animate(pressed ? 0.88 : 1.0, now, pressDuration);
}

ShutterFace::Look ShutterFace::look(double now) const {
    Look look;
    look.discScale = discScale_.value(now);
    look.discOpacity = std::clamp(discOpacity_.value(now), 0.0, 1.0);
    if (!arcShown_) return look;
    double visible = 1;
    if (!busy_ && now >= fadeStart_) {
        const double p = std::min((now - fadeStart_) / arcFadeDuration, 1.0);
        visible = 1 - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(p);
    }
    if (visible <= 0) return look;
    look.ringOpacity = 1 - 0.78 * visible;
    look.arc = arc_.value(now);
    look.arcOpacity = visible;
    const double spun = (busy_ ? now : spinStop_) - spinStart_;
    look.arcRotation = std::fmod(spun / spinPeriod, 1.0) * 360 - 90;
    return look;
}

bool ShutterFace::isAnimating(double now) const {
    return busy_ || discScale_.isRunning(now) || discOpacity_.isRunning(now) ||
           (arcShown_ && now < fadeStart_ + arcFadeDuration);
}

void ShutterFace::paint(QPainter& p, const QRectF& bounds, const Look& look) {
    const double side = std::min(bounds.width(), bounds.height());
    const QRectF square(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side);
    // Ring and arc share the centre line of a stroke lying inside the bounds.
    const QRectF line = square.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    const double base = p.opacity();

    p.setOpacity(base * look.ringOpacity);
    p.setPen(QPen(Theme::text(), lineWidth));
    p.drawEllipse(line);

    if (look.arcOpacity > 0 && look.arc > 0) {
        p.setOpacity(base * look.arcOpacity);
        p.setPen(QPen(Theme::text(), lineWidth, Qt::SolidLine, Qt::RoundCap));
        // Qt's angles run counter-clockwise from three o'clock in 1/16 degree.
        p.drawArc(line, int(std::lround(-look.arcRotation * 16)), int(std::lround(-look.arc * 360 * 16)));
    }

    p.setOpacity(base * look.discOpacity);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::text());
    const double r = (side / 2 - 7) * look.discScale;
    if (r > 0) p.drawEllipse(square.center(), r, r);
    p.restore();
}

}  // namespace pexil::ui
