#include "app/shell/main/PreviewZoom.h"

#include <algorithm>
#include <cmath>

namespace pexil::shell {

std::optional<PreviewZoom::Target> PreviewZoom::doubleClickTarget(QSizeF image, QSizeF pane, double fit,
                                                                   double zoom, QPointF offset, QPointF click) {
    if (zoom > fitThreshold) return Target{1, {}};
    return pointTarget(image, pane, fit, zoom, offset, click, 1);
}

std::optional<PreviewZoom::Target> PreviewZoom::pointTarget(QSizeF image, QSizeF pane, double fit,
                                                            double zoom, QPointF offset, QPointF at,
                                                            double pixels) {
    if (!(fit * image.width() > 0) || !(fit * image.height() > 0)) return std::nullopt;
    const double k = pixels / std::max(fit, 0.0001);
    const double lx = panLimit(k, fit, image.width(), pane.width());
    const double ly = panLimit(k, fit, image.height(), pane.height());
    const double nx = k * (pane.width() / 2 + offset.x() - at.x()) / zoom;
    const double ny = k * (pane.height() / 2 + offset.y() - at.y()) / zoom;
    return Target{k, {std::clamp(nx, -lx, lx), std::clamp(ny, -ly, ly)}};
}

double PreviewZoom::panLimit(double zoom, double fit, double imageSize, double paneSize) {
    return std::max(0.0, (zoom * fit * imageSize - paneSize) / 2);
}

QPointF PreviewZoom::clampOffset(QPointF offset, double zoom, double fit, QSizeF image, QSizeF pane) {
    const double lx = panLimit(zoom, fit, image.width(), pane.width());
    const double ly = panLimit(zoom, fit, image.height(), pane.height());
    return {std::clamp(offset.x(), -lx, lx), std::clamp(offset.y(), -ly, ly)};
}

double PreviewZoom::actualSizeTarget(double fit) {
    const double target = fit <= 0.0001 ? 10000 : std::max(1.0, 1 / fit);
    return std::min(target, maxZoom);
}

double PreviewZoom::clampZoom(double zoom) { return std::clamp(zoom, minZoom, maxZoom); }

PreviewZoom::PreviewZoom(QObject* parent)
    : QObject(parent), clock_(new ui::FrameClock(ui::FrameClock::Mode::Real, this)) {
    setFrameClock(clock_);
}

void PreviewZoom::setFrameClock(ui::FrameClock* clock) {
    if (clock_) disconnect(clock_, nullptr, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &ui::FrameClock::frame, this, &PreviewZoom::onFrame);
}

QPointF PreviewZoom::offset() const {
    const double now = clock_->now();
    return {offsetX_.value(now), offsetY_.value(now)};
}

void PreviewZoom::setFit(double fit) {
    if (fit == fit_) return;
    fit_ = fit;
    emit changed();
}

int PreviewZoom::percent() const { return static_cast<int>(std::lround(zoom() * fit_ * 100)); }

void PreviewZoom::set(double zoom) { animateTo(zoom, std::nullopt, 0); }

void PreviewZoom::zoomIn() { animateTo(clampZoom(targetZoom() * stepFactor), std::nullopt, 0.15); }

void PreviewZoom::zoomOut() { animateTo(clampZoom(targetZoom() / stepFactor), std::nullopt, 0.15); }

void PreviewZoom::fitToPane() { animateTo(1, QPointF(), 0.15); }

void PreviewZoom::actualSize() { animateTo(actualSizeTarget(fit_), std::nullopt, 0.15); }

void PreviewZoom::magnify(double factor) { animateTo(clampZoom(targetZoom() * factor), std::nullopt, 0.15); }

void PreviewZoom::doubleClick(QPointF at, QSizeF image, QSizeF pane) {
    const auto target = doubleClickTarget(image, pane, fit_, zoom(), offset(), at);
    if (!target) return;
    animateTo(target->zoom, target->offset, 0.18);
    dragStart_ = target->offset;
}

bool PreviewZoom::stepInAt(QPointF at, QSizeF image, QSizeF pane) {
    for (const double pixels : {1.0, 2.0}) {
        const auto target = pointTarget(image, pane, fit_, zoom(), offset(), at, pixels);
        if (!target) return false;
        // A step that would not enlarge (a picture smaller than the pane, or the limit) is skipped.
        if (target->zoom > maxZoom || target->zoom <= std::max(fitThreshold, targetZoom() * 1.01))
            continue;
        animateTo(target->zoom, target->offset, 0.18);
        dragStart_ = target->offset;
        return true;
    }
    return false;
}

void PreviewZoom::drag(QPointF translation) {
    if (!isZoomedIn()) return;
    const QPointF to = dragStart_ + translation;
    offsetX_.jump(to.x());
    offsetY_.jump(to.y());
    emit changed();
}

void PreviewZoom::endDrag(QSizeF image, QSizeF pane) {
    if (!isZoomedIn()) return;
    const QPointF clamped = clampOffset(offset(), targetZoom(), fit_, image, pane);
    offsetX_.jump(clamped.x());
    offsetY_.jump(clamped.y());
    dragStart_ = clamped;
    emit changed();
}

void PreviewZoom::animateTo(double zoom, std::optional<QPointF> offset, double duration) {
    const double now = clock_->now();
    zoom_.animate(zoom, now, duration);
    if (zoom <= fitThreshold) {
        offset = QPointF();
        dragStart_ = QPointF();
    }
    if (offset) {
        offsetX_.animate(offset->x(), now, duration);
        offsetY_.animate(offset->y(), now, duration);
    }
    demand_.set(duration > 0);
    emit changed();
}

void PreviewZoom::onFrame() {
    if (!demand_.isHeld()) return;  // another client's frame: nothing of ours moves
    const double now = clock_->now();
    if (!zoom_.isRunning(now) && !offsetX_.isRunning(now) && !offsetY_.isRunning(now)) demand_.set(false);
    emit changed();
}

}  // namespace pexil::shell
