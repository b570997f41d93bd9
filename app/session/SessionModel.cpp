#include "app/session/SessionModel.h"

#include "app/backup/BackupModel.h"
#include "app/base/PreferencesModel.h"
#include "app/capture/CaptureModel.h"
#include "app/card/CardModel.h"
#include "app/card/ImportLedger.h"
#include "app/connection/ConnectionModel.h"
#include "app/geo/GeoStore.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/DestinationModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/WorkQueue.h"

#include <QFileInfo>

namespace pexil {

SessionModel::SessionModel(async::Runtime& runtime, Log& log, Environment environment,
                           QObject* parent)
    : QObject(parent), runtime_(runtime), log_(log) {
    prefs_ = std::make_unique<PreferencesModel>(std::move(environment.settings));
    QSettings& store = prefs_->store();
    const QString support = environment.supportFolder.isEmpty() ? ImportLedger::defaultFolder()
                                                                 : environment.supportFolder;
    ledger_ = std::make_unique<ImportLedger>(support, log_.writer());
    GeoStore::Options geoOptions;
    geoOptions.folder = support;
    geoOptions.receiver.advertise = environment.advertiseGeo;
    // The same port as last time: a phone that was told it keeps it.
    const QString portKey = QStringLiteral("geoReceiverPort");
    geoOptions.receiver.port = static_cast<quint16>(store.value(portKey, 0).toUInt());
    geoOptions.receiver.anyPortWhenTaken = true;
    geo_ = std::make_unique<GeoStore>(runtime_.clock(), log_.writer(), geoOptions);
    if (const quint16 port = geo_->receiver().port(); port != 0 && port != geoOptions.receiver.port)
        store.setValue(portKey, port);
    link_ = std::make_unique<CameraLink>(runtime_, log_, std::move(environment.sources),
                                         std::move(environment.usb));
    destination_ = std::make_unique<DestinationModel>(runtime_.clock(), *prefs_, *link_, *ledger_);
    async::Executor* backupQueue = environment.backupQueue;
    if (!backupQueue) {
        ownBackupQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.backup"));
        backupQueue = ownBackupQueue_.get();
    }
    backup_ = std::make_unique<BackupModel>(runtime_, *backupQueue, log_.writer());
    backup_->configure(prefs_->backupFolder(), prefs_->baseDestination());

    thumbQueue_ = environment.thumbQueue;
    if (!thumbQueue_) {
        ownThumbQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.thumb"), 2);
        thumbQueue_ = ownThumbQueue_.get();
    }
    shots_ = std::make_unique<ShotsModel>(runtime_, *thumbQueue_);
    shots_->setFollowNew(prefs_->showNewShots());
    settings_ = std::make_unique<CameraSettingsModel>(runtime_, log_);
    connect(settings_.get(), &CameraSettingsModel::writeFailed, this, &SessionModel::alert);
    connection_ = std::make_unique<ConnectionModel>(runtime_, log_, *link_, *settings_);
    destination_->cameraModel = [this] {
        const auto& info = connection_->deviceInfo();
        return info ? info->model : QString();
    };
    connect(connection_.get(), &ConnectionModel::failed, this, &SessionModel::alert);
    connect(connection_.get(), &ConnectionModel::connecting, this, [this] {
        setLastError(std::nullopt);
        destination_->clearFailures();
        destination_->apply();
    });
    connect(connection_.get(), &ConnectionModel::cameraReady, this, &SessionModel::cameraReady);
    connect(connection_.get(), &ConnectionModel::cameraCleared, this, &SessionModel::cameraCleared);
    frameQueue_ = environment.frameQueue;
    if (!frameQueue_) {
        ownFrameQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.liveframe"));
        frameQueue_ = ownFrameQueue_.get();
    }
    live_ = std::make_unique<LiveViewModel>(runtime_, log_, *frameQueue_,
                                            environment.liveViewSettingsFile);
    live_->shouldPauseFrames = [this] { return settings_->writesPending() > 0; };
    connect(live_.get(), &LiveViewModel::failed, this, &SessionModel::alert);
    connection_->beforeClose = [this] { return live_->stopIfActive(QString::fromUtf8("切断")); };
    live_->setAids(LiveAids::read(store));
    CaptureModel::Session session;
    session.announcements = [this] { return connection_->announcements(); };
    session.announcesByPolling = [this](const PTPCamera& camera) {
        return connection_->announcesByPolling(camera);
    };
    session.poll = [this](std::shared_ptr<PTPCamera> camera) {
        return connection_->pollOnce(std::move(camera));
    };
    capture_ = std::make_unique<CaptureModel>(runtime_, *link_, *settings_, *live_, *prefs_,
                                              std::move(session));
    connection_->shutterBusy = [this] { return capture_->busy(); };
    connect(capture_.get(), &CaptureModel::failed, this, &SessionModel::alert);
    // One choice of histogram and clipping marks, for the live picture and the shot alike.
    shots_->setAids(live_->aids());
    connect(live_.get(), &LiveViewModel::aidsChanged, this, [this] {
        live_->aids().write(prefs_->store());
        shots_->setAids(live_->aids());
    });

    link_->deleteAfterDownload = prefs_->deleteAfterDownload();
    connect(prefs_.get(), &PreferencesModel::changed, this, [this] {
        link_->deleteAfterDownload = prefs_->deleteAfterDownload();
        shots_->setFollowNew(prefs_->showNewShots());
        destination_->apply();
        backup_->configure(prefs_->backupFolder(), prefs_->baseDestination());
    });
    CardModel::Options cardOptions;
    cardOptions.decodeQueue = thumbQueue_;
    card_ =
        std::make_unique<CardModel>(runtime_, log_, *link_, *geo_, *ledger_, store, cardOptions);
    card_->destination = [this](const QDateTime& date) { return destination_->folder(date); };
    card_->serial = [this] { return connection_->cameraSerial(); };
    connect(geo_.get(), &GeoStore::recordChanged, card_.get(), &CardModel::geoChanged);
    // Imported pictures are copied once their positions are written, as they will stay.
    connect(card_.get(), &CardModel::picturesSaved, this, [this](const QStringList& paths) {
        for (const QString& path : paths) backup_->copy(path);
    });
    connect(card_.get(), &CardModel::markRequested, shots_.get(), &ShotsModel::markFile);
    destination_->apply();

    const CameraLink* link = link_.get();
    connect(link, &CameraLink::fileSaved, this, &SessionModel::fileSaved);
    connect(link, &CameraLink::downloadFailed, this, &SessionModel::downloadFailed);
    connect(link, &CameraLink::cardChanged, card_.get(), &CardModel::refresh);
    connect(link, &CameraLink::shotProgress, capture_.get(), &CaptureModel::pictureProgress);
    link_->alreadySaved = [this](const camera::CameraFile& file) {
        return ledger_->contains(ImportLedger::key(connection_->cameraSerial(), file.name(),
                                                   static_cast<qint64>(file.fileSize()),
                                                   file.creationDate()));
    };
}

SessionModel::~SessionModel() {
    // Tasks first: none may resume into the members destroyed below.
    capture_.reset();
    connection_.reset();
    live_.reset();
}

void SessionModel::cameraReady(const std::shared_ptr<PTPCamera>& camera) {
    const auto& info = connection_->deviceInfo();
    live_->attach(camera, info ? info->serialNumber : QStringLiteral("?"));
    settings_->attach(camera);
    capture_->attach(camera);
}

void SessionModel::cameraCleared(bool closedByUser) {
    if (!closedByUser) live_->forget();
    capture_->clear();
    live_->clear();
    settings_->clear();
    if (closedByUser) card_->setActive(false);
}

void SessionModel::toggleLiveView() {
    if (connection_->connected()) live_->toggle();
}

void SessionModel::fileSaved(const QString& path, const CameraLink::CameraFilePtr& file) {
    capture_->pictureEnded();
    if (file) destination_->pictureSaved(file->name());
    shots_->add(path, runtime_.clock().now(), settings_->colorTemperature());

    const QString name =
        file && !file->name().isEmpty() ? file->name() : QFileInfo(path).fileName();
    const qint64 size = file ? static_cast<qint64>(file->fileSize()) : QFileInfo(path).size();
    ledger_->record(connection_->cameraSerial(), name, size,
                    file ? file->creationDate() : std::nullopt);
    emit shotSaved(path);
    capture_->pictureSaved(path, file.get());
    // After the shot is shown: the second copy never holds back the first.
    backup_->copy(path);
}

void SessionModel::downloadFailed(const QString& name, const QString& reason, bool fromCamera) {
    capture_->pictureEnded();
    destination_->transferFailed(name, reason, fromCamera);
    setLastError(QString::fromUtf8("「") + name +
                 QString::fromUtf8("」を保存できませんでした。\n") + reason +
                 QString::fromUtf8("\n\nカメラのカードには残っています。"));
    emit transferFailed(name, reason);
}

void SessionModel::clearLastError() { setLastError(std::nullopt); }

void SessionModel::reportError(const QString& text) {
    log_.write(text);
    setLastError(text);
}

// --- setters that notify ---

void SessionModel::setLastError(std::optional<QString> text) {
    if (lastError_ == text) return;
    lastError_ = std::move(text);
    emit lastErrorChanged();
}

}  // namespace pexil
