#pragma once

#include "app/connection/CameraLink.h"
#include "app/session/ConnectionState.h"
#include "app/session/Log.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/device/DeviceInfo.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pexil {

class CameraSettingsModel;
class CaptureModel;
class CardModel;
class GeoStore;
class ImportLedger;
class LiveViewModel;
class PreferencesModel;
class ShotsModel;
namespace async {
class Executor;
class WorkQueue;
}

// The application's one long-lived model: it owns the camera link, the geo store and the
// import ledger, follows the camera from no camera through warm-up to connected and back,
// mirrors the camera's settings and counters, polls the camera while connected, fires the
// shutter and autofocus, turns saved files into shots, holds live view (LiveViewModel), and
// keeps the user's preferences. The windows only render its properties and call its
// operations; pexilctl tether drives the same object headless.
//
// Threads: main thread only, every call and every signal. Pictures and frames are decoded
// on worker queues and applied back on the main thread.
// Lifetime: destroying the model abandons its tasks; nothing of it runs afterwards. Nothing
// is sent to the camera at destruction.
class SessionModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(pexil::ConnectionState state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::optional<pexil::Warmup> warmup READ warmup NOTIFY warmupChanged)
    Q_PROPERTY(std::optional<QDateTime> warmupSince READ warmupSince NOTIFY warmupChanged)
    Q_PROPERTY(std::optional<pexil::DeviceInfo> deviceInfo READ deviceInfo NOTIFY deviceInfoChanged)
    Q_PROPERTY(std::optional<double> clockOffset READ clockOffset NOTIFY clockOffsetChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QStringList failedTransfers READ failedTransfers NOTIFY failedTransfersChanged)
    Q_PROPERTY(std::optional<QString> destinationProblem READ destinationProblem NOTIFY destinationProblemChanged)
    Q_PROPERTY(std::optional<QString> ledgerProblem READ ledgerProblem NOTIFY ledgerProblemChanged)

public:
    // What the model is built on; the application passes the real things, tests and the
    // demo their own.
    struct Environment {
        // Where cameras come from (the camera service's sources).
        std::vector<std::unique_ptr<camera::DeviceSource>> sources;
        // Tells of a USB camera before the service reports it; may be null.
        std::unique_ptr<camera::UsbCameraWatcher> usb;
        // The preference store; null: QSettings with the application's names.
        std::unique_ptr<QSettings> settings;
        // Where imported.json and geo-latest.json live; empty: <application-support>/Pexil.
        QString supportFolder;
        // Whether the geo store's receiver advertises itself on the network (tests: no).
        bool advertiseGeo = true;
        // Decoding queues; null: the model's own worker threads.
        async::Executor* thumbQueue = nullptr;
        async::Executor* frameQueue = nullptr;
        // Where live view remembers which bodies need their memory; empty: the preference store.
        QString liveViewSettingsFile;
    };

    SessionModel(async::Runtime& runtime, Log& log, Environment environment,
                 QObject* parent = nullptr);
    ~SessionModel() override;
    Q_DISABLE_COPY_MOVE(SessionModel)

    // --- observable state ---
    const ConnectionState& state() const { return state_; }
    const std::optional<Warmup>& warmup() const { return warmup_; }
    const std::optional<QDateTime>& warmupSince() const { return warmupSince_; }
    const std::optional<DeviceInfo>& deviceInfo() const { return deviceInfo_; }
    // When a lost camera on the network is tried again; none when no try is waiting.
    const std::optional<QDateTime>& reconnectAt() const { return reconnectAt_; }
    // Tries the lost camera at once instead of at reconnectAt().
    void reconnectNow() { link_->reconnectNow(); }
    const std::optional<double>& clockOffset() const { return clockOffset_; }
    const std::optional<QString>& lastError() const { return lastError_; }
    const QStringList& failedTransfers() const { return failedTransfers_; }
    const std::optional<QString>& destinationProblem() const { return destinationProblem_; }
    // The import record is damaged (and set aside) or cannot be written; none while all is well.
    const std::optional<QString>& ledgerProblem() const;

    // --- computed ---
    QString modelName() const;
    QString cameraSerial() const;
    std::optional<QString> clockOffsetDescription() const;
    static std::optional<QString> describeClockOffset(std::optional<double> offset);
    // When the USB watcher saw the current camera appear, if less than 180 s ago.
    std::optional<QDateTime> recentAttach() const;

    // --- destination (from the preferences) ---
    // Where a picture taken at `date` is saved.
    QString destination(const QDateTime& date) const;
    // Hands the destination of now to the link and checks that it takes files.
    void applyDestination();
    std::optional<QString> checkDestination() const;

    // --- connection ---
    void connectCamera();
    void disconnectCamera();
    void syncClock();
    // Hands the exposure controls back to the body.
    void releaseCameraControl();

    // --- live view ---
    // Starts or stops live view while connected (liveView() tells how it goes).
    void toggleLiveView();

    // The window's alert was dismissed.
    void clearLastError();
    // A failure of the shell's own (a folder that cannot be opened) for the same alert.
    void reportError(const QString& text);

    CameraLink& link() { return *link_; }
    GeoStore& geo() { return *geo_; }
    ImportLedger& ledger() { return *ledger_; }
    // The card browser's model: follows the link's catalogue and the geo store's record.
    CardModel& card() { return *card_; }
    async::Runtime& runtime() const { return runtime_; }
    Log& log() const { return log_; }
    // Live view of the camera held.
    LiveViewModel& liveView() { return *live_; }
    // The shutter and autofocus of the camera held, and the picture on its way.
    CaptureModel& capture() { return *capture_; }
    const CaptureModel& capture() const { return *capture_; }
    // The settings of the camera held: the inspector's values, the meter and the buffer.
    CameraSettingsModel& settings() { return *settings_; }
    const CameraSettingsModel& settings() const { return *settings_; }
    // The session's shots, the one shown and its large picture.
    ShotsModel& shots() { return *shots_; }
    const ShotsModel& shots() const { return *shots_; }
    // The user's preferences, kept in the environment's store.
    PreferencesModel& preferences() { return *prefs_; }
    // A camera announced a new picture (either channel) since the model was made.
    int shotNotifications() const { return shotNotifications_; }

