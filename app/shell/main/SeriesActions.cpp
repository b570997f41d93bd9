#include "app/shell/main/SeriesActions.h"

#include "app/capture/CaptureModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/session/PreferencesModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/main/IntervalDialog.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace pexil::shell {

SeriesActions::SeriesActions(async::Runtime& runtime, ConnectionModel& connection,
                             CaptureModel& capture, CameraSettingsModel& settings,
                             PreferencesModel& prefs, QWidget* window)
    : QObject(window),
      connection_(connection),
      series_(
          runtime, [&capture, &prefs] { return capture.shootAndWait(prefs.autofocusBeforeShot()); },
          [&settings, &capture] { return settings.bufferRemaining() == 0 || capture.busy(); }),
      start_(new QAction(QStringLiteral("インターバル撮影…"), window)),
      stop_(new QAction(QStringLiteral("インターバル撮影を止める"), window)) {
    connect(&settings, &CameraSettingsModel::bufferRemainingChanged, &series_,
            &Intervalometer::bufferChanged);
    connect(&capture, &CaptureModel::busyChanged, &series_, &Intervalometer::bufferChanged);
    connect(start_, &QAction::triggered, this, [this, window] {
        IntervalDialog dialog(window);
        if (dialog.exec() == QDialog::Accepted) series_.start(dialog.plan());
    });
    connect(stop_, &QAction::triggered, &series_, &Intervalometer::cancel);
    connect(&series_, &Intervalometer::progressChanged, this, [this] {
        if (series_.running()) {
            text_ = series_.progressText();
            emit textChanged();
        }
        update();
    });
    connect(&series_, &Intervalometer::finished, this, [this](const QString& summary) {
        text_ = summary;
        emit textChanged();
        update();
    });
    // A camera lost ends the series at its next release, which cannot be taken.
    connect(&connection_, &ConnectionModel::stateChanged, this, &SeriesActions::update);
    update();
}

void SeriesActions::addTo(QMenu* menu) const {
    menu->addSeparator();
    menu->addAction(start_);
    menu->addAction(stop_);
}

void SeriesActions::update() {
    start_->setEnabled(!series_.running() &&
                       connection_.state().is(ConnectionState::Kind::connected));
    stop_->setEnabled(series_.running());
}

}  // namespace pexil::shell
