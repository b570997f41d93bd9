#include "app/connection/ConnectionModel.h"

#include "app/settings/CameraSettingsModel.h"

#include <algorithm>
#include <cmath>

namespace pexil {

namespace {
// A camera plugged in longer ago than this has been waiting for something else: its warm-up
// clock starts when we first see it.
constexpr qint64 recentAttachSeconds = 180;
}  // namespace

ConnectionModel::ConnectionModel(async::Runtime& runtime, Log& log, CameraLink& link,
                                 CameraSettingsModel& settings, QObject* parent)
    : QObject(parent),
      runtime_(runtime),
      log_(log),
      link_(link),
      settings_(settings),
      scope_(runtime) {
    connect(&link_, &CameraLink::phaseChanged, this, &ConnectionModel::phaseChanged);
    connect(&link_, &CameraLink::cameraReady, this, &ConnectionModel::ready);
    connect(&link_, &CameraLink::cameraLost, this, &ConnectionModel::lost);
    connect(&link_, &CameraLink::cameraEvent, this, &ConnectionModel::handle);
}

ConnectionModel::~ConnectionModel() { scope_.cancelAll(); }

// --- computed ---

QString ConnectionModel::modelName() const {
    if (connected()) return state_.text.value_or(QString());
    return QString::fromUtf8("未接続");
}

QString ConnectionModel::cameraSerial() const {
    if (deviceInfo_ && !deviceInfo_->serialNumber.isEmpty()) return deviceInfo_->serialNumber;
    if (const auto& camera = link_.camera(); camera && camera->info() &&
                                             !camera->info()->serialNumber.isEmpty())
        return camera->info()->serialNumber;
    return modelName();
}

std::optional<QString> ConnectionModel::clockOffsetDescription() const {
    return describeClockOffset(clockOffset_);
}

std::optional<QString> ConnectionModel::describeClockOffset(std::optional<double> offset) {
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

std::optional<QDateTime> ConnectionModel::recentAttach() const {
    return recentSince(link_.usbCameraSince(), runtime_.clock().now());
}

std::optional<QDateTime> ConnectionModel::recentSince(std::optional<QDateTime> since,
                                                      const QDateTime& now) {
    if (!since || since->secsTo(now) >= recentAttachSeconds) return std::nullopt;
    return since;
}

// --- the link's course ---

void ConnectionModel::connectCamera() {
    emit connecting();
    link_.open();
}

void ConnectionModel::phaseChanged(const CameraLink::Phase& phase) {
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
            if (connected()) setState(ConnectionState::disconnected());
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

void ConnectionModel::beginWarmup(Warmup warmup, std::optional<QDateTime> since) {
    const bool changed = warmup_ != warmup || !warmupSince_;
    warmup_ = std::move(warmup);
    if (!warmupSince_) warmupSince_ = since ? *since : runtime_.clock().now();
    if (changed) emit warmupChanged();
}

void ConnectionModel::clearWarmup() {
    if (!warmup_ && !warmupSince_) return;
    warmup_.reset();
    warmupSince_.reset();
    emit warmupChanged();
}

void ConnectionModel::ready(const CameraPtr& camera) {
    deviceInfo_ = camera->info();
    emit deviceInfoChanged();
    checkEventUsable_ = !camera->capabilities() || !camera->capabilities()->isNikon1;
    emit cameraReady(camera);
    setClockOffset(link_.clockDrift());
    auto start = [](ConnectionModel* self, CameraWeak weak) -> async::Task<void> {
        co_await self->settings_.refreshAll();
        if (self->current(weak)) self->startPolling();
    };
    scope_.spawn(start(this, camera));
}

void ConnectionModel::lost(const std::optional<QString>& reason) {
    emit sessionLost(reason);
    stopPolling();
    forgetCamera(false);
    if (!reason) return;
    using Kind = CameraLink::Phase::Kind;
    switch (link_.phase().kind) {
        case Kind::detected: break;
        case Kind::searching:
        case Kind::reconnecting: setState(ConnectionState::waiting(*reason)); break;
        default: setState(ConnectionState::failed(*reason)); break;
    }
}

void ConnectionModel::forgetCamera(bool closedByUser) {
    emit cameraCleared(closedByUser);
    if (deviceInfo_) {
        deviceInfo_.reset();
        emit deviceInfoChanged();
    }
    setClockOffset(std::nullopt);
}

void ConnectionModel::disconnectCamera() {
    auto run = [](ConnectionModel* self) -> async::Task<void> {
        if (self->beforeClose) co_await self->beforeClose();
        self->stopPolling();
        self->link_.close();
        self->forgetCamera(true);
        self->setState(ConnectionState::disconnected());
    };
    scope_.spawn(run(this));
}

void ConnectionModel::syncClock() {
    const CameraPtr camera = link_.camera();
    if (!connected() || !camera) return;
    auto run = [](ConnectionModel* self, CameraPtr camera) -> async::Task<void> {
        CameraWeak weak = camera;
        const auto done = co_await camera->setCameraClock(self->runtime_.clock().now());
        camera.reset();
        if (!self->current(weak)) co_return;
        if (done) {
            self->setClockOffset(0.0);
            self->log_.write(QString::fromUtf8("カメラ時計を PC に合わせました"));
        } else {
            emit self->failed(describe(done.error()));
        }
    };
    scope_.spawn(run(this, camera));
}

void ConnectionModel::releaseCameraControl() {
    CameraPtr camera = link_.camera();
    if (!connected() || !camera) return;
    auto run = [](ConnectionModel* self, CameraPtr camera) -> async::Task<void> {
        const CameraWeak weak = camera;
        std::vector<std::uint32_t> params{0};
        const auto done = co_await camera->send(PTP::Op::nikonChangeCameraMode, std::move(params));
        camera.reset();
        if (!self->current(weak)) co_return;
        if (done)
            self->log_.write(QString::fromUtf8("制御権を本体へ返却"));
        else
            emit self->failed(describe(done.error()));
    };
    scope_.spawn(run(this, std::move(camera)));
}

bool ConnectionModel::current(const CameraWeak& camera) const {
    const CameraPtr alive = camera.lock();
    return alive && alive == link_.camera();
}

// --- setters that notify ---

void ConnectionModel::setState(ConnectionState state) {
    if (state_ == state) return;
    state_ = std::move(state);
    emit stateChanged();
}

void ConnectionModel::setClockOffset(std::optional<double> value) {
    if (clockOffset_ == value) return;
    clockOffset_ = value;
    emit clockOffsetChanged();
}

}  // namespace pexil
