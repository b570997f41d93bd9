#pragma once

#include "kit/ptp/Bytes.h"

#include <QString>

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

namespace pexil::PTP {

// The operations the program knows. Declaration order matters: every case from
// nikonCapture on is a Nikon vendor operation (see isVendor), and nikonChangeCameraMode
// stands after nikonGetVendorPropCodes, out of code order.
enum class Op : std::uint16_t {
    getDeviceInfo = 0x1001,
    getStorageIDs = 0x1004,
    getObjectHandles = 0x1007,
    getObjectInfo = 0x1008,
    getObject = 0x1009,
    getThumb = 0x100A,
    initiateCapture = 0x100E,
    getDevicePropDesc = 0x1014,
    getDevicePropValue = 0x1015,
    setDevicePropValue = 0x1016,
    nikonCapture = 0x90C0,
    nikonAfDrive = 0x90C1,
    nikonCheckEvent = 0x90C7,
    nikonDeviceReady = 0x90C8,
    nikonGetVendorPropCodes = 0x90CA,
    nikonChangeCameraMode = 0x90C2,
    nikonStartLiveView = 0x9201,
    nikonEndLiveView = 0x9202,
    nikonGetLiveViewImg = 0x9203,
};

inline constexpr std::array<Op, 19> allOps{
    Op::getDeviceInfo,         Op::getStorageIDs,      Op::getObjectHandles,
    Op::getObjectInfo,         Op::getObject,          Op::getThumb,
    Op::initiateCapture,       Op::getDevicePropDesc,  Op::getDevicePropValue,
    Op::setDevicePropValue,    Op::nikonCapture,       Op::nikonAfDrive,
    Op::nikonCheckEvent,       Op::nikonDeviceReady,   Op::nikonGetVendorPropCodes,
    Op::nikonChangeCameraMode, Op::nikonStartLiveView, Op::nikonEndLiveView,
    Op::nikonGetLiveViewImg,
};

// The device properties the program reads and shows.
enum class Prop : std::uint16_t {
    batteryLevel = 0x5001,
    imageSize = 0x5003,
    compressionSetting = 0x5004,
    whiteBalance = 0x5005,
    fNumber = 0x5007,
    focalLength = 0x5008,
    focusMode = 0x500A,
    exposureTime = 0x500D,
    exposureProgram = 0x500E,
    iso = 0x500F,
    exposureBias = 0x5010,
    nikonExposureTime = 0xD100,
};

inline constexpr std::array<Prop, 12> allProps{
    Prop::batteryLevel,    Prop::imageSize,   Prop::compressionSetting, Prop::whiteBalance,
    Prop::fNumber,         Prop::focalLength, Prop::focusMode,          Prop::exposureTime,
    Prop::exposureProgram, Prop::iso,         Prop::exposureBias,       Prop::nikonExposureTime,
};

enum class DataType : std::uint16_t {
    int8 = 0x0001,
    uint8 = 0x0002,
    int16 = 0x0003,
    uint16 = 0x0004,
    int32 = 0x0005,
    uint32 = 0x0006,
    int64 = 0x0007,
    uint64 = 0x0008,
    string = 0xFFFF,
};

// The standard DateTime property, as a command parameter.
inline constexpr std::uint32_t dateTimeProp = 0x5011;
// The response code of a transaction that went through.
inline constexpr std::uint16_t responseOK = 0x2001;

constexpr std::uint16_t code(Op op) {
    return static_cast<std::uint16_t>(op);
}
constexpr std::uint16_t code(Prop prop) {
    return static_cast<std::uint16_t>(prop);
}
constexpr std::uint16_t code(DataType type) {
    return static_cast<std::uint16_t>(type);
}

// None for any code outside the enumeration.
std::optional<Op> toOp(std::uint16_t code);
std::optional<Prop> toProp(std::uint16_t code);
std::optional<DataType> toDataType(std::uint16_t code);

// A Nikon vendor operation: declared from nikonCapture on.
bool isVendor(Op op);
// The short caption of the settings inspector.
QString label(Prop prop);
// Width on the wire; 0 for string.
int byteCount(DataType type);

// A command container: length, type 1, code, transaction ID 1 (the transport numbers
// transactions), then the parameters.
Bytes command(Op op, std::span<const std::uint32_t> params = {});
inline Bytes command(Op op, std::initializer_list<std::uint32_t> params) {
    return command(op, std::span<const std::uint32_t>(params.begin(), params.size()));
}

// The response code at offset 6 of a response container; 0 when it holds fewer than 8 bytes.
std::uint16_t responseCode(ByteView container);
bool isOK(ByteView container);
// Display name of a response code; unnamed codes as "0x%04x".
QString responseName(std::uint16_t code);

// A PTP string starting at the first byte (count byte including the terminator, UTF-16LE
// units); none when empty or the count is below 2. Ill-formed UTF-16 becomes U+FFFD.
std::optional<QString> decodeString(ByteView bytes);
// Encodes text as a PTP string. The count must fit one byte, so text beyond 254 UTF-16
// units is cut there (never in the middle of a surrogate pair).
Bytes encodeString(const QString& text);

// Converts UTF-16 units to text, replacing each unpaired surrogate by U+FFFD.
QString fromUtf16Units(std::span<const char16_t> units);

template <std::integral T>
void appendLE(Bytes& out, T value) {
    using U = std::make_unsigned_t<T>;
    auto bits = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(bits & 0xFFU));
        if constexpr (sizeof(T) > 1) bits = static_cast<U>(bits >> 8);
    }
}

}  // namespace pexil::PTP
