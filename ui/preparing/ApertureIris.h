#pragma once

#include <QWidget>

#include <optional>

namespace pexil::ui {

// A six-bladed aperture iris that breathes (period 2.6 s) and slowly turns; after `reveal` it
// opens fully and fades out within half a second.
//
// Times are FrameClock seconds. The widget only draws the time it is given (setTime); its
// container drives it every display frame. It is transparent to the mouse.
class ApertureIris final : public QWidget {
    Q_OBJECT
public:
    explicit ApertureIris(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ApertureIris)

    struct State {
        double opening;   // g: opening radius as a fraction of the iris radius
        double opacity;   // of the whole drawing
        double rotation;  // radians
    };
    static State stateAt(double t, std::optional<double> reveal);
    // Draws the iris at `t` into `bounds` (a square fits the smaller side).
    static void paint(QPainter& painter, const QRectF& bounds, double t, std::optional<double> reveal);

    void setTime(double t);
    double time() const { return time_; }
    void setReveal(std::optional<double> reveal);
    std::optional<double> reveal() const { return reveal_; }

    QSize sizeHint() const override { return {148, 148}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double time_ = 0;
    std::optional<double> reveal_;
};

}  // namespace pexil::ui
