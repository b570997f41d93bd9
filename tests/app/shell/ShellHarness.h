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
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/VirtualRuntime.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace pexil::testing {

class ShellHarness {
public:
    explicit ShellHarness(int photos = 3, const QString& body = QStringLiteral("d850")) {
        log = std::make_unique<Log>(dir.filePath(QStringLiteral("home")));
        camera::VirtualCamera::Options options;
        options.model = body;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.photos = photos;
        options.wallClock = [wall = wallMs] {
            return QDateTime::fromMSecsSinceEpoch(wall->load(), Qt::UTC).toLocalTime();
        };
        vcamOptions = options;
        auto made = camera::VirtualCamera::create(options);
        if (!made) throw std::runtime_error(made.error().toStdString());
        vcam = made.value();

        auto manual = std::make_unique<camera::ManualSource>(rt);
        source = manual.get();
        SessionModel::Environment environment;
        environment.sources.push_back(std::move(manual));
        environment.settings = std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
        environment.supportFolder = dir.filePath(QStringLiteral("support"));
        environment.advertiseGeo = false;
        environment.liveViewSettingsFile = dir.filePath(QStringLiteral("liveview.ini"));
        syncWall();
        model = std::make_unique<SessionModel>(rt, *log, std::move(environment));
        model->preferences().setBaseDestination(dir.filePath(QStringLiteral("dest")));
    }

    ~ShellHarness() {
        model.reset();
        if (device && device->hasOpenSession()) {
            bool closed = false;
            device->requestCloseSession([&](std::optional<TransportError>) { closed = true; });
            rt.waitUntil([&] { return closed; }, std::chrono::seconds(5));
        }
        vcam->unplug();
        device.reset();
        rt.waitUntil([] { return false; }, std::chrono::milliseconds(150));
    }

    QString settingsPath() const { return dir.filePath(QStringLiteral("prefs.ini")); }

    void plug() {
        device = camera::CameraDevice::create(rt, vcam->model().model, QStringLiteral("virtual"),
                                              [c = vcam] { return std::make_unique<camera::VirtualTransport>(c); });
        source->add(device);
    }
    void unplug() {
        source->remove(device);
        vcam->unplug();
    }
    // The same body and card plugged in again after unplug().
    void plugAgain() {
        auto made = camera::VirtualCamera::create(vcamOptions);
        if (!made) throw std::runtime_error(made.error().toStdString());
        vcam = made.value();
        plug();
    }

    void syncWall() { wallMs->store(rt.clock().now().toMSecsSinceEpoch()); }

    // Runs the model (camera answers, decoding, its timers on the virtual clock) and the
    // widgets' posted events until `done` holds; whether it did.
    bool until(const std::function<bool()>& done, double virtualSeconds = 60) {
        const int rounds = 200;
        for (int i = 0; i < rounds; ++i) {
            QApplication::sendPostedEvents();
            if (rt.waitUntil(done, std::chrono::milliseconds(30))) return true;
            rt.runFor(async::Seconds(virtualSeconds / rounds));
            syncWall();
        }
        return done();
    }

    // The same without moving time: while live view streams, camera work never stops, and a
    // virtual clock moves only when nothing is outstanding.
    bool waitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 200; ++i) {
            QApplication::sendPostedEvents();
            if (rt.waitUntil(done, std::chrono::milliseconds(50))) return true;
            // The frame loop paces itself on the clock: nudge it, firing what fell due.
            rt.clock().advance(async::Seconds(0.05));
            rt.runReady();
            syncWall();
        }
        return done();
    }

    bool connectAndWait() {
        plug();
        model->connection().connectCamera();
        return until([this] {
            return model->connection().state().is(ConnectionState::Kind::connected) &&
                   !model->settings().props().empty();
        });
    }

    QTemporaryDir dir;
    async::VirtualRuntime rt;
    std::shared_ptr<std::atomic<qint64>> wallMs = std::make_shared<std::atomic<qint64>>(0);
    std::unique_ptr<Log> log;
    std::shared_ptr<camera::VirtualCamera> vcam;
    camera::VirtualCamera::Options vcamOptions;
    camera::ManualSource* source = nullptr;
    std::shared_ptr<camera::CameraDevice> device;
    std::unique_ptr<SessionModel> model;
};

}  // namespace pexil::testing
