#pragma once

#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"
#include "ui/theme/Tween.h"

#include <QObject>
#include <QPointF>
#include <QSizeF>

#include <optional>

namespace pexil::shell {

// The preview's magnification and pan, for the life of the main window.
//
// `zoom` is relative to "fit" (1 shows the whole picture), limited to 1…12; `offset` pans the
// picture's centre in points; `fit` is pane size over picture size, written by the pane. Every
// return to fit (zoom ≤ 1.02) clears the pan. Changes animate on the frame clock (ease-out),
// so tests move a manual clock instead of waiting.
class PreviewZoom final : public QObject {
    Q_OBJECT
public:
    static constexpr double minZoom = 1;
    static constexpr double maxZoom = 12;
    static constexpr double fitThreshold = 1.02;
    static constexpr double stepFactor = 1.5;

    struct Target {
        double zoom = 1;
        QPointF offset;
    };

    // The double-click toggle: back to fit when zoomed in; else to 1:1 pixels with the clicked
    // point brought to the pane's centre, the pan clamped to the picture's edges. None when the
    // fitted picture has no area.
    static std::optional<Target> doubleClickTarget(QSizeF image, QSizeF pane, double fit, double zoom,
                                                   QPointF offset, QPointF click);
    // The zoom at which a picture pixel takes `pixels` screen points, with `at` brought to the
    // pane's centre as far as the picture's edges allow.
    static std::optional<Target> pointTarget(QSizeF image, QSizeF pane, double fit, double zoom,
                                             QPointF offset, QPointF at, double pixels);
    // How far the picture may be panned on one axis without showing beyond its edge.
    static double panLimit(double zoom, double fit, double imageSize, double paneSize);
    static QPointF clampOffset(QPointF offset, double zoom, double fit, QSizeF image, QSizeF pane);
    // 1:1 pixels relative to fit, within the zoom limits (a vanishing fit asks for the most).
    static double actualSizeTarget(double fit);
    static double clampZoom(double zoom);

    explicit PreviewZoom(QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(PreviewZoom)

    void setFrameClock(ui::FrameClock* clock);
    ui::FrameClock* frameClock() const { return clock_; }

    double zoom() const { return zoom_.value(clock_->now()); }
    double targetZoom() const { return zoom_.target(); }
    QPointF offset() const;
    QPointF offsetAtDragStart() const { return dragStart_; }
    double fit() const { return fit_; }
    void setFit(double fit);
    int percent() const;
    bool isZoomedIn() const { return targetZoom() > fitThreshold; }

    // Immediate.
    void set(double zoom);
    void zoomIn();
    void zoomOut();
    void fitToPane();
    void actualSize();
    // The end of a pinch: the zoom times its magnification, within the limits.
    void magnify(double factor);
    void doubleClick(QPointF at, QSizeF image, QSizeF pane);
    // One step of 1:1 then 2:1 around `at`; false once no further step enlarges.
    bool stepInAt(QPointF at, QSizeF image, QSizeF pane);
    // A drag moves the picture only while zoomed in; its end clamps the pan to the edges.
    void drag(QPointF translation);
    void endDrag(QSizeF image, QSizeF pane);

signals:
    void changed();

private:
    void animateTo(double zoom, std::optional<QPointF> offset, double duration);
    void onFrame();

    ui::Tween zoom_{1};
    ui::Tween offsetX_;
    ui::Tween offsetY_;
    QPointF dragStart_;
    double fit_ = 1;
    ui::FrameClock* clock_;
    ui::FrameDemand demand_;
};

}  // namespace pexil::shell
