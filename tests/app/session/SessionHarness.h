#pragma once

// A SessionModel on the virtual camera through the real camera service and link, on the
// virtual clock, with its own preference store, support folder and destination. waitUntil and
// settle run until something holds (VirtualCameraRig::waitFor); runFor moves time.
#include "app/capture/CaptureModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/DestinationModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/Executor.h"
#include "kit/async/WorkQueue.h"
#include "support/VirtualCameraRig.h"

#include <QSettings>

#include <algorithm>
#include <memory>

namespace pexil {

// Reaches the connection's link callbacks directly, for the state tables.
struct ConnectionModelProbe {
    static void phase(SessionModel& m, const CameraLink::Phase& p) {
        m.connection().phaseChanged(p);
    }
    static void lost(SessionModel& m, std::optional<QString> reason) {
        m.connection().lost(reason);
    }
    static void event(SessionModel& m, PTPEvent e) { m.connection().handle(e); }
    static void setState(SessionModel& m, ConnectionState s) {
        m.connection().setState(std::move(s));
    }
    static bool checkEventUsable(const SessionModel& m) { return m.connection().checkEventUsable_; }
    static int announcements(const SessionModel& m) { return m.connection().announcements(); }
};

// Reaches the session's download callbacks directly.
struct SessionModelProbe {
    static void failed(SessionModel& m, const QString& name, const QString& why,
                       bool fromCamera = false) {
        m.downloadFailed(name, why, fromCamera);
    }
    static int writing(const SessionModel& m) { return m.settings().writesPending(); }
    static void saved(SessionModel& m, const QString& path) { m.fileSaved(path, nullptr); }
};

// Feeds frames to live view without a camera.
struct LiveViewModelProbe {
    static void frame(LiveViewModel& m, const Bytes& jpeg) { m.frameArrived(ByteView(jpeg)); }
    static void setLive(LiveViewModel& m, bool live) { m.setLive(live); }
};

namespace testing {

class SessionHarness : public VirtualCameraRig {
public:
    // Frames decode on a queue the test drains by hand (manualFrames), or on a worker; so do
    // thumbnails and previews (manualThumbs).
    explicit SessionHarness(Via via = Via::inProcess, bool manualFrames = false,
                            bool manualThumbs = false)
        : VirtualCameraRig(via) {
        auto settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("prefs.ini")),
                                                    QSettings::IniFormat);
        settings->setValue(QStringLiteral("baseDestination"), destination());
        SessionModel::Environment env;
        env.sources.push_back(takeSource());
        env.settings = std::move(settings);
        env.supportFolder = dir.filePath(QStringLiteral("support"));
        env.advertiseGeo = false;
        env.thumbQueue = manualThumbs ? static_cast<async::Executor*>(&heldThumbs) : &thumbs;
        env.frameQueue = manualFrames ? static_cast<async::Executor*>(&heldFrames) : &frames;
        env.liveViewSettingsFile = dir.filePath(QStringLiteral("liveview.ini"));
        model = std::make_unique<SessionModel>(rt, *log, std::move(env));
        syncWall();
    }
    // First, while the queues it decodes on still exist.
    ~SessionHarness() { model.reset(); }

    QString destination() const { return dir.filePath(QStringLiteral("dest")); }

    void makeCamera(QString body = QStringLiteral("d850"),
                    int photos = 0, bool eventChannel = true) {
        auto options = cameraOptions();
        options.model = body;
        options.photos = photos;
        options.eventChannel = eventChannel;
        // The body works in real time; keep it quick so that virtual time does not run past it.
        options.timings.capture = std::chrono::milliseconds(5);
        options.timings.autofocus = std::chrono::milliseconds(1);
        options.timings.liveViewStart = std::chrono::milliseconds(1);
        VirtualCameraRig::makeCamera(options);
    }

    // Connects and waits until the settings are read and the poll loop runs.
    void connectReady(QString body = QStringLiteral("d850"),
                      int photos = 0, bool eventChannel = true) {
        makeCamera(body, photos, eventChannel);
        plug();
        model->connection().connectCamera();
        // The catalogue may settle before the first reading of the settings ends: wait for both.
        ASSERT_TRUE(settle([&] {
            return model->connection().state().is(ConnectionState::Kind::connected) &&
                   !model->settings().props().empty() && model->link().cardSettled() &&
                   settingsRead();
        }));
    }

    // The first reading of every setting has been logged.
    bool settingsRead() const {
        const QStringList all = lines();
        return std::any_of(all.begin(), all.end(), [](const QString& line) {
            return line.startsWith(QString::fromUtf8("設定: "));
        });
    }

    bool waitUntil(const std::function<bool()>& done) {
        if (onVirtualTime()) return waitFor(done);
        return rt.waitUntil(
            [&] {
                syncWall();
                return done();
            },
            std::chrono::seconds(20));
    }
    // Lets both clocks run until `done`: a little real time for the camera, then 0.05 s of
    // virtual time, up to `seconds` of virtual time. Live view fetches frames back to back, so
    // camera work may never run out: time moves on after 0.1 s of real time regardless.
    bool settle(const std::function<bool()>& done, double seconds = 30) {
        if (onVirtualTime()) return waitFor(done, seconds);
        const double until = rt.clock().monotonic().count() + seconds;
        using Steady = std::chrono::steady_clock;
        const auto realLimit = Steady::now() + std::chrono::seconds(20);
        auto busySince = Steady::now();
        for (;;) {
            if (rt.waitUntil([&] { return done(); }, std::chrono::milliseconds(5))) return true;
            if (Steady::now() > realLimit) return done();
            // Answers on their way come before time moves, unless the camera never rests.
            if (rt.runtime().externalPending() > 0 &&
                Steady::now() - busySince < std::chrono::milliseconds(100))
                continue;
            busySince = Steady::now();
            // Small steps: the body's own work (a picture being made) runs in real time.
            if (rt.clock().monotonic().count() >= until) return done();
            rt.clock().advance(async::Seconds(0.05));
            syncWall();
        }
    }
    // Moves virtual time; camera answers in flight come back first.
    void runFor(double seconds) {
        rt.runFor(async::Seconds(seconds));
        syncWall();
    }

    int countLines(const QString& text) const { return static_cast<int>(lines().count(text)); }

    async::WorkQueue thumbs{QStringLiteral("test.thumb")};
    async::WorkQueue frames{QStringLiteral("test.frame")};
    async::ManualExecutor heldFrames;
    async::ManualExecutor heldThumbs;
    std::unique_ptr<SessionModel> model;
};

}  // namespace testing
}  // namespace pexil
