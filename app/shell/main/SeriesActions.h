#pragma once

#include "app/capture/Intervalometer.h"

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace pexil {
class CaptureModel;
class CameraSettingsModel;
class ConnectionModel;
class PreferencesModel;
}  // namespace pexil

namespace pexil::shell {

// The window's timed series: "インターバル撮影…" (a dialog, then the series) and its stop,
// for the camera menu, and the line that tells how it goes.
class SeriesActions final : public QObject {
    Q_OBJECT
public:
    SeriesActions(async::Runtime& runtime, ConnectionModel& connection, CaptureModel& capture,
                  CameraSettingsModel& settings, PreferencesModel& prefs, QWidget* window);
    Q_DISABLE_COPY_MOVE(SeriesActions)

    void addTo(QMenu* menu) const;
    Intervalometer& series() { return series_; }
    QAction* startAction() const { return start_; }
    QAction* stopAction() const { return stop_; }
    // While it runs its progress, then its summary; empty before the first series.
    const QString& text() const { return text_; }

signals:
    void textChanged();

private:
    void update();

    ConnectionModel& connection_;
    Intervalometer series_;
    QAction* start_;
    QAction* stop_;
    QString text_;
};

}  // namespace pexil::shell
