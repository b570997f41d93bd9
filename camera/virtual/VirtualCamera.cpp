#include "camera/virtual/VirtualCamera.h"

#include "camera/virtual/VirtualBodyState.h"
#include "camera/virtual/VirtualCapture.h"
#include "camera/virtual/VirtualDelivery.h"
#include "camera/virtual/VirtualEvents.h"
#include "camera/virtual/VirtualOperations.h"

#include <algorithm>

namespace pexil::camera {

VirtualBodyState::VirtualBodyState(VirtualCamera::Options o, const VirtualModel& m)
    : options(std::move(o)),
      clock(options.clock ? options.clock : std::make_shared<SteadyBodyClock>()),
      model(m),
      properties(model) {
    if (!options.objectPropList)
        model.operations.erase(std::remove(model.operations.begin(), model.operations.end(),
                                           PTP::code(PTP::Op::getObjectPropList)),
                               model.operations.end());
}

Result<std::shared_ptr<VirtualCamera>, QString> VirtualCamera::create(Options options) {
    const VirtualModel* body = findVirtualModel(options.model);
    if (!body) return QString::fromUtf8("知らない機種です: ") + options.model;
    auto state = std::make_unique<VirtualBodyState>(std::move(options), *body);
    const VirtualModel& model = state->model;
    QString dir = state->options.cardDir;
    if (dir.isEmpty()) {
        state->temporary = std::make_unique<QTemporaryDir>();
        if (!state->temporary->isValid())
            return QString::fromUtf8("仮想カメラのカードを一時フォルダに作れません: ") +
                   state->temporary->errorString();
        dir = state->temporary->path();
    }
    state->latencyMs = state->options.latencyMs;
    state->bandwidth = state->options.bandwidthMBps;
    state->drift = state->options.clockDriftSeconds;
    state->stallAfter = state->options.stallAfter;

    VirtualCard::Fill fill;
    fill.photos = std::max(0, state->options.photos);
    fill.seed = state->options.seed;
    fill.gpsEvery = state->options.gpsEvery;
    fill.now = state->cameraNow();
    fill.fullSize = state->options.fullSizePictures;
    auto card = VirtualCard::open(dir, model, fill);
    if (!card) return card.error();
    state->card = std::move(card).value();

    state->serial =
        QString::number(3000000 + state->options.seed % 7000000).rightJustified(32, u'0');
    state->subjectFocus = 700 + static_cast<int>(state->options.seed % 600);
    state->lensFocus = state->subjectFocus;
    if (model.liveViewHeaderSize > 0)
        state->frames =
            std::make_unique<LiveViewFrames>(model.liveViewWidth, model.liveViewHeight,
                                             model.liveViewHeaderSize, state->options.seed);
    std::shared_ptr<VirtualCamera> camera(new VirtualCamera(std::move(state)));
    return camera;
}

VirtualCamera::VirtualCamera(std::unique_ptr<VirtualBodyState> state) : state_(std::move(state)) {
    VirtualBodyState* body = state_.get();
    // A clock that jumps must wake whatever waits for a time: the body thread, a latency, a
    // throttled transfer.
    body->clock->watch(body, [body] {
        std::unique_lock lock(body->mutex);
        // Without a thread of its own, the body does what fell due as time reaches it.
        if (!body->options.bodyThread) finishDueCaptures(*body, lock);
        lock.unlock();
        body->changed.notify_all();
    });
    if (body->options.bodyThread) body->body = std::thread([body] { runBody(*body); });
}

VirtualCamera::~VirtualCamera() {
    state_->clock->unwatch(state_.get());
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (state_->body.joinable()) state_->body.join();
}

// ---- Responder ----

Result<Response, TransportError> VirtualCamera::handle(const Operation& operation,
                                                       std::optional<ByteView> outData,
                                                       DataSink& sink) {
    return run(operation, outData, sink, nullptr);
}

Result<Response, TransportError> VirtualCamera::handle(const Operation& operation,
                                                       std::optional<ByteView> outData,
                                                       DataSink& sink,
                                                       const std::atomic<bool>& closed) {
    return run(operation, outData, sink, &closed);
}

Result<std::optional<Bytes>, TransportError> VirtualCamera::waitEvent(
    std::chrono::milliseconds timeout) {
    return waitForEvent(*state_, timeout, nullptr);
}

Result<std::optional<Bytes>, TransportError> VirtualCamera::waitEvent(
    std::chrono::milliseconds timeout, const std::atomic<bool>& closed) {
    return waitForEvent(*state_, timeout, &closed);
}

bool VirtualCamera::answersAtOnce() const {
    const VirtualBodyState& s = *state_;
    std::lock_guard lock(s.mutex);
    return !s.options.bodyThread && !s.clock->runsByItself() && !s.stallAfter;
}

void VirtualCamera::watchEvents(const void* watcher, std::function<void()> notice) {
    std::lock_guard lock(state_->mutex);
    if (notice) {
        state_->eventWatcher = watcher;
        state_->eventNotice = std::move(notice);
    } else if (state_->eventWatcher == watcher) {
        state_->eventWatcher = nullptr;
        state_->eventNotice = nullptr;
    }
}

void VirtualCamera::wake() {
    // Taking the lock orders the caller's flag before the waiters' next look at it.
    { std::lock_guard lock(state_->mutex); }
    state_->changed.notify_all();
}

Result<Response, TransportError> VirtualCamera::run(const Operation& operation,
                                                    std::optional<ByteView> outData, DataSink& sink,
                                                    const std::atomic<bool>* closed) {
    VirtualBodyState& s = *state_;
    if (s.unplugged) return TransportError{linkGone()};
    if (closed && closed->load()) return TransportError{linkClosed()};
    double latency = 0;
    {
        std::lock_guard lock(s.mutex);
        ++s.calls[operation.code];
        latency = s.latencyMs;
    }
    if (!pauseFor(s, std::chrono::duration<double, std::milli>(latency), closed))
        return TransportError{s.unplugged ? linkGone() : linkClosed()};
    Reply reply;
    {
        std::unique_lock lock(s.mutex);
        // On time that moves only when told, a capture that has fallen due is finished before
        // the camera answers anything else: what a host sees at a given moment then never
        // depends on how fast the body thread happened to run.
        if (!s.options.bodyThread) finishDueCaptures(s, lock);
        if (!s.clock->runsByItself())
            s.changed.wait(lock, [&] { return !s.captureDue() || s.stopping || s.over(closed); });
        const auto refusal = s.refusals.find(operation.code);
        if (refusal == s.refusals.end() || refusal->second.afterDoing)
            reply = dispatchOperation(s, OperationCall{operation, outData});
        if (refusal != s.refusals.end()) {
            reply.code = refusal->second.response;
            reply.data.reset();
            reply.file.reset();
        }
        if (reply.breaksLink) {
            s.unplugged = true;
            s.changed.notify_all();
        }
    }
    if (reply.breaksLink)
        return TransportError{QString::fromUtf8("仮想カメラが応答しなくなりました")};
    if (reply.holdUntil) {
        std::chrono::duration<double> wait{};
        {
            std::lock_guard lock(s.mutex);
            wait = *reply.holdUntil - s.now();
        }
        if (!pauseFor(s, wait, closed))
            return TransportError{s.unplugged ? linkGone() : linkClosed()};
    }
    return deliverReply(s, operation, std::move(reply), sink, closed);
}

// ---- Controls and knobs ----

void VirtualCamera::pressShutter() {
    std::lock_guard lock(state_->mutex);
    startCapture(*state_, 0);
}

void VirtualCamera::turnModeDial(std::uint16_t program) {
    std::lock_guard lock(state_->mutex);
    state_->raiseChanged(state_->properties.force(PTP::code(PTP::Prop::exposureProgram), program));
}

void VirtualCamera::unplug() {
    state_->unplug();
}

bool VirtualCamera::isUnplugged() const {
    return state_->unplugged;
}

void VirtualCamera::refuse(std::uint16_t operation, std::uint16_t response, bool afterDoing) {
    std::lock_guard lock(state_->mutex);
    if (response == 0)
        state_->refusals.erase(operation);
    else
        state_->refusals[operation] = {response, afterDoing};
}

void VirtualCamera::failObject(const QString& name, std::uint16_t response) {
    std::lock_guard lock(state_->mutex);
    if (response == 0)
        state_->options.failObjects.erase(name);
    else
        state_->options.failObjects[name] = response;
}

void VirtualCamera::setBusyFor(int commands) {
    std::lock_guard lock(state_->mutex);
    state_->busyCommands = std::max(0, commands);
}

void VirtualCamera::setProhibition(std::uint32_t bits) {
    std::lock_guard lock(state_->mutex);
    const std::int64_t before =
        state_->properties.number(PTP::code(PTP::Prop::nikonLiveViewProhibit));
    state_->prohibition = bits;
    state_->refreshDynamic();
    if (state_->properties.number(PTP::code(PTP::Prop::nikonLiveViewProhibit)) != before)
        state_->raise(PTP::Event::devicePropChanged, PTP::code(PTP::Prop::nikonLiveViewProhibit));
}

void VirtualCamera::setNoFramesWhileRecordingToCard(bool on) {
    std::lock_guard lock(state_->mutex);
    state_->noFramesOnCard = on;
}

void VirtualCamera::cutTransferAfter(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->cutAfter = bytes;
}

void VirtualCamera::sendPastObjectEnd(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->overlong = bytes;
}

void VirtualCamera::stallAfter(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->stallAfter = bytes;
}

bool VirtualCamera::isStalled() const {
    std::lock_guard lock(state_->mutex);
    return state_->stalled;
}

void VirtualCamera::initiatorGone() {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->initiatorsGone;
    }
    state_->changed.notify_all();
}

