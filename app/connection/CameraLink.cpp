#include "app/connection/CameraLink.h"

#include "camera/service/CameraAddress.h"
#include "kit/async/Sleep.h"
#include "kit/liveview/NikonLiveView.h"

#include <QStandardPaths>

namespace pexil {

namespace {

bool onNetwork(const camera::CameraDevice& device) {
    const auto address = camera::CameraAddress::parse(device.address());
    return address.ok() && address.value().kind == camera::CameraAddress::Kind::ptpip;
}

QString nameOr(const QString& name, const char* fallback) {
    return name.isEmpty() ? QString::fromUtf8(fallback) : name;
}

}  // namespace

CameraLink::CameraLink(async::Runtime& runtime, Log& log,
                       std::vector<std::unique_ptr<camera::DeviceSource>> sources,
                       std::unique_ptr<camera::UsbCameraWatcher> usb)
    : runtime_(runtime),
      log_(log),
      browser_(std::make_unique<camera::DeviceBrowser>()),
      usb_(std::move(usb)),
      scope_(runtime) {
    for (auto& source : sources) browser_->addSource(std::move(source));
    browser_->onDeviceAdded = [this](const DevicePtr& device) { deviceAdded(device); };
    browser_->onDeviceRemoved = [this](const DevicePtr& device) { deviceRemoved(device); };
    browser_->start();
    if (usb_) {
        usb_->onChange = [this, watch = lifetime_.watch()] {
            if (!watch.alive()) return;
            if (wantsSession_ && !device_) setPhase(waitingPhase());
        };
        usb_->start();
    }
}

CameraLink::~CameraLink() {
    // The device outlives us in the browser's sources for a moment: it must not call back.
    if (device_) device_->setListener({});
}

std::optional<QString> CameraLink::networkAddress() const {
    if (!device_ || !onNetwork(*device_)) return std::nullopt;
    return device_->address();
}

void CameraLink::setPhase(Phase phase) {
    if (phase == phase_) return;
    phase_ = std::move(phase);
    emit phaseChanged(phase_);
}

CameraLink::Phase CameraLink::waitingPhase() const {
    if (usb_) {
        if (const auto seen = usb_->camera()) return Phase::detected(seen->name, seen->since);
    }
    return Phase::searching();
}

std::optional<QDateTime> CameraLink::usbCameraSince() const {
    if (!usb_) return std::nullopt;
    const auto seen = usb_->camera();
    if (!seen) return std::nullopt;
    return seen->since;
}

void CameraLink::open() {
    wantsSession_ = true;
    if (device_) {
        // While a request is out, asking again would only start a second preparation.
        if (phase_.kind == Phase::Kind::reconnecting) {
            reconnectNow();
        } else if (!device_->hasOpenSession() && phase_.kind != Phase::Kind::opening) {
            begin(device_);
        }
        return;
    }
    setPhase(waitingPhase());
    const auto seen = usb_ ? usb_->camera() : std::nullopt;
    if (!seen)
        write(QString::fromUtf8("接続: カメラを探しています"));
    else
        write(QString::fromUtf8("接続: USB に ") + seen->name +
              QString::fromUtf8(" がいる。USB の準備を待つ"));
}

void CameraLink::begin(const DevicePtr& device) {
    log_.startSession();
    const QString name = nameOr(device->name(), "カメラ");
    write(QString::fromUtf8("接続: ") + name + QString::fromUtf8("（") + device->address() +
          QString::fromUtf8("）"));
    resetSession();
    setPhase(Phase::opening(name));
    // The link listens to the device it holds and sets none when it lets go of it or dies,
    // so the device never owns it; each notification names its device, and one from a device
    // we have let go of is ignored.
    camera::CameraDeviceListener* listener = this;
    device->setListener(std::shared_ptr<camera::CameraDeviceListener>(listener, [](auto*) {}));
    device->requestOpenSession();
}

void CameraLink::close() {
    wantsSession_ = false;
    stopReconnecting();
    if (device_ && device_->hasOpenSession()) {
        write(QString::fromUtf8("切断: セッションを閉じる"));
        resetSession();
        setPhase(Phase::closed());
        device_->requestCloseSession(
            [this, watch = lifetime_.watch()](std::optional<TransportError> error) {
                if (error && watch.alive())
                    write(QString::fromUtf8("  セッションを閉じる際のエラー: ") + error->message);
            });
        return;
    }
    setPhase(Phase::closed());
}

void CameraLink::scheduleReconnect(const QString& name) {
    const double delay = reconnectDelays[static_cast<std::size_t>(
        std::min<int>(reconnects_, static_cast<int>(reconnectDelays.size()) - 1))];
    ++reconnects_;
    reconnecting_ = true;
    if (reconnectTask_) reconnectTask_->cancel();
    const QDateTime next = runtime_.clock().now().addMSecs(std::llround(delay * 1000));
    write(QString::fromUtf8("再接続: %1 秒後（%2 回目）").arg(delay).arg(reconnects_));
    setPhase(Phase::reconnecting(nameOr(name, "カメラ"), next));
    reconnectTask_ = scope_.spawn(reconnectAfter(delay));
}

async::Task<void> CameraLink::reconnectAfter(double seconds) {
    co_await async::sleep(seconds);
    const bool cancelled = co_await async::isCancelled();
    if (cancelled || !wantsSession_ || !device_ || phase_.kind != Phase::Kind::reconnecting) co_return;
    begin(device_);
}

void CameraLink::reconnectNow() {
    if (phase_.kind != Phase::Kind::reconnecting || !device_ || !wantsSession_) return;
    if (reconnectTask_) reconnectTask_->cancel();
    reconnectTask_.reset();
    begin(device_);
}

void CameraLink::stopReconnecting() {
    if (reconnectTask_) reconnectTask_->cancel();
    reconnectTask_.reset();
    reconnecting_ = false;
    reconnects_ = 0;
    freshSince_.reset();
}

void CameraLink::resetSession() {
    camera_.reset();
    openedAt_.reset();
    clockDrift_.reset();
    classifyReady_ = false;
    pendingFiles_.clear();
    seenNames_.clear();
    queue_.clear();
    claimed_.clear();
    madeBy_.clear();
    openRelease_.reset();
    cardFiles_.clear();
    cardSettled_ = false;
    cardExpected_.reset();
    serviceCatalogComplete_ = false;
    modelName_.clear();
    if (settleTask_) settleTask_->cancel();
    settleTask_.reset();
    notifyCardChanged();
}

void CameraLink::deviceAdded(const DevicePtr& device) {
    if (device_ || !device) return;
    device_ = device;
    const QString name = nameOr(device->name(), "?");
    const auto seen = usb_ ? usb_->camera() : std::nullopt;
    if (!seen) {
        write(QString::fromUtf8("カメラを検出: ") + name);
    } else {
        const double since =
            static_cast<double>(seen->since.msecsTo(runtime_.clock().now())) / 1000.0;
        write(QString::fromUtf8("カメラを検出: %1（USB に現れてから %2 秒）")
                  .arg(name, QString::number(since, 'f', 1)));
    }
    if (wantsSession_) begin(device);
}

void CameraLink::deviceRemoved(const DevicePtr& device) {
    if (!device || device != device_) return;
    write(QString::fromUtf8("カメラが外れた"));
    stopReconnecting();
    device_->setListener({});
    device_.reset();
    const auto kind = phase_.kind;
    const bool wasLive = kind == Phase::Kind::opening || kind == Phase::Kind::preparing ||
                         kind == Phase::Kind::ready;
    resetSession();
    setPhase(wantsSession_ ? waitingPhase() : Phase::closed());
    if (wasLive) emit cameraLost(QString::fromUtf8("カメラが取り外されました"));
}

void CameraLink::sessionOpened(const DevicePtr& device, std::optional<TransportError> error) {
    // The service answers on the main thread, so this is the moment the session opened.
    const double t0 = runtime_.clock().monotonic().count();
    const QDateTime t0Wall = runtime_.clock().now();
    if (device != device_) return;
    const QString name = nameOr(device->name(), "カメラ");
    if (error) {
        write(QString::fromUtf8("セッションを開けない: ") + error->message);
        if (reconnecting_ && wantsSession_) {
            scheduleReconnect(lostName_);
            return;
        }
        setPhase(Phase::closed());
        emit cameraLost(QString::fromUtf8("カメラに接続できません: ") + error->message);
        return;
    }
    if (!wantsSession_) {
        // close() came while the session was still opening, when there was nothing to close
        // yet: close it now instead of preparing a session nobody wants.
        write(QString::fromUtf8("切断: セッションを閉じる"));
        device->requestCloseSession(
            [this, watch = lifetime_.watch()](std::optional<TransportError> e) {
                if (e && watch.alive())
                    write(QString::fromUtf8("  セッションを閉じる際のエラー: ") + e->message);
            });
        return;
    }
    openedAt_ = t0Wall;
    setPhase(Phase::preparing(name));
    auto cam = std::make_shared<PTPCamera>(runtime_, device, log_.writer());
    camera_ = cam;
    scope_.spawn(prepare(std::move(cam), t0));
}

async::Task<void> CameraLink::prepare(std::shared_ptr<PTPCamera> cam, double t0) {
    std::optional<DeviceInfo> info;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        if (attempt > 1) co_await async::sleep(0.5);
        info = co_await cam->readDeviceInfo();
        if (info) break;
    }
    if (camera_ != cam) co_return;
    if (info) {
        QString line = QString::fromUtf8("DeviceInfo: ") + info->manufacturer + u' ' + info->model +
                       u' ' + info->version + QString::fromUtf8(" S/N ") + info->serialNumber;
        if (cam->capabilities() && cam->capabilities()->isNikon1)
            line += QString::fromUtf8("（Nikon 1）");
        write(line);
        // A camera on the network is known by its address only until it says what it is; from
        // then on it has its model's name, as a camera on USB has.
        if (device_ && onNetwork(*device_) && !info->model.trimmed().isEmpty()) {
            modelName_ = info->model.trimmed();
            setPhase(Phase::preparing(modelName_));
        }
    } else {
        write(QString::fromUtf8("DeviceInfo を読めない。独自命令は送らない"));
    }
    const auto cameraDate = co_await cam->cameraClock();
    if (camera_ != cam) co_return;
    if (cameraDate)
        clockDrift_ = static_cast<double>(cameraDate->msecsTo(runtime_.clock().now())) / 1000.0;
    co_await countObjects(cam);
    const double took = runtime_.clock().monotonic().count() - t0;
    const QString drift = clockDrift_
                              ? QString::number(*clockDrift_, 'f', 1) + QString::fromUtf8(" 秒")
                              : QString::fromUtf8("不明");
    write(QString::fromUtf8("準備完了 %1 秒（時計のずれ %2）")
              .arg(QString::number(took, 'f', 1), drift));
    if (camera_ != cam) co_return;
    const bool nikon1 = cam->capabilities() && cam->capabilities()->isNikon1;
    if (info && cam->speaksNikon() && !nikon1) {
        co_await NikonLiveView::restoreIfInterrupted(*cam, log_.writer());
        // The repair takes several commands; the session may have ended meanwhile.
        if (camera_ != cam) co_return;
    }
    classifyReady_ = true;
    if (reconnecting_) write(QString::fromUtf8("再接続しました"));
    reconnecting_ = false;
    reconnects_ = 0;
    auto held = std::exchange(pendingFiles_, {});
    ingest(held, false);
    setPhase(Phase::ready(!modelName_.isEmpty() ? modelName_ : nameOr(device_ ? device_->name() : QString(), "カメラ")));
    emit cameraReady(cam);
}

