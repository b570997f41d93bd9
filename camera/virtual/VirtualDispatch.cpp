#include "camera/virtual/VirtualOperations.h"

#include <algorithm>
#include <map>

namespace pexil::camera {

namespace {

// The operations a busy camera still answers (see setBusyFor).
bool exemptFromBusy(std::uint16_t code) {
    return code == kGetDeviceInfo || code == kOpenSession || code == kCloseSession ||
           code == kNikonDeviceReady || code == kNikonCheckEvent;
}

const std::map<std::uint16_t, OperationHandler>& handlerTable() {
    static const auto table = [] {
        std::map<std::uint16_t, OperationHandler> all;
        for (const auto area :
             {storageHandlers(), propertyHandlers(), controlHandlers(), liveViewHandlers()})
            for (const HandlerEntry& entry : area) all.emplace(entry.operation, entry.handler);
        return all;
    }();
    return table;
}

Reply openSession(VirtualBodyState& s, const OperationCall& call) {
    const auto id = call.param(0);
    if (!id || *id == 0) return Reply::answer(kInvalidParameter);
    if (s.session) {
        Reply r = Reply::answer(kSessionAlreadyOpen);
        r.params = {*s.session};
        return r;
    }
    s.session = *id;
    s.events.clear();
    s.checkEvents.clear();
    return Reply::answer(kOK);
}

Reply closeSession(VirtualBodyState& s) {
    if (!s.session) return Reply::answer(kSessionNotOpen);
    s.session.reset();
    // Closing the session ends live view and hands control back to the camera.
    s.liveView = false;
    s.properties.setStatus(kLiveViewStatus, 0);
    s.hostMode = false;
    return Reply::answer(kOK);
}

}  // namespace

Reply dispatchOperation(VirtualBodyState& s, const OperationCall& call) {
    const VirtualModel& model = s.model;
    const std::uint16_t code = call.operation.code;

    if (std::find(model.linkBreakingOperations.begin(), model.linkBreakingOperations.end(), code) !=
        model.linkBreakingOperations.end()) {
        Reply r;
        r.breaksLink = true;
        return r;
    }
    if (code == kGetDeviceInfo) return Reply::withData(deviceInfoDataset(model, s.serial));
    if (!model.hasOperation(code)) return Reply::answer(kOperationNotSupported);
    if (code == kOpenSession) return openSession(s, call);
    if (code == kCloseSession) return closeSession(s);
    if (!s.session) return Reply::answer(kSessionNotOpen);
    if (s.busyCommands > 0 && !exemptFromBusy(code)) {
        --s.busyCommands;
        return Reply::answer(kDeviceBusy);
    }
    const auto& table = handlerTable();
    const auto handler = table.find(code);
    if (handler == table.end()) return Reply::answer(kOperationNotSupported);
    return handler->second(s, call);
}

}  // namespace pexil::camera
