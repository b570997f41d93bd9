#include "ui/preparing/FilmFrames.h"

#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pexil::ui {

FilmFrames::FilmFrames(int frames, QColor lit, QWidget* parent)
    : QWidget(parent), frames_(std::max(frames, 0)), lit_(lit.isValid() ? lit : Theme::amber()) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(sizeHint());
}

double FilmFrames::litOpacity(double t, int i, int frames) {
    const double cycle = frames + 4;
    double phase = std::fmod(7 * t, cycle);
    if (phase < 0) phase += cycle;  // times before the reference keep the same rhythm
    const double d = phase - i;
    return d >= 0 && d < 4 ? 1 - d / 4 : 0;
}

QSize FilmFrames::sizeHint() const {
    const double w = frames_ * frameWidth + std::max(frames_ - 1, 0) * spacing;
    return {int(std::ceil(w)), int(frameHeight)};
}

void FilmFrames::setTime(double t) {
    time_ = t;
    update();
}

void FilmFrames::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < frames_; ++i) {
        QPainterPath cell;
        cell.addRoundedRect(QRectF(i * (frameWidth + spacing), 0, frameWidth, frameHeight), 2.5, 2.5);
        p.fillPath(cell, Theme::surfaceRaised());
        if (const double o = litOpacity(time_, i, frames_); o > 0) {
            QColor c = lit_;
            c.setAlphaF(o);
            p.fillPath(cell, c);
        }
    }
}

}  // namespace pexil::ui
