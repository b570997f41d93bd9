#include "kit/ptp/PTPError.h"

#include "kit/ptp/Localized.h"
#include "kit/ptp/PTP.h"

namespace pexil {

std::optional<std::uint16_t> PTPError::code() const {
    if (kind_ == Kind::response) return code_;
    return std::nullopt;
}

QString PTPError::description() const {
    switch (kind_) {
        case Kind::response:
            return localized("カメラが応答しました: ") + PTP::responseName(code_);
        case Kind::timedOut:
            return localized("カメラから返事がありません（") + what_ + QStringLiteral("）");
        case Kind::notConnected:
            return localized("カメラが接続されていません");
    }
    return {};
}

QString describe(const CameraError& error) {
    if (const auto* ptp = std::get_if<PTPError>(&error)) return ptp->description();
    return std::get<TransportError>(error).message;
}

std::optional<std::uint16_t> responseCodeOf(const CameraError& error) {
    if (const auto* ptp = std::get_if<PTPError>(&error)) return ptp->code();
    return std::nullopt;
}

}  // namespace pexil
