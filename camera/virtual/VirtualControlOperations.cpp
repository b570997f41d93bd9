#include "camera/virtual/VirtualCapture.h"
#include "camera/virtual/VirtualOperations.h"

#include "kit/ptp/PTP.h"

#include <algorithm>
#include <array>

namespace pexil::camera {

namespace {

constexpr int kMaxEventsPerCheck = 255;

Reply initiateCapture(VirtualBodyState& s, const OperationCall& call) {
    const auto storage = call.param(0).value_or(0);
    if (storage != 0 && storage != kAllStorages && storage != s.model.storageId)
        return Reply::answer(PTP::Response::invalidStorageId);
    if (s.bodyBusy()) return Reply::answer(PTP::Response::deviceBusy);
    startCapture(s, call.operation.transactionId);
    return Reply::answer(PTP::Response::ok);
}

Reply nikonCapture(VirtualBodyState& s, const OperationCall& call) {
    if (s.bodyBusy()) return Reply::answer(PTP::Response::deviceBusy);
    startCapture(s, call.operation.transactionId);
    return Reply::answer(PTP::Response::ok);
}

// Busy for the autofocus period; DeviceReady then gives the outcome once.
Reply afDrive(VirtualBodyState& s, const OperationCall&) {
    if (s.bodyBusy()) return Reply::answer(PTP::Response::deviceBusy);
    s.busyUntil = s.now() + s.options.timings.autofocus;
    s.focusResult = s.focusSucceeds
                        ? std::nullopt
                        : std::optional<std::uint16_t>(PTP::code(PTP::Response::nikonOutOfFocus));
    if (s.focusSucceeds) s.lensFocus = s.subjectFocus;
    s.lensMoved(s.focusSucceeds ? FocusJudgement::focused : FocusJudgement::notFocused);
    return Reply::answer(PTP::Response::ok);
}

Reply changeCameraMode(VirtualBodyState& s, const OperationCall& call) {
    const auto mode = call.param(0);
    if (!mode || *mode > 1) return Reply::answer(PTP::Response::invalidParameter);
    s.hostMode = *mode == 1;
    return Reply::answer(PTP::Response::ok);
}

Reply checkEvent(VirtualBodyState& s, const OperationCall&) {
    const auto n = std::min<std::size_t>(s.checkEvents.size(), kMaxEventsPerCheck);
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        PTP::appendLE(out, s.checkEvents.front().first);
        PTP::appendLE(out, s.checkEvents.front().second);
        s.checkEvents.pop_front();
    }
    return Reply::withData(std::move(out));
}

Reply deviceReady(VirtualBodyState& s, const OperationCall&) {
    if (s.bodyBusy()) return Reply::answer(PTP::Response::deviceBusy);
    if (s.focusResult) return Reply::answer(*std::exchange(s.focusResult, std::nullopt));
    return Reply::answer(PTP::Response::ok);
}

Reply getVendorPropCodes(VirtualBodyState& s, const OperationCall&) {
    const auto codes = s.model.vendorPropertyCodes();
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint32_t>(codes.size()));
    for (const std::uint16_t c : codes) PTP::appendLE(out, c);
    return Reply::withData(std::move(out));
}

constexpr std::array kHandlers{
    HandlerEntry{PTP::Op::initiateCapture, initiateCapture},
    HandlerEntry{PTP::Op::nikonCapture, nikonCapture},
    HandlerEntry{PTP::Op::nikonAfDrive, afDrive},
    HandlerEntry{PTP::Op::nikonChangeCameraMode, changeCameraMode},
    HandlerEntry{PTP::Op::nikonCheckEvent, checkEvent},
    HandlerEntry{PTP::Op::nikonDeviceReady, deviceReady},
    HandlerEntry{PTP::Op::nikonGetVendorPropCodes, getVendorPropCodes},
};

}  // namespace

std::span<const HandlerEntry> controlHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
