#include "camera/virtual/VirtualOperations.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

namespace pexil::camera {

void VirtualBodyState::lensMoved(FocusJudgement judgement) {
    if (!frames) return;
    // Sharp within a few steps of the subject, then a pixel more blur every 40 steps.
    constexpr int stepsPerPixel = 40;
    constexpr int maxBlur = 12;
    auto focus = frames->focus();
    focus.judgement = judgement;
    focus.blurRadius = std::min(maxBlur, std::abs(lensFocus - subjectFocus) / stepsPerPixel);
    frames->setFocus(focus);
}

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
    if (s.properties.has(PTP::code(PTP::Prop::nikonLiveViewZoom)))
        s.frames->setZoom(
            static_cast<int>(s.properties.number(PTP::code(PTP::Prop::nikonLiveViewZoom))));
    Reply r;
    BodyTime at = now;
    if (const double fps = s.options.liveViewFps.value_or(s.model.liveViewFps); fps > 0) {
        // Every answer is a new frame: one asked for before the sensor has it waits for it.
        const auto interval = std::chrono::duration_cast<BodyClock::Duration>(
            std::chrono::duration<double>(1.0 / fps));
        if (s.lastFrameAt != BodyTime{}) at = std::max(now, s.lastFrameAt + interval);
        // Without a thread of its own the body cannot hold its answer until the sensor has
        // the frame: it is busy until then, as a body is while it reads one out.
        if (at > now && !s.options.bodyThread) return Reply::answer(PTP::Response::deviceBusy);
        s.lastFrameAt = at;
        if (at > now) r.holdUntil = at;
    }
    r.liveViewSeconds = std::chrono::duration<double>(at - s.liveViewSince).count();
    return r;
}

// What the AF area and the lens answer when there is no live picture to act on, or a drive or
// capture is still under way.
std::optional<Reply> refusedOutsideLiveView(const VirtualBodyState& s) {
    if (!s.frames) return Reply::answer(PTP::Response::operationNotSupported);
    if (!s.liveView) return Reply::answer(PTP::Response::nikonNotLiveView);
    if (s.bodyBusy()) return Reply::answer(PTP::Response::deviceBusy);
    return std::nullopt;
}

// The AF area moves to the point asked, kept whole inside the picture as a body keeps it.
Reply changeAfArea(VirtualBodyState& s, const OperationCall& call) {
    if (const auto refused = refusedOutsideLiveView(s)) return *refused;
    const auto x = call.param(0);
    const auto y = call.param(1);
    const QSize whole = s.frames->wholeArea();
    if (!x || !y || *x >= static_cast<std::uint32_t>(whole.width()) ||
        *y >= static_cast<std::uint32_t>(whole.height()))
        return Reply::answer(PTP::Response::invalidParameter);
    const QSize half = s.frames->afSize() / 2;
    auto focus = s.frames->focus();
    focus.afCentre =
        QPoint(std::clamp(static_cast<int>(*x), half.width(), whole.width() - half.width()),
               std::clamp(static_cast<int>(*y), half.height(), whole.height() - half.height()));
    s.frames->setFocus(focus);
    s.lensMoved(FocusJudgement::none);
    return Reply::answer(PTP::Response::ok);
}

// Busy while the lens travels; a drive that runs into the end of the travel stops there and
// DeviceReady says so once.
Reply mfDrive(VirtualBodyState& s, const OperationCall& call) {
    if (const auto refused = refusedOutsideLiveView(s)) return *refused;
    const auto direction = call.param(0);
    const auto amount = call.param(1);
    if (!direction || (*direction != 1 && *direction != 2) || !amount || *amount < 1 ||
        *amount > 32767)
        return Reply::answer(PTP::Response::invalidParameter);
    const int step = static_cast<int>(*amount);
    const int target = s.lensFocus + (*direction == 2 ? step : -step);
    const int reached = std::clamp(target, 0, kLensSteps);
    const int travel = std::abs(reached - s.lensFocus);
    s.lensFocus = reached;
    s.busyUntil =
        std::max(s.busyUntil,
                 s.now() + std::chrono::duration_cast<BodyClock::Duration>(kLensStepTime * travel));
    if (reached != target) s.focusResult = PTP::code(PTP::Response::nikonMfDriveStepEnd);
    s.lensMoved(FocusJudgement::none);
    return Reply::answer(PTP::Response::ok);
}

constexpr std::array kHandlers{
    HandlerEntry{PTP::Op::nikonStartLiveView, startLiveView},
    HandlerEntry{PTP::Op::nikonEndLiveView, endLiveView},
    HandlerEntry{PTP::Op::nikonGetLiveViewImg, getLiveViewImage},
    HandlerEntry{PTP::Op::nikonChangeAfArea, changeAfArea},
    HandlerEntry{PTP::Op::nikonMfDrive, mfDrive},
};

}  // namespace

std::span<const HandlerEntry> liveViewHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
