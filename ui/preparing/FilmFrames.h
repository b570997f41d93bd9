#pragma once

#include <QColor>
#include <QWidget>

namespace pexil::ui {

// A row of film frames with a bright head running through it at 7 frames a second, a fading
// tail of four frames and a pause of four frame-times. Draws the time it is given (setTime);
// transparent to the mouse.
class FilmFrames final : public QWidget {
    Q_OBJECT
public:
    static constexpr double frameWidth = 11;
    static constexpr double frameHeight = 15;
    static constexpr double spacing = 5;

    explicit FilmFrames(int frames = 12, QColor lit = {}, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(FilmFrames)

    // How strongly frame `i` of `frames` is lit at `t` (0…1).
    static double litOpacity(double t, int i, int frames);

    void setTime(double t);
    int frames() const { return frames_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int frames_;
    QColor lit_;
    double time_ = 0;
};

}  // namespace pexil::ui