signals:
    void stateChanged();
    void warmupChanged();
    void deviceInfoChanged();
    void reconnectAtChanged();
    void clockOffsetChanged();
    void lastErrorChanged();
    void failedTransfersChanged();
    void destinationProblemChanged();
    void ledgerProblemChanged();
    // The link's phases and losses as they come, for headless users (pexilctl tether).
    void linkPhase(const pexil::CameraLink::Phase& phase);
    void sessionLost(const std::optional<QString>& reason);
    // A saved shot (for pexilctl tether and tests) and a failed one.
    void shotSaved(const QString& path);
    void transferFailed(const QString& name, const QString& message);

public:
    // When `since` (a USB arrival) counts as recent at `now`: less than 180 s before it.
    static std::optional<QDateTime> recentSince(std::optional<QDateTime> since, const QDateTime& now);

private:
    friend struct SessionModelProbe;  // tests drive the link's callbacks directly
    using CameraPtr = std::shared_ptr<PTPCamera>;
    using CameraWeak = std::weak_ptr<PTPCamera>;

    // Link callbacks.
    void phaseChanged(const CameraLink::Phase& phase);
    void cameraReady(const CameraPtr& camera);
    void cameraLost(const std::optional<QString>& reason);
    void handle(const PTPEvent& event);
    void fileSaved(const QString& path, const CameraLink::CameraFilePtr& file);
    void downloadFailed(const QString& name, const QString& reason, bool fromCamera);

    void beginWarmup(Warmup warmup, std::optional<QDateTime> since);
    void clearWarmup();
    void clearCameraState();
    // Whether `camera` is still the link's camera: a result read from an earlier camera or
    // session must not land in this one's state.
    bool current(const CameraWeak& camera) const;
    bool checkEventWanted(const PTPCamera& camera) const;

    void startEventLoop();
    async::Task<void> eventLoop();
    async::Task<bool> pollOnce(CameraPtr camera);

    void setState(ConnectionState state);
    void setLastError(std::optional<QString> text);
    void setClockOffset(std::optional<double> value);
    void setDestinationProblem(std::optional<QString> problem);
    void write(const QString& line) const { log_.write(line); }

    async::Runtime& runtime_;
    Log& log_;
    std::unique_ptr<PreferencesModel> prefs_;

    ConnectionState state_;
    std::optional<Warmup> warmup_;
    std::optional<QDateTime> warmupSince_;
    std::optional<DeviceInfo> deviceInfo_;
    std::optional<QDateTime> reconnectAt_;
    std::optional<double> clockOffset_;
    std::optional<QString> lastError_;
    QStringList failedTransfers_;
    std::optional<QString> destinationProblem_;
    bool checkEventUsable_ = true;
    int shotNotifications_ = 0;

    std::unique_ptr<async::WorkQueue> ownThumbQueue_;
    std::unique_ptr<async::WorkQueue> ownFrameQueue_;
    async::Executor* thumbQueue_ = nullptr;
    async::Executor* frameQueue_ = nullptr;

    std::unique_ptr<ImportLedger> ledger_;
    std::unique_ptr<GeoStore> geo_;
    std::unique_ptr<CameraLink> link_;
    // After the link, geo store, ledger and settings it is built on, so it goes first.
    std::unique_ptr<CardModel> card_;
    std::unique_ptr<LiveViewModel> live_;
    std::unique_ptr<ShotsModel> shots_;
    std::unique_ptr<CameraSettingsModel> settings_;
    std::unique_ptr<CaptureModel> capture_;
    std::optional<async::TaskHandle> eventLoop_;
    async::Lifetime lifetime_;
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
