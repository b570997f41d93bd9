#include "camera/virtual/VirtualOperations.h"

#include <algorithm>
#include <array>

namespace pexil::camera {

namespace {

Reply startLiveView(VirtualBodyState& s, const OperationCall&) {
    if (!s.frames) return Reply::answer(kOperationNotSupported);
    if (s.capturesPending > 0) return Reply::answer(kDeviceBusy);
    s.refreshDynamic();
    if (s.properties.number(kProhibition) != 0) return Reply::answer(kNikonInvalidStatus);
    if (!s.liveView) {
        const auto now = s.now();
        s.liveView = true;
        s.liveViewSince = now;
        s.liveViewReady = now + s.options.timings.liveViewStart;
        s.busyUntil = std::max(s.busyUntil, s.liveViewReady);
        s.properties.setStatus(kLiveViewStatus, 1);
        s.raise(kDevicePropChanged, kLiveViewStatus);
    }
    return Reply::answer(kOK);
}

Reply endLiveView(VirtualBodyState& s, const OperationCall&) {
    if (!s.liveView) return Reply::answer(kNikonNotLiveView);
    s.liveView = false;
    s.properties.setStatus(kLiveViewStatus, 0);
    s.raise(kDevicePropChanged, kLiveViewStatus);
    return Reply::answer(kOK);
}

// The frame itself is made by the delivery, without the lock.
Reply getLiveViewImage(VirtualBodyState& s, const OperationCall&) {
    if (!s.liveView || !s.frames) return Reply::answer(kNikonNotLiveView);
    const auto now = s.now();
    if (now < s.liveViewReady || s.capturesPending > 0) return Reply::answer(kDeviceBusy);
    if (s.noFramesOnCard && s.properties.number(kRecordingMedia) == 0)
        return Reply::withData(s.frames->headerOnly());
    Reply r;
    r.liveViewSeconds = std::chrono::duration<double>(now - s.liveViewSince).count();
    return r;
}

constexpr std::array kHandlers{
    HandlerEntry{kNikonStartLiveView, startLiveView},
    HandlerEntry{kNikonEndLiveView, endLiveView},
    HandlerEntry{kNikonGetLiveViewImg, getLiveViewImage},
};

}  // namespace

std::span<const HandlerEntry> liveViewHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
