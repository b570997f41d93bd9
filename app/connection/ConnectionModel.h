#pragma once

#include "app/base/Log.h"
#include "app/connection/CameraLink.h"
#include "app/connection/ConnectionState.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/device/DeviceInfo.h"

#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>

namespace pexil {

class CameraSettingsModel;

// The camera held, as the windows show it: from no camera through warm-up to connected and
// back, what the camera says of itself, how far its clock is off, when a lost camera is tried
// again. While connected it polls the camera for its changes and hands them to the settings
// model. Connecting, disconnecting, setting the camera's clock and handing the controls back
// go through it.
//
// Threads: main thread only, every call and every signal.
// Lifetime: destroying the model abandons its tasks; nothing is sent to the camera then.
class ConnectionModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(pexil::ConnectionState state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::optional<pexil::Warmup> warmup READ warmup NOTIFY warmupChanged)
    Q_PROPERTY(std::optional<QDateTime> warmupSince READ warmupSince NOTIFY warmupChanged)
    Q_PROPERTY(std::optional<pexil::DeviceInfo> deviceInfo READ deviceInfo NOTIFY deviceInfoChanged)
    Q_PROPERTY(std::optional<double> clockOffset READ clockOffset NOTIFY clockOffsetChanged)

public:
    using CameraPtr = std::shared_ptr<PTPCamera>;

    ConnectionModel(async::Runtime& runtime, Log& log, CameraLink& link,
                    CameraSettingsModel& settings, QObject* parent = nullptr);
    ~ConnectionModel() override;
    Q_DISABLE_COPY_MOVE(ConnectionModel)

    // Set by the session before the first connection.
    // What must end before the session is closed on the photographer's word (live view).
    std::function<async::Task<void>()> beforeClose;
    // The shutter is in use: the poll loop leaves the camera alone meanwhile.
    std::function<bool()> shutterBusy;

    const ConnectionState& state() const { return state_; }
    bool connected() const { return state_.is(ConnectionState::Kind::connected); }
    const std::optional<Warmup>& warmup() const { return warmup_; }
    const std::optional<QDateTime>& warmupSince() const { return warmupSince_; }
    const std::optional<DeviceInfo>& deviceInfo() const { return deviceInfo_; }
    // When a lost camera on the network is tried again; none when no try is waiting.
    const std::optional<QDateTime>& reconnectAt() const { return reconnectAt_; }
    const std::optional<double>& clockOffset() const { return clockOffset_; }
    async::Clock& clock() const { return runtime_.clock(); }

    QString modelName() const;
    // The camera's serial number, or its name when it tells none: how the import record
    // knows the camera.
    QString cameraSerial() const;
    std::optional<QString> clockOffsetDescription() const;
    static std::optional<QString> describeClockOffset(std::optional<double> offset);
    // When the USB watcher saw the current camera appear, if less than 180 s ago.
    std::optional<QDateTime> recentAttach() const;
    // When `since` (a USB arrival) counts as recent at `now`: less than 180 s before it.
    static std::optional<QDateTime> recentSince(std::optional<QDateTime> since, const QDateTime& now);

    void connectCamera();
    void disconnectCamera();
    // Tries the lost camera at once instead of at reconnectAt().
    void reconnectNow() { link_.reconnectNow(); }
    void syncClock();
    // Hands the exposure controls back to the body.
    void releaseCameraControl();

    // What the capture model needs of the poll: how many new pictures the camera announced
    // (either channel) since the model was made, whether `camera` announces them only when
    // polled, and one poll (whether anything changed).
    int announcements() const { return announcements_; }
    bool announcesByPolling(const PTPCamera& camera) const;
    async::Task<bool> pollOnce(CameraPtr camera);

signals:
    void stateChanged();
    void warmupChanged();
    void deviceInfoChanged();
    void reconnectAtChanged();
    void clockOffsetChanged();
    // The link's phases and losses as they come, for headless users (pexilctl tether).
    void linkPhase(const pexil::CameraLink::Phase& phase);
    void sessionLost(const std::optional<QString>& reason);
    // The photographer asked for a camera: earlier failures are over.
    void connecting();
    // A camera is ready: the feature models take it.
    void cameraReady(const pexil::ConnectionModel::CameraPtr& camera);
    // The camera is gone (lost, or closed on the photographer's word): the feature models
    // drop what they hold of it.
    void cameraCleared(bool closedByUser);
    void failed(const QString& message);

private:
    friend struct ConnectionModelProbe;  // tests drive the link's callbacks directly
    using CameraWeak = std::weak_ptr<PTPCamera>;

    void phaseChanged(const CameraLink::Phase& phase);
    void ready(const CameraPtr& camera);
    void lost(const std::optional<QString>& reason);
    void handle(const PTPEvent& event);
    void beginWarmup(Warmup warmup, std::optional<QDateTime> since);
    void clearWarmup();
    void forgetCamera(bool closedByUser);
    // Whether `camera` is still the link's camera: a result read from an earlier camera or
    // session must not land in this one's state.
    bool current(const CameraWeak& camera) const;

    void startPolling();
    void stopPolling();
    async::Task<void> pollLoop();

    void setState(ConnectionState state);
    void setClockOffset(std::optional<double> value);

    async::Runtime& runtime_;
    Log& log_;
    CameraLink& link_;
    CameraSettingsModel& settings_;

    ConnectionState state_;
    std::optional<Warmup> warmup_;
    std::optional<QDateTime> warmupSince_;
    std::optional<DeviceInfo> deviceInfo_;
    std::optional<QDateTime> reconnectAt_;
    std::optional<double> clockOffset_;
    bool checkEventUsable_ = true;
    int announcements_ = 0;
    std::optional<async::TaskHandle> pollLoop_;
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
