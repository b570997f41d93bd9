#pragma once

#include "app/base/Log.h"
#include "app/connection/CameraLink.h"
#include "kit/async/Runtime.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pexil {

class BackupModel;
class CameraSettingsModel;
class CaptureModel;
class CardModel;
class ConnectionModel;
class DestinationModel;
class GeoStore;
class ImportLedger;
class LiveViewModel;
class PreferencesModel;
class ShotsModel;
namespace async {
class Executor;
class WorkQueue;
}

// The application's one long-lived model, a thin root over the feature models: it owns the
// camera link, the geo store and the import ledger, builds the connection, settings, capture,
// shots, live view and card models on them, turns saved files into shots and records, and
// keeps the one alert the window shows. The windows take the feature model they show;
// pexilctl tether drives the same models headless.
//
// Threads: main thread only, every call and every signal. Pictures and frames are decoded
// on worker queues and applied back on the main thread.
// Lifetime: destroying the model abandons its tasks; nothing of it runs afterwards. Nothing
// is sent to the camera at destruction.
class SessionModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)

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
        // Where backup copies are written; null: the model's own worker thread.
        async::Executor* backupQueue = nullptr;
        // Where live view remembers which bodies need their memory; empty: the preference store.
        QString liveViewSettingsFile;
    };

    SessionModel(async::Runtime& runtime, Log& log, Environment environment,
                 QObject* parent = nullptr);
    ~SessionModel() override;
    Q_DISABLE_COPY_MOVE(SessionModel)

    // --- observable state ---
    const std::optional<QString>& lastError() const { return lastError_; }

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
    // Where pictures go, and what went wrong putting them there.
    DestinationModel& destination() { return *destination_; }
    const DestinationModel& destination() const { return *destination_; }
    // The second copy of each saved picture.
    BackupModel& backup() { return *backup_; }
    // The camera held: its state, warm-up, identity and clock; connecting and disconnecting.
    ConnectionModel& connection() { return *connection_; }
    const ConnectionModel& connection() const { return *connection_; }
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

signals:
    void lastErrorChanged();
    // A saved shot (for pexilctl tether and tests) and a failed one.
    void shotSaved(const QString& path);
    void transferFailed(const QString& name, const QString& message);

private:
    friend struct SessionModelProbe;  // tests drive the link's callbacks directly

    void fileSaved(const QString& path, const CameraLink::CameraFilePtr& file);
    void downloadFailed(const QString& name, const QString& reason, bool fromCamera);
    void cameraReady(const std::shared_ptr<PTPCamera>& camera);
    void cameraCleared(bool closedByUser);
    // A feature model's failure, for the window's alert.
    void alert(const QString& message) { setLastError(message); }

    void setLastError(std::optional<QString> text);

    async::Runtime& runtime_;
    Log& log_;
    std::unique_ptr<PreferencesModel> prefs_;

    std::optional<QString> lastError_;

    std::unique_ptr<async::WorkQueue> ownThumbQueue_;
    std::unique_ptr<async::WorkQueue> ownFrameQueue_;
    async::Executor* thumbQueue_ = nullptr;
    async::Executor* frameQueue_ = nullptr;

    std::unique_ptr<ImportLedger> ledger_;
    std::unique_ptr<GeoStore> geo_;
    std::unique_ptr<CameraLink> link_;
    std::unique_ptr<DestinationModel> destination_;
    std::unique_ptr<async::WorkQueue> ownBackupQueue_;
    std::unique_ptr<BackupModel> backup_;
    // After the link, geo store, ledger and settings it is built on, so it goes first.
    std::unique_ptr<CardModel> card_;
    std::unique_ptr<LiveViewModel> live_;
    std::unique_ptr<ShotsModel> shots_;
    std::unique_ptr<CameraSettingsModel> settings_;
    std::unique_ptr<ConnectionModel> connection_;
    std::unique_ptr<CaptureModel> capture_;
};

}  // namespace pexil
