#pragma once

#include <QEasingCurve>

#include <algorithm>

namespace pexil::ui {

// A value moving from one number to another over a stretch of FrameClock time. A new target
// starts from wherever the value is now, so interrupted animations never jump.
class Tween final {
public:
    explicit Tween(double value = 0) : from_(value), to_(value) {}

    // Moves to `target` starting at `now`; a duration of 0 jumps.
    void animate(double target, double now, double duration,
                 QEasingCurve curve = QEasingCurve::OutCubic) {
        from_ = value(now);
        to_ = target;
        start_ = now;
        duration_ = duration;
        curve_ = curve;
    }
    void jump(double target) { animate(target, 0, 0); }

    double value(double now) const {
        if (duration_ <= 0 || now >= start_ + duration_) return to_;
        const double p = std::clamp((now - start_) / duration_, 0.0, 1.0);
        return from_ + (to_ - from_) * curve_.valueForProgress(p);
    }
    double target() const { return to_; }
    // When the value reaches its target.
    double end() const { return start_ + std::max(duration_, 0.0); }
    bool isRunning(double now) const { return duration_ > 0 && now < end(); }

private:
    double from_ = 0;
    double to_ = 0;
    double start_ = 0;
    double duration_ = 0;
    QEasingCurve curve_;
};

// The spring the design gives for state changes (response 0.35 s, damping 0.7): a small
// overshoot settling within the response time.
inline QEasingCurve springCurve() {
    QEasingCurve c(QEasingCurve::OutBack);
    c.setOvershoot(1.0);
    return c;
}

}  // namespace pexil::ui
