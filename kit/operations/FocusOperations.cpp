// Focusing from live view: where the AF area sits, and the lens driven by hand.
#include "kit/ptp/PTPCamera.h"

#include <algorithm>

namespace pexil {

namespace {
constexpr int busyAttempts = 5;
constexpr int maxDriveSteps = 32767;
// A long drive of the slowest lens ends well within this.
constexpr double driveSeconds = 5;
}  // namespace

async::Task<CameraResult<Bytes>> PTPCamera::sendPatiently(PTP::Op op,
                                                          std::vector<std::uint32_t> params) {
    const auto watch = lifetime_.watch();
    for (int attempt = 1;; ++attempt) {
        auto sent = co_await send(op, params);
        if (sent || !watch.alive() || attempt == busyAttempts) co_return sent;
        const auto code = responseCodeOf(sent.error());
        if (code != PTP::Response::deviceBusy && code != PTP::Response::nikonBusy) co_return sent;
        co_await waitUntilReady(2);
        if (!watch.alive()) co_return sent;
    }
}

async::Task<CameraResult<Done>> PTPCamera::changeAfArea(QPoint whole) {
    auto moved = co_await sendPatiently(PTP::Op::nikonChangeAfArea,
                                        args(std::max(0, whole.x()), std::max(0, whole.y())));
    if (!moved) co_return moved.error();
    co_return Done{};
}

async::Task<CameraResult<Done>> PTPCamera::driveFocus(FocusDirection direction, int steps) {
    const auto watch = lifetime_.watch();
    auto driven = co_await sendPatiently(
        PTP::Op::nikonMfDrive,
        args(static_cast<std::uint32_t>(direction), std::clamp(steps, 1, maxDriveSteps)));
    if (!driven) co_return driven.error();
    if (!watch.alive()) co_return Done{};
    // The body tells how the drive ended once it is over: at the end of the range, or not.
    const std::uint16_t code = co_await waitUntilReady(driveSeconds);
    if (code == PTP::Response::nikonMfDriveStepEnd ||
        code == PTP::Response::nikonMfDriveStepInsufficiency)
        co_return CameraError(PTPError::response(PTP::Response::nikonMfDriveStepEnd));
    co_return Done{};
}

}  // namespace pexil