void VirtualCamera::setLatency(double milliseconds) {
    std::lock_guard lock(state_->mutex);
    state_->latencyMs = std::max(0.0, milliseconds);
}

void VirtualCamera::setBandwidth(double megabytesPerSecond) {
    std::lock_guard lock(state_->mutex);
    state_->bandwidth = std::max(0.0, megabytesPerSecond);
}

void VirtualCamera::setClockDrift(double seconds) {
    std::lock_guard lock(state_->mutex);
    state_->drift = seconds;
}

void VirtualCamera::setFocusSucceeds(bool succeeds) {
    std::lock_guard lock(state_->mutex);
    state_->focusSucceeds = succeeds;
}

void VirtualCamera::setLiveViewFraming(LiveViewRotation rotation, QSize display, QPoint centre) {
    std::lock_guard lock(state_->mutex);
    if (state_->frames) state_->frames->setFraming(rotation, display, centre);
}

int VirtualCamera::lensFocus() const {
    std::lock_guard lock(state_->mutex);
    return state_->lensFocus;
}

void VirtualCamera::setSceneBrightness(double ev) {
    std::lock_guard lock(state_->mutex);
    state_->raiseChanged(state_->properties.setSceneEv(ev));
}

QString VirtualCamera::cardDir() const {
    return state_->card->root();
}

const VirtualModel& VirtualCamera::model() const {
    return state_->model;
}

QString VirtualCamera::serialNumber() const {
    return state_->serial;
}

QDateTime VirtualCamera::cameraClock() const {
    std::lock_guard lock(state_->mutex);
    return state_->cameraNow();
}

int VirtualCamera::callCount(std::uint16_t operation) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->calls.find(operation);
    return it == state_->calls.end() ? 0 : it->second;
}

bool VirtualCamera::isSessionOpen() const {
    std::lock_guard lock(state_->mutex);
    return state_->session.has_value();
}

bool VirtualCamera::isLiveViewOn() const {
    std::lock_guard lock(state_->mutex);
    return state_->liveView;
}

bool VirtualCamera::isHostControlled() const {
    std::lock_guard lock(state_->mutex);
    return state_->hostMode;
}

bool VirtualCamera::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [this] { return state_->capturesPending == 0; });
}

bool VirtualCamera::waitForEventReader(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [this] { return state_->eventReaders > 0; });
}

}  // namespace pexil::camera
