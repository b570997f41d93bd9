#include "kit/ptp/PTP.h"

#include "kit/ptp/Localized.h"

#include <algorithm>

namespace pexil::PTP {

std::optional<Op> toOp(std::uint16_t value) {
    for (Op op : allOps)
        if (code(op) == value) return op;
    return std::nullopt;
}

std::optional<Prop> toProp(std::uint16_t value) {
    for (Prop prop : allProps)
        if (code(prop) == value) return prop;
    return std::nullopt;
}

std::optional<Prop> toMirroredProp(std::uint16_t value) {
    for (Prop prop : mirroredProps)
        if (code(prop) == value) return prop;
    return std::nullopt;
}

std::optional<DataType> toDataType(std::uint16_t value) {
    if ((value >= code(DataType::int8) && value <= code(DataType::uint64)) || value == DataType::string)
        return static_cast<DataType>(value);
    return std::nullopt;
}

bool isVendor(Op op) {
    switch (op) {
        case Op::nikonCapture:
        case Op::nikonAfDrive:
        case Op::nikonChangeCameraMode:
        case Op::nikonCheckEvent:
        case Op::nikonDeviceReady:
        case Op::nikonGetVendorPropCodes:
        case Op::nikonStartLiveView:
        case Op::nikonEndLiveView:
        case Op::nikonGetLiveViewImg:
        case Op::nikonMfDrive:
        case Op::nikonChangeAfArea:
            return true;
        default:
            return false;
    }
}

QString label(Prop prop) {
    switch (prop) {
        case Prop::batteryLevel:
            return localized("バッテリー");
        case Prop::imageSize:
            return localized("画像サイズ");
        case Prop::compressionSetting:
            return localized("画質");
        case Prop::whiteBalance:
            return localized("WB");
        case Prop::fNumber:
            return localized("絞り");
        case Prop::focalLength:
            return localized("焦点距離");
        case Prop::focusMode:
            return localized("フォーカスモード");
        case Prop::exposureTime:
            return localized("シャッター");
        case Prop::exposureProgram:
            return localized("モード");
        case Prop::iso:
            return localized("ISO");
        case Prop::exposureBias:
            return localized("露出補正");
        case Prop::nikonExposureTime:
            return localized("シャッター");
        case Prop::exposureMetering:
            return localized("測光");
        case Prop::flashMode:
            return localized("フラッシュ");
        case Prop::stillCaptureMode:
            return localized("レリーズモード");
        case Prop::focusMetering:
            return localized("AF エリア");
        default:
            return name(prop);
    }
}

int byteCount(DataType type) {
    switch (type) {
        case DataType::int8:
        case DataType::uint8:
            return 1;
        case DataType::int16:
        case DataType::uint16:
            return 2;
        case DataType::int32:
        case DataType::uint32:
            return 4;
        case DataType::int64:
        case DataType::uint64:
            return 8;
        case DataType::string:
            return 0;
    }
    return 0;
}

Bytes command(Op op, std::span<const std::uint32_t> params) {
    Bytes out;
    out.reserve(12 + 4 * params.size());
    appendLE(out, static_cast<std::uint32_t>(12 + 4 * params.size()));
    appendLE(out, std::uint16_t{1});
    appendLE(out, code(op));
    appendLE(out, std::uint32_t{1});
    for (std::uint32_t param : params) appendLE(out, param);
    return out;
}

std::uint16_t responseCode(ByteView container) {
    if (container.size() < 8) return 0;
    return static_cast<std::uint16_t>(container[6] | (container[7] << 8));
}

bool isOK(ByteView container) {
    return responseCode(container) == Response::ok;
}

QString responseName(std::uint16_t value) {
    switch (static_cast<Response>(value)) {
        case Response::none:
            return localized("応答なし");
        case Response::ok:
            return QStringLiteral("OK");
        case Response::generalError:
            return QStringLiteral("GeneralError");
        case Response::sessionNotOpen:
            return QStringLiteral("SessionNotOpen");
        case Response::operationNotSupported:
            return QStringLiteral("OperationNotSupported");
        case Response::parameterNotSupported:
            return QStringLiteral("ParameterNotSupported");
        case Response::incompleteTransfer:
            return QStringLiteral("IncompleteTransfer");
        case Response::invalidStorageId:
            return QStringLiteral("InvalidStorageID");
        case Response::invalidObjectHandle:
            return QStringLiteral("InvalidObjectHandle");
        case Response::devicePropNotSupported:
            return QStringLiteral("DevicePropNotSupported");
        case Response::storeReadOnly:
            return QStringLiteral("StoreReadOnly");
        case Response::accessDenied:
            return QStringLiteral("AccessDenied");
        case Response::noThumbnailPresent:
            return QStringLiteral("NoThumbnailPresent");
        case Response::deviceBusy:
            return QStringLiteral("DeviceBusy");
        case Response::invalidParentObject:
            return QStringLiteral("InvalidParentObject");
        case Response::invalidParameter:
            return QStringLiteral("InvalidParameter");
        case Response::sessionAlreadyOpen:
            return QStringLiteral("SessionAlreadyOpen");
        case Response::transactionCancelled:
            return QStringLiteral("TransactionCancelled");
        case Response::nikonOutOfFocus:
            return localized("ピントが合いませんでした");
        case Response::nikonChangeCameraModeFailed:
            return QStringLiteral("Nikon:ChangeCameraModeFailed");
        case Response::nikonInvalidStatus:
            return QStringLiteral("Nikon:InvalidStatus");
        case Response::nikonSetPropertyNotSupported:
            return QStringLiteral("Nikon:SetPropertyNotSupported");
        case Response::nikonNotLiveView:
            return QStringLiteral("Nikon:NotLiveView");
        case Response::nikonMfDriveStepEnd:
            return localized("レンズの端に達しました");
        case Response::nikonMfDriveStepInsufficiency:
            return QStringLiteral("Nikon:MfDriveStepInsufficiency");
        case Response::nikonBusy:
            return QStringLiteral("Nikon:Busy");
        case Response::mtpObjectPropNotSupported:
            return QStringLiteral("ObjectPropNotSupported");
    }
    return QString::asprintf("0x%04x", value);
}

QString responseName(Response response) {
    return responseName(code(response));
}

QString fromUtf16Units(std::span<const char16_t> units) {
    QString out;
    out.reserve(static_cast<qsizetype>(units.size()));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit) && i + 1 < units.size() &&
            QChar::isLowSurrogate(units[i + 1])) {
            out.append(QChar(unit));
            out.append(QChar(units[++i]));
        } else if (QChar::isSurrogate(unit)) {
            out.append(QChar(QChar::ReplacementCharacter));
        } else {
            out.append(QChar(unit));
        }
    }
    return out;
}

