#pragma once

#include "ui/theme/FocusRing.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <optional>

namespace pexil {
class LiveViewModel;
class CaptureModel;
class ConnectionModel;
class ShotsModel;
}

namespace pexil::shell {

class PreviewZoom;

// The large picture: the live frame while live view runs, else the selected shot's full
// preview, else its thumbnail. Double click toggles 1:1 at the clicked point, Ctrl+wheel and
// pinch zoom, a drag pans while zoomed in. Without a picture it says why.
//
// Over the live frame: the aids chosen (peaking and clipping marks, the guide, the
// histogram) and the AF area. On a body that moves its AF area, a click on the live picture
// moves it there and a double click moves it and runs AF (zoom then stays with the wheel
// and the keys).
//
// Tab reaches it (a click leaves the focus where it was). To screen readers it is a picture
// named "プレビュー" whose description says what is shown: "ライブビュー", the shot's file
// name, or why there is nothing.
class PreviewPane final : public QWidget {
    Q_OBJECT
public:
    PreviewPane(ConnectionModel& connection, CaptureModel& capture, ShotsModel& shots,
                LiveViewModel& live, PreviewZoom& zoom, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(PreviewPane)

    // Pane size over picture size, the picture whole in the pane; 0 for an empty picture.
    static double fitScale(QSizeF pane, QSizeF picture);
    // Where the picture is drawn: centred, scaled by fit × zoom, moved by the pan.
    static QRectF pictureRect(QSizeF pane, QSizeF picture, double zoom, QPointF offset);
    // Zoom steps of one wheel event: pixel deltas every 10 points, else notches of 120.
    static double wheelSteps(QPoint pixelDelta, QPoint angleDelta);

    // What is shown now; null when nothing.
    QImage image() const;
    // The picture's size in its own pixels (the shot's, not its thumbnail's).
    QSizeF pictureSize() const;
    QString emptyText() const;
    // Where a point of the pane falls on the picture, in fractions of its width and height;
    // none outside it.
    std::optional<QPointF> pictureFraction(QPointF at) const;
    // 1:1 around the AF area on the live picture, or back to fit.
    void magnifyAfArea();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void refresh();
    // What is shown, for the accessible description.
    QString shownText() const;
    void describe();
    void paintLiveAids(QPainter& painter, const QRectF& picture) const;
    // The shot's histogram and clipping marks, when chosen.
    void paintShotAids(QPainter& painter, const QRectF& picture) const;
    // Whether clicks on the picture move the AF area.
    bool clicksFocus() const;

    ConnectionModel& connection_;
    CaptureModel& capture_;
    ShotsModel& shots_;
    LiveViewModel& live_;
    PreviewZoom& zoom_;
    std::optional<QPointF> dragFrom_;
    bool dragged_ = false;  // the press moved far enough to be a drag, not a click
    double pinch_ = 1;  // the running pinch's magnification, applied when it ends
    ui::FocusRing ring_;
};

}  // namespace pexil::shell
