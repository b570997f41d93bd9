// The session model around a picture: the shutter and autofocus, files saved or not saved.
#include "app/session/SessionModel.h"

#include "app/card/ImportLedger.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/PreferencesModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/NextSignal.h"
#include "kit/async/Sleep.h"
#include "kit/async/WorkQueue.h"

#include <QFileInfo>

#include <algorithm>

namespace pexil {

namespace {
// How long an autofocus result stays on screen.
constexpr double afResultSeconds = 2.0;
// How often a body that tells of new pictures only through CheckEvent is asked while the
// shot is being stored.
constexpr double storingPollSeconds = 0.35;

}  // namespace

double SessionModel::captureWaitSeconds() const {
    const Descriptors& props = settings_->props();
    const auto it = props.find(PTP::Prop::nikonExposureTime);
    if (it == props.end()) return 17;
    const auto v = static_cast<std::uint32_t>(it->second.current);
    // The three highest codes (bulb, time, flash sync) carry no fraction.
    if (v >= 0xFFFFFFFDu) return 135;
    const std::uint32_t numerator = v >> 16;
    const std::uint32_t denominator = v & 0xFFFFu;
    if (denominator == 0) return 17;
    return static_cast<double>(numerator) / denominator * 2 + 15;
}

void SessionModel::shoot() {
    if (!state_.is(ConnectionState::Kind::connected) || busy_ || !link_->camera()) return;
    setBusy(true);  // before any waiting, so a second press is ignored
    scope_.spawn(capture(prefs_->autofocusBeforeShot()));
}

async::Task<bool> SessionModel::shootAndWait(bool autofocusFirst) {
    if (!state_.is(ConnectionState::Kind::connected) || busy_ || !link_->camera()) co_return false;
    const int before = releasedSaved_;
    setBusy(true);
    co_await capture(autofocusFirst);
    if (!lastReleased_) co_return false;
    auto saved = [this, before] { return releasedSaved_ > before; };
    const bool in = co_await async::until(saved, this, &SessionModel::releasedShotSaved,
                                          async::Seconds(captureWaitSeconds()));
    co_return in;
}

async::Task<void> SessionModel::capture(bool autofocusFirst) {
    lastReleased_ = false;
    CameraPtr camera = link_->camera();
    const CameraWeak weak = camera;
    if (NikonLiveView* view = live_->view(); view && view->state() == NikonLiveView::State::on) {
        auto storing = std::make_shared<bool>(false);
        std::function<int()> count = [this] { return shotNotifications_; };
        std::function<async::Task<bool>()> body = [this, camera, autofocusFirst, storing, weak] {
            return releaseThenPoll(camera, autofocusFirst, storing, weak);
        };
        const double wait = captureWaitSeconds();
        const auto message = co_await view->whileSuspended(std::move(count), wait, std::move(body));
        *storing = false;
        if (message) setLastError(*message);
    } else {
        co_await release(std::move(camera), autofocusFirst);
    }
    co_await settings_->refreshCounters();
    setBusy(false);
}

async::Task<bool> SessionModel::releaseThenPoll(CameraPtr camera, bool autofocusFirst,
                                                std::shared_ptr<bool> storing, CameraWeak weak) {
    const bool released = co_await release(std::move(camera), autofocusFirst);
    if (released) {
        // The poll loop rests while busy; a body that queues its events for CheckEvent would
        // otherwise keep live view down for the whole wait.
        *storing = true;
        scope_.spawn(pollWhileStoring(weak, storing));
    }
    co_return released;
}

async::Task<bool> SessionModel::release(CameraPtr camera, bool autofocusFirst) {
    const CameraWeak weak = camera;
    if (autofocusFirst) {
        const auto focused = co_await camera->autofocus();
        (void)focused;  // a shot out of focus is still a shot
    }
    // Before the command goes out: a fast body announces its picture before the answer.
    link_->expectRelease();
    const auto released = co_await camera->releaseShutter();
    camera.reset();
    lastReleased_ = static_cast<bool>(released);
    if (released) {
        // The picture is coming: shown as such until it is saved, fails, or never comes.
        if (!incoming_) setIncoming(IncomingShot{});
        scope_.spawn(giveUpIncoming(captureWaitSeconds()));
        co_return true;
    }
    if (current(weak))
        setLastError(QString::fromUtf8("撮影できませんでした: ") + describe(released.error()));
    co_return false;
}

async::Task<void> SessionModel::pollWhileStoring(CameraWeak weak, std::shared_ptr<bool> storing) {
    for (;;) {
        co_await async::sleep(storingPollSeconds);
        const bool cancelled = co_await async::isCancelled();
        if (cancelled || !*storing) co_return;
        CameraPtr camera = weak.lock();
        if (!camera || !current(weak) || !checkEventWanted(*camera)) co_return;
        if (link_->downloading() > 0) continue;
        co_await pollOnce(std::move(camera));
    }
}

void SessionModel::autofocus() {
    if (!state_.is(ConnectionState::Kind::connected)) return;
    if (afState_.kind == AFState::Kind::running) return;
    CameraPtr camera = link_->camera();
    if (!camera) return;
    setAFState(AFState::running());
    scope_.spawn(runAutofocus(std::move(camera)));
}

async::Task<void> SessionModel::runAutofocus(CameraPtr camera) {
    const std::uint64_t generation = ++afGeneration_;
    const CameraWeak weak = camera;
    const auto focused = co_await camera->autofocus();
    camera.reset();
    if (!current(weak)) co_return;
    if (!focused)
        setAFState(AFState::failed(QString::fromUtf8("AF を実行できませんでした")));
    else if (*focused)
        setAFState(AFState::succeeded());
    else
        setAFState(AFState::failed(QString::fromUtf8("ピントが合いませんでした")));
    co_await settings_->refreshCounters();
    co_await async::sleep(afResultSeconds);
    // A newer request owns the display now, whether it is still running or already answered.
    if (generation == afGeneration_ && afState_.kind != AFState::Kind::running)
        setAFState(AFState::idle());
}

void SessionModel::setIncoming(std::optional<IncomingShot> incoming) {
    if (incoming == incoming_) return;
    incoming_ = std::move(incoming);
    emit incomingChanged();
}

async::Task<void> SessionModel::giveUpIncoming(double seconds) {
    co_await async::sleep(seconds);
    const bool cancelled = co_await async::isCancelled();
    // Only the wait for an announcement: a picture on its way is the transfer's to end.
    if (!cancelled && incoming_ && incoming_->name.isEmpty()) setIncoming(std::nullopt);
}

void SessionModel::fileSaved(const QString& path, const CameraLink::CameraFilePtr& file) {
    setIncoming(std::nullopt);
    shots_->add(path, runtime_.clock().now());

    const QString name = file && !file->name().isEmpty() ? file->name() : QFileInfo(path).fileName();
    const qint64 size = file ? static_cast<qint64>(file->fileSize()) : QFileInfo(path).size();
    ledger_->record(cameraSerial(), name, size, file ? file->creationDate() : std::nullopt);
    emit shotSaved(path);
    if (file && link_->madeByRelease(*file)) {
        ++releasedSaved_;
        emit releasedShotSaved(path);
    }
}

void SessionModel::downloadFailed(const QString& name, const QString& reason, bool fromCamera) {
    setIncoming(std::nullopt);
    failedTransfers_ << name;
    emit failedTransfersChanged();
    // A read the camera broke off says nothing about the folder; the settings window would
    // otherwise send the photographer to choose another destination for a cable fault.
    if (!fromCamera) setDestinationProblem(reason);
    setLastError(QString::fromUtf8("「") + name + QString::fromUtf8("」を保存できませんでした。\n") +
                 reason + QString::fromUtf8("\n\nカメラのカードには残っています。"));
    emit transferFailed(name, reason);
}

}  // namespace pexil
