#include "app/shell/main/SeriesActions.h"

#include "app/base/PreferencesModel.h"
#include "app/capture/CaptureModel.h"
#include "app/capture/SeriesCamera.h"
#include "app/connection/ConnectionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/main/BracketDialog.h"
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
          SeriesCamera::bufferFull(settings, capture)),
      bracket_(runtime, SeriesCamera::forBracket(settings, capture,
                                                 [&prefs] { return prefs.autofocusBeforeShot(); })),
      start_(new QAction(QStringLiteral("インターバル撮影…"), window)),
      bracketStart_(new QAction(QStringLiteral("露出ブラケット撮影…"), window)),
      stop_(new QAction(QStringLiteral("インターバル撮影を止める"), window)) {
    SeriesCamera::followBuffer(settings, capture, &series_);
    SeriesCamera::followBuffer(settings, capture, &bracket_);
    connect(start_, &QAction::triggered, this, [this, window] {
        IntervalDialog dialog(window);
        if (dialog.exec() == QDialog::Accepted) series_.start(dialog.plan());
    });
    connect(bracketStart_, &QAction::triggered, this, [this, window, &settings] {
        BracketDialog dialog(settings.props(), window);
        if (dialog.exec() == QDialog::Accepted) bracket_.start(dialog.plan());
    });
    connect(stop_, &QAction::triggered, this, [this] {
        series_.cancel();
        bracket_.cancel();
    });
    connect(&series_, &Intervalometer::progressChanged, this,
            [this] { progressed(series_.running(), series_.progressText()); });
    connect(&bracket_, &ExposureBracket::progressChanged, this,
            [this] { progressed(bracket_.running(), bracket_.progressText()); });
    connect(&series_, &Intervalometer::finished, this, &SeriesActions::finished);
    connect(&bracket_, &ExposureBracket::finished, this, &SeriesActions::finished);
    // A camera lost ends the series at its next release, which cannot be taken.
    connect(&connection_, &ConnectionModel::stateChanged, this, &SeriesActions::update);
    update();
}

void SeriesActions::progressed(bool running, const QString& progress) {
    if (running) {
        text_ = progress;
        emit textChanged();
    }
    update();
}

void SeriesActions::finished(const QString& summary) {
    text_ = summary;
    emit textChanged();
    update();
}

void SeriesActions::addTo(QMenu* menu) const {
    menu->addSeparator();
    menu->addAction(start_);
    menu->addAction(bracketStart_);
    menu->addAction(stop_);
}

void SeriesActions::update() {
    const bool running = series_.running() || bracket_.running();
    const bool connected = connection_.state().is(ConnectionState::Kind::connected);
    start_->setEnabled(!running && connected);
    bracketStart_->setEnabled(!running && connected);
    stop_->setEnabled(running);
    stop_->setText(bracket_.running() ? QStringLiteral("ブラケット撮影を止める")
                                      : QStringLiteral("インターバル撮影を止める"));
}

}  // namespace pexil::shell
