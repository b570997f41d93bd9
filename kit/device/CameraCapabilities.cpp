#include "kit/device/CameraCapabilities.h"

#include "kit/ptp/Localized.h"

namespace pexil {

namespace {

bool isPropertyOperation(PTP::Op op) {
    return op == PTP::Op::getDevicePropDesc || op == PTP::Op::getDevicePropValue ||
           op == PTP::Op::setDevicePropValue;
}

bool isNikon1Model(const DeviceInfo& info) {
    if (!info.manufacturer.contains(QLatin1String("Nikon"), Qt::CaseInsensitive)) return false;
    if (info.model.isEmpty()) return false;
    const QChar first = info.model.at(0);
    // J1…J5, V1…V3, S1 and S2; any longer "S" model is a Coolpix.
    return first == u'J' || first == u'V' || (first == u'S' && info.model.size() < 3);
}

}  // namespace

CameraCapabilities::CameraCapabilities(const DeviceInfo& info)
    : model(info.model),
      operations(info.operations.begin(), info.operations.end()),
      events(info.events.begin(), info.events.end()),
      properties(info.properties.begin(), info.properties.end()),
      isNikon1(isNikon1Model(info)) {}

const std::set<std::uint16_t>& CameraCapabilities::nikon1Unsafe() {
    static const std::set<std::uint16_t> codes{
        PTP::code(PTP::Op::nikonCapture), PTP::code(PTP::Op::nikonChangeCameraMode),
        PTP::code(PTP::Op::nikonCheckEvent), PTP::code(PTP::Op::nikonGetVendorPropCodes)};
    return codes;
}

std::optional<Refusal> CameraCapabilities::refusalBeforeDeviceInfo(
    PTP::Op op, std::span<const std::uint32_t> params) {
    if (PTP::isVendor(op)) return Refusal{localized("DeviceInfo を読む前の独自命令"), PTP::code(PTP::Response::operationNotSupported)};
    if (isPropertyOperation(op) && !params.empty() && params.front() >= 0xD000)
        return Refusal{localized("DeviceInfo を読む前の独自プロパティ"), PTP::code(PTP::Response::devicePropNotSupported)};
    return std::nullopt;
}

std::optional<Refusal> CameraCapabilities::refusal(PTP::Op op,
                                                   std::span<const std::uint32_t> params) const {
    if (!isNikon1) return std::nullopt;
    const std::uint16_t opCode = PTP::code(op);
    if (nikon1Unsafe().contains(opCode))
        return Refusal{localized("Nikon 1 で通信が壊れる命令"), PTP::code(PTP::Response::operationNotSupported)};
    if (PTP::isVendor(op) && !operations.contains(opCode))
        return Refusal{localized("カメラが名乗っていない命令"), PTP::code(PTP::Response::operationNotSupported)};
    if (isPropertyOperation(op) && !params.empty()) {
        const std::uint32_t prop = params.front();
        // 0xF000–0xF01C are answered by Nikon 1 bodies although they never announce them.
        const bool announced =
            prop <= 0xFFFF && properties.contains(static_cast<std::uint16_t>(prop));
        if (!announced && !(prop >= 0xF000 && prop <= 0xF01C))
            return Refusal{localized("カメラが名乗っていないプロパティ"), PTP::code(PTP::Response::devicePropNotSupported)};
    }
    return std::nullopt;
}

std::optional<QString> RefusalNotes::note(std::uint16_t op, std::span<const std::uint32_t> params,
                                          const Refusal& refusal) {
    const std::uint32_t first = params.empty() ? 0 : params.front();
    if (!told_.insert({op, first}).second) return std::nullopt;
    const QString param = params.empty() ? QString() : QString::asprintf("(0x%X)", first);
    return QString::asprintf("送らなかった 0x%04X%s: %s", op, qUtf8Printable(param),
                             qUtf8Printable(refusal.reason));
}

}  // namespace pexil
