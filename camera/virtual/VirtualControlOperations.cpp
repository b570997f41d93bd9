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
        return Reply::answer(kInvalidStorageID);
    if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
    startCapture(s, call.operation.transactionId);
    return Reply::answer(kOK);
}

Reply nikonCapture(VirtualBodyState& s, const OperationCall& call) {
    if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
    startCapture(s, call.operation.transactionId);
    return Reply::answer(kOK);
}

// Busy for the autofocus period; DeviceReady then gives the outcome once.
Reply afDrive(VirtualBodyState& s, const OperationCall&) {
    if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
    s.busyUntil = s.now() + s.options.timings.autofocus;
    s.focusResult = s.focusSucceeds ? std::nullopt : std::optional<std::uint16_t>(kNikonOutOfFocus);
    return Reply::answer(kOK);
}

Reply changeCameraMode(VirtualBodyState& s, const OperationCall& call) {
    const auto mode = call.param(0);
    if (!mode || *mode > 1) return Reply::answer(kInvalidParameter);
    s.hostMode = *mode == 1;
    return Reply::answer(kOK);
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
    if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
    if (s.focusResult) return Reply::answer(*std::exchange(s.focusResult, std::nullopt));
    return Reply::answer(kOK);
}

Reply getVendorPropCodes(VirtualBodyState& s, const OperationCall&) {
    const auto codes = s.model.vendorPropertyCodes();
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint32_t>(codes.size()));
    for (const std::uint16_t c : codes) PTP::appendLE(out, c);
    return Reply::withData(std::move(out));
}

constexpr std::array kHandlers{
    HandlerEntry{kInitiateCapture, initiateCapture},
    HandlerEntry{kNikonCapture, nikonCapture},
    HandlerEntry{kNikonAfDrive, afDrive},
    HandlerEntry{kNikonChangeCameraMode, changeCameraMode},
    HandlerEntry{kNikonCheckEvent, checkEvent},
    HandlerEntry{kNikonDeviceReady, deviceReady},
    HandlerEntry{kNikonGetVendorPropCodes, getVendorPropCodes},
};

}  // namespace

std::span<const HandlerEntry> controlHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
