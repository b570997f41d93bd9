#include "camera/virtual/VirtualOperations.h"

#include <algorithm>
#include <array>

namespace pexil::camera {

namespace {

Reply startLiveView(VirtualBodyState& s, const OperationCall&) {
    if (!s.frames) return Reply::answer(PTP::Response::operationNotSupported);
    if (s.capturesPending > 0) return Reply::answer(PTP::Response::deviceBusy);
    s.refreshDynamic();
    if (s.properties.number(PTP::code(PTP::Prop::nikonLiveViewProhibit)) != 0)
        return Reply::answer(PTP::Response::nikonInvalidStatus);
    if (!s.liveView) {
        const auto now = s.now();
        s.liveView = true;
        s.liveViewSince = now;
        s.liveViewReady = now + s.options.timings.liveViewStart;
        s.lastFrameAt = {};
        s.busyUntil = std::max(s.busyUntil, s.liveViewReady);
        s.properties.setStatus(PTP::code(PTP::Prop::nikonLiveViewStatus), 1);
        s.raise(PTP::Event::devicePropChanged, PTP::code(PTP::Prop::nikonLiveViewStatus));
    }
    return Reply::answer(PTP::Response::ok);
}

Reply endLiveView(VirtualBodyState& s, const OperationCall&) {
    if (!s.liveView) return Reply::answer(PTP::Response::nikonNotLiveView);
    s.liveView = false;
    s.properties.setStatus(PTP::code(PTP::Prop::nikonLiveViewStatus), 0);
    s.raise(PTP::Event::devicePropChanged, PTP::code(PTP::Prop::nikonLiveViewStatus));
    return Reply::answer(PTP::Response::ok);
}

// The frame itself is made by the delivery, without the lock.
Reply getLiveViewImage(VirtualBodyState& s, const OperationCall&) {
    if (!s.liveView || !s.frames) return Reply::answer(PTP::Response::nikonNotLiveView);
    const auto now = s.now();
    if (now < s.liveViewReady || s.capturesPending > 0)
        return Reply::answer(PTP::Response::deviceBusy);
    if (s.noFramesOnCard && s.properties.number(PTP::code(PTP::Prop::nikonRecordingMedia)) == 0)
        return Reply::withData(s.frames->headerOnly());
    Reply r;
    BodyTime at = now;
    if (const double fps = s.options.liveViewFps.value_or(s.model.liveViewFps); fps > 0) {
        // Every answer is a new frame: one asked for before the sensor has it waits for it.
        const auto interval = std::chrono::duration_cast<BodyClock::Duration>(
            std::chrono::duration<double>(1.0 / fps));
        if (s.lastFrameAt != BodyTime{}) at = std::max(now, s.lastFrameAt + interval);
        s.lastFrameAt = at;
        if (at > now) r.holdUntil = at;
    }
    r.liveViewSeconds = std::chrono::duration<double>(at - s.liveViewSince).count();
    return r;
}

constexpr std::array kHandlers{
    HandlerEntry{PTP::Op::nikonStartLiveView, startLiveView},
    HandlerEntry{PTP::Op::nikonEndLiveView, endLiveView},
    HandlerEntry{PTP::Op::nikonGetLiveViewImg, getLiveViewImage},
};

}  // namespace

std::span<const HandlerEntry> liveViewHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
