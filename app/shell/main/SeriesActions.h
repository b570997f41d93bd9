#pragma once

#include "app/capture/ExposureBracket.h"
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

// The window's series: "インターバル撮影…" and "露出ブラケット撮影…" (a dialog, then the
// series) and the stop of the one running, for the camera menu, and the line that tells how
// it goes. One series runs at a time.
class SeriesActions final : public QObject {
    Q_OBJECT
public:
    SeriesActions(async::Runtime& runtime, ConnectionModel& connection, CaptureModel& capture,
                  CameraSettingsModel& settings, PreferencesModel& prefs, QWidget* window);
    Q_DISABLE_COPY_MOVE(SeriesActions)

    void addTo(QMenu* menu) const;
    Intervalometer& series() { return series_; }
    ExposureBracket& bracket() { return bracket_; }
    QAction* startAction() const { return start_; }
    QAction* bracketAction() const { return bracketStart_; }
    QAction* stopAction() const { return stop_; }
    // While it runs its progress, then its summary; empty before the first series.
    const QString& text() const { return text_; }

signals:
    void textChanged();

private:
    void update();
    void progressed(bool running, const QString& progress);
    void finished(const QString& summary);

    ConnectionModel& connection_;
    Intervalometer series_;
    ExposureBracket bracket_;
    QAction* start_;
    QAction* bracketStart_;
    QAction* stop_;
    QString text_;
};

}  // namespace pexil::shell
