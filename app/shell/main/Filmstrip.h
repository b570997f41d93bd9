#pragma once

#include <QWidget>

class QLabel;
class QListView;

namespace pexil {
class CameraSettingsModel;
class CaptureModel;
class CardModel;
class ConnectionModel;
class ShotFilter;
class ShotsModel;
}

namespace pexil::ui {
class ElidedLabel;
class SegmentedControl;
}

namespace pexil::shell {

class IncomingCell;
class SourceToggle;

// The session's shots under the preview: a header with the source, the count and the
// camera's buffer, and a row of thumbnails, newest on the left. A click selects a shot.
class Filmstrip final : public QWidget {
    Q_OBJECT
public:
    Filmstrip(ShotsModel& shots, CaptureModel& capture, CameraSettingsModel& settings,
              ConnectionModel& connection, CardModel& card, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Filmstrip)

    QListView* view() const { return view_; }
    IncomingCell* incomingCell() const { return incoming_; }
    ShotsModel* shotList() const { return &shots_; }
    SourceToggle* sourceToggle() const { return source_; }
    // All shots, the picks, or all but the rejects.
    ui::SegmentedControl* filterChoice() const { return filterChoice_; }
    QString countText() const;
    QString bufferText() const;  // empty when the camera gives no buffer count
    // A timed series' progress or summary in the header; empty hides it.
    void setSeriesText(const QString& text);
    QString seriesText() const;

private:
    void update();

    ShotsModel& shots_;
    CaptureModel& capture_;
    CameraSettingsModel& settings_;
    SourceToggle* source_;
    QLabel* count_;
    ui::ElidedLabel* series_;
    QLabel* buffer_;
    QLabel* bufferIcon_;
    ShotFilter* filter_;
    ui::SegmentedControl* filterChoice_;
    QListView* view_;
    IncomingCell* incoming_;
};

}  // namespace pexil::shell