void CameraLink::sessionClosed(const DevicePtr& device, std::optional<TransportError> error) {
    if (device != device_) return;
    write(QString::fromUtf8("セッションが閉じた"));
    const bool wasClosed = phase_.kind == Phase::Kind::closed;
    const QString name = phase_.name;
    const auto opened = openedAt_;
    resetSession();
    if (!wasClosed && error && wantsSession_ && onNetwork(*device)) {
        // Pictures taken while the camera is away are still this run's shots.
        if (opened && (!freshSince_ || *opened < *freshSince_)) freshSince_ = opened;
        reconnects_ = 0;
        lostName_ = name;
        scheduleReconnect(name);
    } else {
        setPhase(Phase::closed());
    }
    if (wasClosed) return;
    if (error)
        emit cameraLost(error->message);
    else
        emit cameraLost(std::nullopt);
}

void CameraLink::itemsAdded(const DevicePtr& device, const camera::CameraItems& items) {
    if (device != device_ || !openedAt_) return;
    cardFilesArrived(items.files);
    if (classifyReady_)
        ingest(items.files, items.added);
    else
        pendingFiles_.insert(pendingFiles_.end(), items.files.begin(), items.files.end());
}

void CameraLink::ptpEvent(const DevicePtr& device, const PTPEvent& event) {
    if (device == device_) emit cameraEvent(event);
}

void CameraLink::catalogComplete(const DevicePtr& device) {
    if (device != device_) return;
    write(QString::fromUtf8("一覧の完了通知"));
    serviceCatalogComplete_ = true;
    scheduleSettle();
}

async::Task<Result<std::vector<PTPEvent>, CameraError>> CameraLink::pollEvents() {
    using Polled = Result<std::vector<PTPEvent>, CameraError>;
    if (!device_)
        co_return Polled(
            CameraError(TransportError{QString::fromUtf8("カメラとのセッションが開いていません")}));
    auto device = device_;
    auto polled = co_await device->pollEvents();
    co_return polled;
}

}  // namespace pexil