std::optional<QString> decodeString(ByteView bytes) {
    if (bytes.empty()) return std::nullopt;
    const std::size_t count = bytes[0];
    if (count < 2) return std::nullopt;
    const std::size_t after = bytes.size() - 1;
    // The terminator is never read; a buffer shorter than announced gives its whole units.
    const std::size_t limit = std::min(2 * (count - 1), after == 0 ? 0 : after - 1);
    std::vector<char16_t> units;
    for (std::size_t pos = 0; pos < limit; pos += 2)
        units.push_back(static_cast<char16_t>(bytes[1 + pos] | (bytes[2 + pos] << 8)));
    return fromUtf16Units(units);
}

Bytes encodeString(const QString& text) {
    qsizetype n = std::min<qsizetype>(text.size(), 254);
    if (n > 0 && n < text.size() && text.at(n - 1).isHighSurrogate()) --n;
    Bytes out;
    out.reserve(static_cast<std::size_t>(1 + 2 * (n + 1)));
    out.push_back(static_cast<std::uint8_t>(n + 1));
    for (qsizetype i = 0; i < n; ++i)
        appendLE(out, static_cast<std::uint16_t>(text.at(i).unicode()));
    appendLE(out, std::uint16_t{0});
    return out;
}

}  // namespace pexil::PTP
