#include "camera/virtual/VirtualOperations.h"

#include "kit/ptp/PTP.h"

#include <array>

namespace pexil::camera {

void VirtualBodyState::refreshDynamic() {
    if (properties.has(PTP::code(PTP::Prop::dateTime)))
        properties.forceText(PTP::code(PTP::Prop::dateTime), formatPTPDate(cameraNow()));
    if (properties.has(PTP::code(PTP::Prop::nikonLiveViewProhibit))) {
        std::uint32_t bits = prohibition;
        if (capturesPending > 0) bits |= kProhibitCapturing;
        if (properties.number(PTP::code(PTP::Prop::nikonRecordingMedia)) == 1)
            bits &= ~kProhibitRecordingToCard;
        properties.setStatus(PTP::code(PTP::Prop::nikonLiveViewProhibit), bits);
    }
}

namespace {

// GetDevicePropDesc and GetDevicePropValue.
Reply readProperty(VirtualBodyState& s, const OperationCall& call) {
    const auto property = call.param(0);
    if (!property) return Reply::answer(PTP::Response::invalidParameter);
    if (*property > 0xFFFF) return Reply::answer(PTP::Response::devicePropNotSupported);
    s.refreshDynamic();
    const auto prop = static_cast<std::uint16_t>(*property);
    auto bytes = call.operation.code == PTP::Op::getDevicePropDesc ? s.properties.descriptor(prop)
                                                                   : s.properties.value(prop);
    if (!bytes) return Reply::answer(PTP::Response::devicePropNotSupported);
    return Reply::withData(std::move(*bytes));
}

// Writing DateTime sets the camera's clock: it becomes a drift from the computer's.
Reply setDateTime(VirtualBodyState& s, ByteView data) {
    const auto text = PTP::decodeString(data);
    const QString stamp = text.value_or(QString()).left(15);
    const QDateTime date = QDateTime::fromString(stamp, QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (stamp.size() != 15 || !date.isValid())
        return Reply::answer(PTP::Response::invalidParameter);
    s.drift = static_cast<double>(s.wallNow().msecsTo(date)) / 1000.0;
    s.raise(PTP::Event::devicePropChanged, PTP::code(PTP::Prop::dateTime));
    return Reply::answer(PTP::Response::ok);
}

Reply setDevicePropValue(VirtualBodyState& s, const OperationCall& call) {
    const auto property = call.param(0);
    if (!property) return Reply::answer(PTP::Response::invalidParameter);
    if (*property > 0xFFFF || !s.properties.has(static_cast<std::uint16_t>(*property)))
        return Reply::answer(PTP::Response::devicePropNotSupported);
    if (!call.outData) return Reply::answer(PTP::Response::parameterNotSupported);
    if (*property == PTP::code(PTP::Prop::dateTime)) return setDateTime(s, *call.outData);
    const auto result = s.properties.write(static_cast<std::uint16_t>(*property), *call.outData);
    s.raiseChanged(result.changed);
    return Reply::answer(result.response);
}

constexpr std::array kHandlers{
    HandlerEntry{PTP::Op::getDevicePropDesc, readProperty},
    HandlerEntry{PTP::Op::getDevicePropValue, readProperty},
    HandlerEntry{PTP::Op::setDevicePropValue, setDevicePropValue},
};

}  // namespace

std::span<const HandlerEntry> propertyHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
