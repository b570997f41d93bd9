#include "camera/virtual/VirtualOperations.h"

#include <algorithm>
#include <map>

namespace pexil::camera {

namespace {

// The operations a busy camera still answers (see setBusyFor).
bool exemptFromBusy(std::uint16_t code) {
    return code == PTP::Op::getDeviceInfo || code == PTP::Op::openSession ||
           code == PTP::Op::closeSession || code == PTP::Op::nikonDeviceReady ||
           code == PTP::Op::nikonCheckEvent;
}

const std::map<std::uint16_t, OperationHandler>& handlerTable() {
    static const auto table = [] {
        std::map<std::uint16_t, OperationHandler> all;
        for (const auto area :
             {storageHandlers(), propertyHandlers(), controlHandlers(), liveViewHandlers()})
            for (const HandlerEntry& entry : area)
                all.emplace(PTP::code(entry.operation), entry.handler);
        return all;
    }();
    return table;
}

Reply openSession(VirtualBodyState& s, const OperationCall& call) {
    const auto id = call.param(0);
    if (!id || *id == 0) return Reply::answer(PTP::Response::invalidParameter);
    if (s.session) {
        Reply r = Reply::answer(PTP::Response::sessionAlreadyOpen);
        r.params = {*s.session};
        return r;
    }
    s.session = *id;
    s.events.clear();
    s.checkEvents.clear();
    return Reply::answer(PTP::Response::ok);
}

Reply closeSession(VirtualBodyState& s) {
    if (!s.session) return Reply::answer(PTP::Response::sessionNotOpen);
    s.session.reset();
    // Closing the session ends live view and hands control back to the camera.
    s.liveView = false;
    s.properties.setStatus(PTP::code(PTP::Prop::nikonLiveViewStatus), 0);
    s.hostMode = false;
    return Reply::answer(PTP::Response::ok);
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
    if (code == PTP::Op::getDeviceInfo) return Reply::withData(deviceInfoDataset(model, s.serial));
    if (!model.hasOperation(code)) return Reply::answer(PTP::Response::operationNotSupported);
    if (code == PTP::Op::openSession) return openSession(s, call);
    if (code == PTP::Op::closeSession) return closeSession(s);
    if (!s.session) return Reply::answer(PTP::Response::sessionNotOpen);
    if (s.busyCommands > 0 && !exemptFromBusy(code)) {
        --s.busyCommands;
        return Reply::answer(PTP::Response::deviceBusy);
    }
    const auto& table = handlerTable();
    const auto handler = table.find(code);
    if (handler == table.end()) return Reply::answer(PTP::Response::operationNotSupported);
    return handler->second(s, call);
}

}  // namespace pexil::camera
