#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace pexil::ui {

// The time every animation of the interface reads, in seconds, and the display-frame tick that
// redraws them.
//
// A real clock follows a monotonic timer and ticks every 16 ms (a precise timer) while at least
// one client asked for frames; nothing ticks otherwise. A manual clock never ticks by itself:
// advance() moves its time and emits one frame, so tests step animations deterministically.
// Clients balance acquire() and release() (FrameDemand does it for them).
class FrameClock final : public QObject {
    Q_OBJECT
public:
    enum class Mode { Real, Manual };

    explicit FrameClock(Mode mode = Mode::Real, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(FrameClock)

    Mode mode() const { return mode_; }
    double now() const;

    void acquire();
    void release();
    // How many clients currently want frames.
    int demand() const { return demand_; }
    // Whether the frame timer runs (real clocks with demand only).
    bool isTicking() const { return timer_.isActive(); }

    // Manual clocks only: moves time forward by `seconds` and emits frame().
    void advance(double seconds);

signals:
    void frame(double now);

private:
    Mode mode_;
    QElapsedTimer elapsed_;
    QTimer timer_;
    double manualNow_ = 0;
    int demand_ = 0;
};

}  // namespace pexil::ui
