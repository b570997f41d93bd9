#include "app/capture/CaptureModel.h"

#include "app/base/PreferencesModel.h"
#include "app/connection/CameraLink.h"
#include "app/liveview/LiveViewModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "kit/async/NextSignal.h"
#include "kit/async/Sleep.h"

namespace pexil {

namespace {
// How long an autofocus result stays on screen.
constexpr double afResultSeconds = 2.0;
// How often a body that tells of new pictures only through CheckEvent is asked while the
// shot is being stored.
constexpr double storingPollSeconds = 0.35;

}  // namespace

CaptureModel::CaptureModel(async::Runtime& runtime, CameraLink& link, CameraSettingsModel& settings,
                           LiveViewModel& live, PreferencesModel& prefs, Session session,
                           QObject* parent)
    : QObject(parent),
      link_(link),
      settings_(settings),
      live_(live),
      prefs_(prefs),
      session_(std::move(session)),
      scope_(runtime) {}

CaptureModel::~CaptureModel() { scope_.cancelAll(); }

void CaptureModel::attach(CameraPtr camera) { camera_ = std::move(camera); }

void CaptureModel::clear() {
    camera_.reset();
    setIncoming(std::nullopt);
    setAFState(AFState::idle());
    setBusy(false);
}

bool CaptureModel::current(const CameraWeak& camera) const {
    const CameraPtr alive = camera.lock();
    return alive && alive == camera_;
}

double CaptureModel::captureWaitSeconds() const {
    const Descriptors& props = settings_.props();
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

void CaptureModel::shoot() {
    if (busy_ || !camera_) return;
    setBusy(true);  // before any waiting, so a second press is ignored
    scope_.spawn(capture(prefs_.autofocusBeforeShot()));
}

async::Task<bool> CaptureModel::shootAndWait(bool autofocusFirst) {
    if (busy_ || !camera_) co_return false;
    const int before = releasedSaved_;
    setBusy(true);
    co_await capture(autofocusFirst);
    if (!lastReleased_) co_return false;
    auto saved = [this, before] { return releasedSaved_ > before; };
    const bool in = co_await async::until(saved, this, &CaptureModel::releasedShotSaved,
                                          async::Seconds(captureWaitSeconds()));
    co_return in;
}

async::Task<void> CaptureModel::capture(bool autofocusFirst) {
    lastReleased_ = false;
    CameraPtr camera = camera_;
    const CameraWeak weak = camera;
    if (NikonLiveView* view = live_.view(); view && view->state() == NikonLiveView::State::on) {
        auto storing = std::make_shared<bool>(false);
        std::function<int()> count = session_.announcements;
        std::function<async::Task<bool>()> body = [this, camera, autofocusFirst, storing, weak] {
            return releaseThenPoll(camera, autofocusFirst, storing, weak);
        };
        const double wait = captureWaitSeconds();
        const auto message = co_await view->whileSuspended(std::move(count), wait, std::move(body));
        *storing = false;
        if (message) emit failed(*message);
    } else {
        co_await release(std::move(camera), autofocusFirst);
    }
    co_await settings_.refreshCounters();
    setBusy(false);
}

async::Task<bool> CaptureModel::releaseThenPoll(CameraPtr camera, bool autofocusFirst,
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

async::Task<bool> CaptureModel::release(CameraPtr camera, bool autofocusFirst) {
    const CameraWeak weak = camera;
    if (autofocusFirst) {
        const auto focused = co_await camera->autofocus();
        (void)focused;  // a shot out of focus is still a shot
    }
    // Before the command goes out: a fast body announces its picture before the answer.
    link_.expectRelease();
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
        emit failed(QString::fromUtf8("撮影できませんでした: ") + describe(released.error()));
    co_return false;
}

async::Task<void> CaptureModel::pollWhileStoring(CameraWeak weak, std::shared_ptr<bool> storing) {
    for (;;) {
        co_await async::sleep(storingPollSeconds);
        const bool cancelled = co_await async::isCancelled();
        if (cancelled || !*storing) co_return;
        CameraPtr camera = weak.lock();
        if (!camera || !current(weak) || !session_.announcesByPolling(*camera)) co_return;
        if (link_.downloading() > 0) continue;
        const bool changed = co_await session_.poll(std::move(camera));
        (void)changed;
    }
}

void CaptureModel::autofocus() {
    if (afState_.kind == AFState::Kind::running) return;
    CameraPtr camera = camera_;
    if (!camera) return;
    setAFState(AFState::running());
    scope_.spawn(runAutofocus(std::move(camera)));
}

async::Task<void> CaptureModel::runAutofocus(CameraPtr camera) {
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
    co_await settings_.refreshCounters();
    co_await async::sleep(afResultSeconds);
    // A newer request owns the display now, whether it is still running or already answered.
    if (generation == afGeneration_ && afState_.kind != AFState::Kind::running)
        setAFState(AFState::idle());
}

void CaptureModel::setIncoming(std::optional<IncomingShot> incoming) {
    if (incoming == incoming_) return;
    incoming_ = std::move(incoming);
    emit incomingChanged();
}

async::Task<void> CaptureModel::giveUpIncoming(double seconds) {
    co_await async::sleep(seconds);
    const bool cancelled = co_await async::isCancelled();
    // Only the wait for an announcement: a picture on its way is the transfer's to end.
    if (!cancelled && incoming_ && incoming_->name.isEmpty()) setIncoming(std::nullopt);
}

void CaptureModel::pictureProgress(const QString& name, quint64 received, quint64 total) {
    setIncoming(IncomingShot{name, received, total});
}

void CaptureModel::pictureSaved(const QString& path, const camera::CameraFile* file) {
    if (file && link_.madeByRelease(*file)) {
        ++releasedSaved_;
        emit releasedShotSaved(path);
    }
}

void CaptureModel::pictureEnded() { setIncoming(std::nullopt); }

void CaptureModel::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged();
}

void CaptureModel::setAFState(AFState state) {
    if (afState_ == state) return;
    afState_ = std::move(state);
    emit afStateChanged();
}

}  // namespace pexil
