#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace pexil {
class LiveViewModel;
class ShotsModel;
}

namespace pexil::shell {

class PreviewZoom;
class ZoomControls;

// The line under the preview: "LIVE" with the frame rate while live view runs, otherwise
// the selected shot's name, exposure summary, white balance in Kelvin when the camera told
// it, pixel size and a button that shows it in the
// file manager; the zoom controls at the right.
class InfoRow final : public QWidget {
    Q_OBJECT
public:
    InfoRow(ShotsModel& shots, LiveViewModel& liveView, PreviewZoom& zoom,
            QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(InfoRow)

    // The texts shown, in order, without the hidden ones (for tests and accessibility).
    QStringList shownTexts() const;
    QToolButton* revealButton() const { return reveal_; }
    // Live view's own buttons, shown after the frame rate while live view runs.
    void setLiveControls(QWidget* controls);
    ZoomControls* zoomControls() const { return zoomControls_; }

private:
    void update();

    ShotsModel& shots_;
    LiveViewModel& liveView_;
    QWidget* liveDot_;
    QLabel* live_;
    QLabel* fps_;
    QWidget* liveControls_ = nullptr;
    QLabel* name_;
    QLabel* summary_;
    QLabel* kelvin_;
    QLabel* client_;
    QLabel* pixels_;
    QToolButton* reveal_;
    ZoomControls* zoomControls_;
};

}  // namespace pexil::shell
