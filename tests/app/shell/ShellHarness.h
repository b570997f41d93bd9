#pragma once

// The application's model as `pexil --demo` wires it (a virtual Nikon with a card of
// pictures, reached through the real camera service), on the virtual clock, with its own
// preference store, support folder and destination in a temporary folder.
#include "app/base/Log.h"
#include "app/base/PreferencesModel.h"
#include "app/capture/CaptureModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/session/DestinationModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "support/VirtualCameraRig.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace pexil::testing {

class ShellHarness : public VirtualCameraRig {
public:
    explicit ShellHarness(int photos = 3, const QString& body = QStringLiteral("d850")) {
        vcamOptions = cameraOptions();
        vcamOptions.model = body;
        vcamOptions.photos = photos;
        makeCamera(vcamOptions);
        if (!camera) throw std::runtime_error("no virtual camera");

        SessionModel::Environment environment;
        environment.sources.push_back(takeSource());
        environment.settings = std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
        environment.supportFolder = dir.filePath(QStringLiteral("support"));
        environment.advertiseGeo = false;
        environment.liveViewSettingsFile = dir.filePath(QStringLiteral("liveview.ini"));
        syncWall();
        model = std::make_unique<SessionModel>(rt, *log, std::move(environment));
        model->preferences().setBaseDestination(dir.filePath(QStringLiteral("dest")));
    }
    // First, while the rig it stands on exists.
    ~ShellHarness() { model.reset(); }

    QString settingsPath() const { return dir.filePath(QStringLiteral("prefs.ini")); }

    // The same body and card plugged in again after unplug().
    void plugAgain() {
        makeCamera(vcamOptions);
        plug();
    }

    // Runs the model (camera answers, decoding, its timers on the virtual clock) and the
    // widgets' posted events until `done` holds, for at most `virtualSeconds`; whether it did.
    bool until(const std::function<bool()>& done, double virtualSeconds = 60) {
        return VirtualCameraRig::waitFor(
            [&] {
                QApplication::sendPostedEvents();
                return done();
            },
            virtualSeconds);
    }
    bool waitFor(const std::function<bool()>& done) { return until(done); }

    bool connectAndWait() {
        plug();
        model->connection().connectCamera();
        return until([this] {
            return model->connection().state().is(ConnectionState::Kind::connected) &&
                   !model->settings().props().empty();
        });
    }

    std::shared_ptr<camera::VirtualCamera>& vcam = camera;
    camera::VirtualCamera::Options vcamOptions;
    std::unique_ptr<SessionModel> model;
};

}  // namespace pexil::testing
