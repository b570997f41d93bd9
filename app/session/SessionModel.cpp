#include "app/session/SessionModel.h"

#include "app/capture/CaptureModel.h"
#include "app/card/CardModel.h"
#include "app/card/ImportLedger.h"
#include "app/geo/GeoStore.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/PreferencesModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/WorkQueue.h"

#include <QFileInfo>

#include <cmath>

namespace pexil {

namespace {
// A camera plugged in longer ago than this has been waiting for something else: its warm-up
// clock starts when we first see it.
constexpr qint64 recentAttachSeconds = 180;
}  // namespace

SessionModel::SessionModel(async::Runtime& runtime, Log& log, Environment environment,
                           QObject* parent)
    : QObject(parent), runtime_(runtime), log_(log), scope_(runtime) {
    prefs_ = std::make_unique<PreferencesModel>(std::move(environment.settings));
    QSettings& store = prefs_->store();
    const QString support = environment.supportFolder.isEmpty() ? ImportLedger::defaultFolder()
                                                                 : environment.supportFolder;
    ledger_ = std::make_unique<ImportLedger>(support, log_.writer());
    ledger_->onProblemChanged = [this] { emit ledgerProblemChanged(); };
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

    thumbQueue_ = environment.thumbQueue;
    if (!thumbQueue_) {
        ownThumbQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.thumb"), 2);
        thumbQueue_ = ownThumbQueue_.get();
    }
    shots_ = std::make_unique<ShotsModel>(runtime_, *thumbQueue_);
    shots_->setFollowNew(prefs_->showNewShots());
    settings_ = std::make_unique<CameraSettingsModel>(runtime_, log_);
    connect(settings_.get(), &CameraSettingsModel::writeFailed, this,
            [this](const QString& message) { setLastError(message); });
    frameQueue_ = environment.frameQueue;
    if (!frameQueue_) {
        ownFrameQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.liveframe"));
        frameQueue_ = ownFrameQueue_.get();
    }
    live_ = std::make_unique<LiveViewModel>(runtime_, log_, *frameQueue_,
                                            environment.liveViewSettingsFile);
    live_->shouldPauseFrames = [this] { return settings_->writesPending() > 0; };
    connect(live_.get(), &LiveViewModel::failed, this,
            [this](const QString& message) { setLastError(message); });
    live_->setAids(LiveAids::read(store));
    CaptureModel::Session session;
    session.announcements = [this] { return shotNotifications_; };
    session.announcesByPolling = [this](const PTPCamera& camera) {
        return checkEventWanted(camera);
    };
    session.poll = [this](CameraPtr camera) { return pollOnce(std::move(camera)); };
    capture_ = std::make_unique<CaptureModel>(runtime_, *link_, *settings_, *live_, *prefs_,
                                              std::move(session));
    connect(capture_.get(), &CaptureModel::failed, this,
            [this](const QString& message) { setLastError(message); });
    connect(live_.get(), &LiveViewModel::aidsChanged, this,
            [this] { live_->aids().write(prefs_->store()); });

    link_->deleteAfterDownload = prefs_->deleteAfterDownload();
    connect(prefs_.get(), &PreferencesModel::changed, this, [this] {
        link_->deleteAfterDownload = prefs_->deleteAfterDownload();
        shots_->setFollowNew(prefs_->showNewShots());
        applyDestination();
    });
    CardModel::Options cardOptions;
    cardOptions.decodeQueue = thumbQueue_;
    card_ =
        std::make_unique<CardModel>(runtime_, log_, *link_, *geo_, *ledger_, store, cardOptions);
    card_->destination = [this](const QDateTime& date) { return destination(date); };
    card_->serial = [this] { return cameraSerial(); };
    connect(geo_.get(), &GeoStore::recordChanged, card_.get(), &CardModel::geoChanged);
    applyDestination();

    const CameraLink* link = link_.get();
    connect(link, &CameraLink::phaseChanged, this, &SessionModel::phaseChanged);
    connect(link, &CameraLink::cameraReady, this, &SessionModel::cameraReady);
    connect(link, &CameraLink::cameraLost, this, &SessionModel::cameraLost);
    connect(link, &CameraLink::cameraEvent, this, &SessionModel::handle);
    connect(link, &CameraLink::fileSaved, this, &SessionModel::fileSaved);
    connect(link, &CameraLink::downloadFailed, this, &SessionModel::downloadFailed);
    connect(link, &CameraLink::cardChanged, card_.get(), &CardModel::refresh);
    connect(link, &CameraLink::shotProgress, capture_.get(), &CaptureModel::pictureProgress);
    link_->alreadySaved = [this](const camera::CameraFile& file) {
        return ledger_->contains(ImportLedger::key(cameraSerial(), file.name(),
                                                   static_cast<qint64>(file.fileSize()),
                                                   file.creationDate()));
    };
}

const std::optional<QString>& SessionModel::ledgerProblem() const {
    return ledger_->problem();
}

SessionModel::~SessionModel() {
    // Tasks first: none may resume into the members destroyed below.
    scope_.cancelAll();
    live_.reset();
}

// --- computed ---

QString SessionModel::modelName() const {
    if (state_.is(ConnectionState::Kind::connected)) return state_.text.value_or(QString());
    return QString::fromUtf8("未接続");
}

QString SessionModel::cameraSerial() const {
    if (deviceInfo_ && !deviceInfo_->serialNumber.isEmpty()) return deviceInfo_->serialNumber;
    if (const auto& camera = link_->camera(); camera && camera->info() &&
                                              !camera->info()->serialNumber.isEmpty())
        return camera->info()->serialNumber;
    return modelName();
}

std::optional<QString> SessionModel::clockOffsetDescription() const {
    return describeClockOffset(clockOffset_);
}

std::optional<QString> SessionModel::describeClockOffset(std::optional<double> offset) {
    if (!offset || !std::isfinite(*offset)) return std::nullopt;
    // Beyond what a day-long drift could mean, the figure is still shown, never overflowed.
    const double rounded = std::round(std::clamp(*offset, -1e12, 1e12));
    const auto c = static_cast<qint64>(rounded);
    if (c == 0) return QString::fromUtf8("一致");
    const qint64 s = c < 0 ? -c : c;
    const QString direction = QString::fromUtf8(c > 0 ? "遅れ" : "進み");
    if (s < 60) return QString::number(s) + QString::fromUtf8("秒") + direction;
    QString span;
    if (s < 3600)
        span = QString::number(s / 60 % 60) + QString::fromUtf8("分");
    else
        span = QString::number(s / 3600) + QString::fromUtf8("時間") +
               QString::number(s / 60 % 60) + QString::fromUtf8("分");
    return span + direction;
}

std::optional<QDateTime> SessionModel::recentAttach() const {
    return recentSince(link_->usbCameraSince(), runtime_.clock().now());
}

std::optional<QDateTime> SessionModel::recentSince(std::optional<QDateTime> since,
                                                   const QDateTime& now) {
    if (!since || since->secsTo(now) >= recentAttachSeconds) return std::nullopt;
    return since;
}

// --- destination ---

QString SessionModel::destination(const QDateTime& date) const {
    return prefs_->destination(date);
}

void SessionModel::applyDestination() {
    link_->destination = destination(runtime_.clock().now());
    setDestinationProblem(checkDestination());
}

std::optional<QString> SessionModel::checkDestination() const {
    return Preferences::checkDestination(destination(runtime_.clock().now()));
}

// --- connection ---

void SessionModel::connectCamera() {
    setLastError(std::nullopt);
    if (!failedTransfers_.isEmpty()) {
        failedTransfers_.clear();
        emit failedTransfersChanged();
    }
    applyDestination();
    link_->open();
}

void SessionModel::phaseChanged(const CameraLink::Phase& phase) {
    emit linkPhase(phase);
    using Kind = CameraLink::Phase::Kind;
    switch (phase.kind) {
        case Kind::detected:
        case Kind::opening:
            setState(ConnectionState::connecting());
            beginWarmup({Warmup::Kind::system, phase.name}, recentAttach());
            break;
        case Kind::preparing:
            setState(ConnectionState::connecting());
            beginWarmup({Warmup::Kind::card, phase.name}, recentAttach());
            break;
        case Kind::ready:
            setState(ConnectionState::connected(phase.name));
            clearWarmup();
            break;
        case Kind::closed:
            if (state_.is(ConnectionState::Kind::connected))
                setState(ConnectionState::disconnected());
            clearWarmup();
            break;
        case Kind::searching:
        case Kind::reconnecting:
            if (!state_.is(ConnectionState::Kind::waiting)) setState(ConnectionState::waiting());
            clearWarmup();
            break;
    }
    const auto next = phase.kind == Kind::reconnecting ? std::optional<QDateTime>(phase.since) : std::nullopt;
    if (next != reconnectAt_) {
        reconnectAt_ = next;
        emit reconnectAtChanged();
    }
}

void SessionModel::beginWarmup(Warmup warmup, std::optional<QDateTime> since) {
    const bool changed = warmup_ != warmup || !warmupSince_;
    warmup_ = std::move(warmup);
    if (!warmupSince_) warmupSince_ = since ? *since : runtime_.clock().now();
    if (changed) emit warmupChanged();
}

void SessionModel::clearWarmup() {
    if (!warmup_ && !warmupSince_) return;
    warmup_.reset();
    warmupSince_.reset();
    emit warmupChanged();
}

void SessionModel::cameraReady(const CameraPtr& camera) {
    deviceInfo_ = camera->info();
    emit deviceInfoChanged();
    checkEventUsable_ = !camera->capabilities() || !camera->capabilities()->isNikon1;
    live_->attach(camera, deviceInfo_ ? deviceInfo_->serialNumber : QStringLiteral("?"));
    settings_->attach(camera);
    capture_->attach(camera);
    setClockOffset(link_->clockDrift());
    CameraWeak weak = camera;
    auto start = [](SessionModel* self, CameraWeak weak) -> async::Task<void> {
        co_await self->settings_->refreshAll();
        if (self->current(weak)) self->startEventLoop();
    };
    scope_.spawn(start(this, weak));
}

void SessionModel::cameraLost(const std::optional<QString>& reason) {
    emit sessionLost(reason);
    live_->forget();
    if (eventLoop_) eventLoop_->cancel();
    eventLoop_.reset();
    clearCameraState();
    if (!reason) return;
    using Kind = CameraLink::Phase::Kind;
    switch (link_->phase().kind) {
        case Kind::detected: break;
        case Kind::searching:
        case Kind::reconnecting: setState(ConnectionState::waiting(*reason)); break;
        default: setState(ConnectionState::failed(*reason)); break;
    }
}

void SessionModel::clearCameraState() {
    capture_->clear();
    live_->clear();
    settings_->clear();
    if (deviceInfo_) {
        deviceInfo_.reset();
        emit deviceInfoChanged();
    }
    setClockOffset(std::nullopt);
}

void SessionModel::toggleLiveView() {
    if (state_.is(ConnectionState::Kind::connected)) live_->toggle();
}

void SessionModel::disconnectCamera() {
    auto run = [](SessionModel* self) -> async::Task<void> {
        co_await self->live_->stopIfActive(QString::fromUtf8("切断"));
        if (self->eventLoop_) self->eventLoop_->cancel();
        self->eventLoop_.reset();
        self->link_->close();
        self->clearCameraState();
        self->card_->setActive(false);
        self->setState(ConnectionState::disconnected());
    };
    scope_.spawn(run(this));
}

void SessionModel::syncClock() {
    const CameraPtr camera = link_->camera();
    if (!state_.is(ConnectionState::Kind::connected) || !camera) return;
    auto run = [](SessionModel* self, CameraPtr camera) -> async::Task<void> {
        CameraWeak weak = camera;
        const auto done = co_await camera->setCameraClock(self->runtime_.clock().now());
        camera.reset();
        if (!self->current(weak)) co_return;
        if (done) {
            self->setClockOffset(0.0);
            self->write(QString::fromUtf8("カメラ時計を PC に合わせました"));
        } else {
            self->setLastError(describe(done.error()));
        }
    };
    scope_.spawn(run(this, camera));
}

void SessionModel::releaseCameraControl() {
    CameraPtr camera = link_->camera();
    if (!state_.is(ConnectionState::Kind::connected) || !camera) return;
    auto run = [](SessionModel* self, CameraPtr camera) -> async::Task<void> {
        const CameraWeak weak = camera;
        std::vector<std::uint32_t> params{0};
        const auto done = co_await camera->send(PTP::Op::nikonChangeCameraMode, std::move(params));
        camera.reset();
        if (!self->current(weak)) co_return;
        if (done)
            self->write(QString::fromUtf8("制御権を本体へ返却"));
        else
            self->setLastError(describe(done.error()));
    };
    scope_.spawn(run(this, std::move(camera)));
}

void SessionModel::fileSaved(const QString& path, const CameraLink::CameraFilePtr& file) {
    capture_->pictureEnded();
    shots_->add(path, runtime_.clock().now());

    const QString name =
        file && !file->name().isEmpty() ? file->name() : QFileInfo(path).fileName();
    const qint64 size = file ? static_cast<qint64>(file->fileSize()) : QFileInfo(path).size();
    ledger_->record(cameraSerial(), name, size, file ? file->creationDate() : std::nullopt);
    emit shotSaved(path);
    capture_->pictureSaved(path, file.get());
}

void SessionModel::downloadFailed(const QString& name, const QString& reason, bool fromCamera) {
    capture_->pictureEnded();
    failedTransfers_ << name;
    emit failedTransfersChanged();
    // A read the camera broke off says nothing about the folder; the settings window would
    // otherwise send the photographer to choose another destination for a cable fault.
    if (!fromCamera) setDestinationProblem(reason);
    setLastError(QString::fromUtf8("「") + name +
                 QString::fromUtf8("」を保存できませんでした。\n") + reason +
                 QString::fromUtf8("\n\nカメラのカードには残っています。"));
    emit transferFailed(name, reason);
}

bool SessionModel::current(const CameraWeak& camera) const {
    const CameraPtr alive = camera.lock();
    return alive && alive == link_->camera();
}

void SessionModel::clearLastError() { setLastError(std::nullopt); }

void SessionModel::reportError(const QString& text) {
    write(text);
    setLastError(text);
}

// --- setters that notify ---

void SessionModel::setState(ConnectionState state) {
    if (state_ == state) return;
    state_ = std::move(state);
    emit stateChanged();
}

void SessionModel::setLastError(std::optional<QString> text) {
    if (lastError_ == text) return;
    lastError_ = std::move(text);
    emit lastErrorChanged();
}

void SessionModel::setClockOffset(std::optional<double> value) {
    if (clockOffset_ == value) return;
    clockOffset_ = value;
    emit clockOffsetChanged();
}

void SessionModel::setDestinationProblem(std::optional<QString> problem) {
    if (destinationProblem_ == problem) return;
    destinationProblem_ = std::move(problem);
    emit destinationProblemChanged();
}

}  // namespace pexil
