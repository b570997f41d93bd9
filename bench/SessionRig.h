#pragma once

// The session model on the in-process virtual camera, on the program's own runtime (Qt event
// loop, system clock, the model's own decoding threads), as the application runs it; shared by
// the session and main-window benchmarks. Also: the process's resident memory, and a 24 MP
// camera JPEG from the virtual camera's picture factory.
#include "app/base/Log.h"
#include "app/base/PreferencesModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/PictureMemory.h"
#include "app/shots/ShotsModel.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/PictureFactory.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/Clock.h"
#include "kit/async/Executor.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pexil {

// The link's saved-file handler of the model: lets a benchmark feed shots faster than a camera
// takes them, through the same path a saved transfer takes.
struct SessionModelProbe {
    static void saved(SessionModel& model, const QString& path) { model.fileSaved(path, nullptr); }
};

}  // namespace pexil

namespace pexil::bench {

using SteadyClock = std::chrono::steady_clock;

inline double millisecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Resident set size from /proc/self/status, in MB (10^6 bytes); 0 when it cannot be read.
inline double residentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("VmRSS:")) continue;
        const QByteArray kB = line.mid(6).trimmed().split(' ').value(0);
        return kB.toDouble() * 1024 / 1e6;
    }
    return 0;
}

// Runs the event loop until `done` holds or `limit` passes; whether it held.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    // Waits in the event loop as the application does: processEvents with a time limit
    // ignores WaitForMoreEvents and would keep a core busy that the decoders measured need.
    QTimer wake;
    wake.start(1);
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Writes a camera JPEG of `width` × `height` (24 MP by default) with its EXIF block and
// thumbnail; the problem when it could not.
inline std::optional<QString> writePicture(const QString& path, int width = 6000,
                                           int height = 4000) {
    camera::PictureFactory factory;
    auto scene = factory.render(width, height, 11, 1);
    if (!scene.ok()) return scene.error();
    camera::PictureMeta meta;
    meta.make = QStringLiteral("NIKON CORPORATION");
    meta.model = QStringLiteral("NIKON Z 6_2");
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    meta.exposure = {5.6, 1, 250, 400, 50};
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    const auto written = camera::PictureFactory::writeJpegFile(file, scene.value(), meta);
    if (!written.ok()) return written.error();
    return std::nullopt;
}

// Feeds `count` shots of the picture at `picture` through the model's saved-file handler in
// bursts of ten, as a photographer shooting in bursts does, each burst once the one before has
// its thumbnails, then waits for the newest shot's full preview; the problem when a decode never
// came. (Shot one by one, every shot's full preview would be decoded, which makes the run long
// and changes nothing of what stays in memory.)
inline std::optional<QString> feedShots(SessionModel& model, const QString& picture, int count) {
    constexpr int burst = 10;
    for (int fed = 0; fed < count;) {
        const int n = std::min(burst, count - fed);
        for (int i = 0; i < n; ++i) SessionModelProbe::saved(model, picture);
        fed += n;
        const bool thumbnailed = spinUntil(
            [&model, n] {
                for (int i = 0; i < n; ++i)
                    if (model.shots().list()[static_cast<std::size_t>(i)].thumbnail.isNull())
                        return false;
                return true;
            },
            std::chrono::seconds(120));
        if (!thumbnailed) return QStringLiteral("shots up to %1 got no thumbnail").arg(fed);
    }
    const bool previewed = spinUntil([&model] { return !model.shots().fullPreview().isNull(); },
                                     std::chrono::seconds(60));
    if (!previewed) return QStringLiteral("the newest shot got no full preview");
    return std::nullopt;
}

class SessionRig {
public:
    // Memory behaves as in the application, which sets this first thing in main().
    SessionRig() { returnPictureMemoryToSystem(); }
    ~SessionRig() {
        model.reset();
        if (device && device->hasOpenSession()) {
            bool closed = false;
            device->requestCloseSession(
                [&closed](std::optional<TransportError>) { closed = true; });
            spinUntil([&closed] { return closed; }, std::chrono::seconds(5));
        }
        if (body) body->unplug();
        device.reset();
        spinUntil([] { return false; }, std::chrono::milliseconds(100));
    }
    SessionRig(const SessionRig&) = delete;
    SessionRig& operator=(const SessionRig&) = delete;

    QString path(const QString& name) const { return dir.filePath(name); }

    // The model, connected to a virtual body made with `options` (its card in the rig's
    // folder); the problem when it did not connect.
    std::optional<QString> connect(camera::VirtualCamera::Options options = {}) {
        if (!dir.isValid()) return QStringLiteral("no temporary folder");
        log = std::make_unique<Log>(path(QStringLiteral("home")));
        options.cardDir = path(QStringLiteral("card"));
        auto made = camera::VirtualCamera::create(options);
        if (!made) return made.error();
        body = made.value();
        auto manual = std::make_unique<camera::ManualSource>(runtime);
        camera::ManualSource* source = manual.get();
        SessionModel::Environment environment;
        environment.sources.push_back(std::move(manual));
        environment.settings =
            std::make_unique<QSettings>(path(QStringLiteral("prefs.ini")), QSettings::IniFormat);
        environment.supportFolder = path(QStringLiteral("support"));
        environment.advertiseGeo = false;
        environment.liveViewSettingsFile = path(QStringLiteral("liveview.ini"));
        model = std::make_unique<SessionModel>(runtime, *log, std::move(environment));
        model->preferences().setBaseDestination(path(QStringLiteral("dest")));
        device = camera::CameraDevice::create(
            runtime, body->model().model, QStringLiteral("virtual"),
            [c = body] { return std::make_unique<camera::VirtualTransport>(c); });
        source->add(device);
        model->connection().connectCamera();
        const bool connected = spinUntil(
            [this] {
                return model->connection().state().is(ConnectionState::Kind::connected) &&
                       !model->settings().props().empty() && model->link().cardSettled();
            },
            std::chrono::seconds(120));
        if (!connected) return QStringLiteral("the virtual camera did not connect");
        return std::nullopt;
    }

    // Connected to a Z 6 making pictures at its sensor's size (6048×4024), what the shot
    // benchmarks measure with; the problem when it did not connect.
    std::optional<QString> connectFullSizeZ6() {
        camera::VirtualCamera::Options options;
        options.model = QStringLiteral("z6");
        options.fullSizePictures = true;
        return connect(options);
    }

    QTemporaryDir dir;
    QObject context;
    async::QtExecutor executor{&context};
    async::SystemClock clock;
    async::Runtime runtime{executor, clock};
    std::unique_ptr<Log> log;
    std::shared_ptr<camera::VirtualCamera> body;
    std::shared_ptr<camera::CameraDevice> device;
    std::unique_ptr<SessionModel> model;
};

// The rig connected and the 24 MP picture every fed shot is made of, written into its folder at
// `picture`; the problem when either failed.
inline std::optional<QString> prepareShots(SessionRig& rig, QString& picture) {
    if (auto problem = rig.connect()) return problem;
    picture = rig.path(QStringLiteral("DSC_0001.JPG"));
    return writePicture(picture);
}

// The counters every memory benchmark reports: resident size before and after `shots`, per
// shot, and against the goal.
inline void reportMemory(benchmark::State& state, double before, double after, int shots,
                         double goalMB) {
    state.counters["rss_MB"] = after;
    state.counters["per_shot_kB"] = (after - before) * 1000 / shots;
    state.counters["goal_MB"] = goalMB;
    state.counters["ratio"] = after / goalMB;
    state.SetLabel(after < goalMB ? "goal met" : "goal missed");
}

}  // namespace pexil::bench
