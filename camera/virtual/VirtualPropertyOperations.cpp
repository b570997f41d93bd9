#include "camera/virtual/VirtualOperations.h"

#include "kit/ptp/PTP.h"

#include <array>

namespace pexil::camera {

void VirtualBodyState::refreshDynamic() {
    if (properties.has(kDateTime)) properties.forceText(kDateTime, formatPTPDate(cameraNow()));
    if (properties.has(kProhibition)) {
        std::uint32_t bits = prohibition;
        if (capturesPending > 0) bits |= kProhibitCapturing;
        if (properties.number(kRecordingMedia) == 1) bits &= ~kProhibitRecordingToCard;
        properties.setStatus(kProhibition, bits);
    }
}

namespace {

// GetDevicePropDesc and GetDevicePropValue.
Reply readProperty(VirtualBodyState& s, const OperationCall& call) {
    const auto property = call.param(0);
    if (!property) return Reply::answer(kInvalidParameter);
    if (*property > 0xFFFF) return Reply::answer(kDevicePropNotSupported);
    s.refreshDynamic();
    const auto prop = static_cast<std::uint16_t>(*property);
    auto bytes = call.operation.code == kGetDevicePropDesc ? s.properties.descriptor(prop)
                                                           : s.properties.value(prop);
    if (!bytes) return Reply::answer(kDevicePropNotSupported);
    return Reply::withData(std::move(*bytes));
}

// Writing DateTime sets the camera's clock: it becomes a drift from the computer's.
Reply setDateTime(VirtualBodyState& s, ByteView data) {
    const auto text = PTP::decodeString(data);
    const QString stamp = text.value_or(QString()).left(15);
    const QDateTime date = QDateTime::fromString(stamp, QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (stamp.size() != 15 || !date.isValid()) return Reply::answer(kInvalidParameter);
    s.drift = static_cast<double>(s.wallNow().msecsTo(date)) / 1000.0;
    s.raise(kDevicePropChanged, kDateTime);
    return Reply::answer(kOK);
}

Reply setDevicePropValue(VirtualBodyState& s, const OperationCall& call) {
    const auto property = call.param(0);
    if (!property) return Reply::answer(kInvalidParameter);
    if (*property > 0xFFFF || !s.properties.has(static_cast<std::uint16_t>(*property)))
        return Reply::answer(kDevicePropNotSupported);
    if (!call.outData) return Reply::answer(kParameterNotSupported);
    if (*property == kDateTime) return setDateTime(s, *call.outData);
    const auto result = s.properties.write(static_cast<std::uint16_t>(*property), *call.outData);
    s.raiseChanged(result.changed);
    return Reply::answer(result.response);
}

constexpr std::array kHandlers{
    HandlerEntry{kGetDevicePropDesc, readProperty},
    HandlerEntry{kGetDevicePropValue, readProperty},
    HandlerEntry{kSetDevicePropValue, setDevicePropValue},
};

}  // namespace

std::span<const HandlerEntry> propertyHandlers() {
    return kHandlers;
}

}  // namespace pexil::camera
