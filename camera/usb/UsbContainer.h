#pragma once

#include "camera/transport/Transport.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTP.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

// PTP containers as they travel over USB bulk and interrupt pipes (still image class), and
// the few class-request and descriptor payloads the USB code reads. Everything here is
// header-only and free of libusb, so that the parsers can be fuzzed on their own.
// Parsers take a ByteView and never read outside it.
namespace pexil::camera::UsbContainer {

enum class Type : std::uint16_t { command = 1, data = 2, response = 3, event = 4 };

inline constexpr std::size_t headerSize = 12;
// The length field of a data container whose payload does not fit 32 bits: the receiver
// reads until the transfer ends with a short packet.
inline constexpr std::uint32_t unknownLength = 0xFFFFFFFF;
inline constexpr std::size_t maxParams = 5;
// Response and event containers carry at most five parameters.
inline constexpr std::size_t maxSmallContainer = headerSize + 4 * maxParams;

// Class-specific requests of the still image class.
inline constexpr std::uint8_t cancelRequest = 0x64;
inline constexpr std::uint8_t deviceResetRequest = 0x66;
inline constexpr std::uint8_t getDeviceStatusRequest = 0x67;

struct Header {
    std::uint32_t length = 0;
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
};

namespace detail {
inline std::uint32_t le32(ByteView bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
inline std::uint16_t le16(ByteView bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
}  // namespace detail

// None when fewer than 12 bytes are given; the fields are not judged.
inline std::optional<Header> parseHeader(ByteView bytes) {
    if (bytes.size() < headerSize) return std::nullopt;
    return Header{detail::le32(bytes, 0), detail::le16(bytes, 4), detail::le16(bytes, 6),
                  detail::le32(bytes, 8)};
}

// The command container of an operation. The caller keeps to at most five parameters.
inline Bytes command(const Operation& operation) {
    Bytes out;
    const auto count = std::min(operation.params.size(), maxParams);
    out.reserve(headerSize + 4 * count);
    PTP::appendLE(out, static_cast<std::uint32_t>(headerSize + 4 * count));
    PTP::appendLE(out, static_cast<std::uint16_t>(Type::command));
    PTP::appendLE(out, operation.code);
    PTP::appendLE(out, operation.transactionId);
    for (std::size_t i = 0; i < count; ++i) PTP::appendLE(out, operation.params[i]);
    return out;
}

// The 12-byte header of a data container announcing `payloadSize` bytes; the length field
// says unknownLength when header and payload together do not fit 32 bits.
inline Bytes dataHeader(std::uint16_t code, std::uint32_t transactionId,
                        std::uint64_t payloadSize) {
    Bytes out;
    const std::uint64_t total = payloadSize + headerSize;
    PTP::appendLE(out, total > 0xFFFFFFFEULL ? unknownLength : static_cast<std::uint32_t>(total));
    PTP::appendLE(out, static_cast<std::uint16_t>(Type::data));
    PTP::appendLE(out, code);
    PTP::appendLE(out, transactionId);
    return out;
}

// A response container: type 3, a length from 12 to 32 that the bytes hold. Parameters
// are the whole 32-bit words after the header; a stray trailing byte or two is ignored,
// as some devices pad. None for anything else.
inline std::optional<Response> parseResponse(ByteView bytes) {
    const auto header = parseHeader(bytes);
    if (!header || header->type != static_cast<std::uint16_t>(Type::response)) return std::nullopt;
    if (header->length < headerSize || header->length > maxSmallContainer) return std::nullopt;
    if (header->length > bytes.size()) return std::nullopt;
    Response response{header->code, header->transactionId, {}};
    for (std::size_t at = headerSize; at + 4 <= header->length; at += 4)
        response.params.push_back(detail::le32(bytes, at));
    return response;
}

// An event container from the interrupt pipe, cut to its announced length: type 4 and a
// length from 12 to 32 that the bytes hold. None for anything else.
inline std::optional<Bytes> parseEvent(ByteView bytes) {
    const auto header = parseHeader(bytes);
    if (!header || header->type != static_cast<std::uint16_t>(Type::event)) return std::nullopt;
    if (header->length < headerSize || header->length > maxSmallContainer) return std::nullopt;
    if (header->length > bytes.size()) return std::nullopt;
    return Bytes(bytes.begin(), bytes.begin() + header->length);
}

// The data stage of a Cancel Request: the cancellation code, then the transaction ID.
inline Bytes cancelData(std::uint32_t transactionId) {
    Bytes out;
    PTP::appendLE(out, PTP::code(PTP::Event::cancelTransaction));
    PTP::appendLE(out, transactionId);
    return out;
}

// The answer to Get Device Status: a response code and the endpoints the device stalled.
struct DeviceStatus {
    std::uint16_t code = 0;
    std::vector<std::uint8_t> endpoints;
    friend bool operator==(const DeviceStatus&, const DeviceStatus&) = default;
};

// wLength, code, then 32-bit parameters holding endpoint addresses. The count comes from
// wLength, clipped to the bytes received. None when fewer than 4 bytes are usable.
inline std::optional<DeviceStatus> parseDeviceStatus(ByteView bytes) {
    if (bytes.size() < 4) return std::nullopt;
    const std::size_t length = std::min<std::size_t>(detail::le16(bytes, 0), bytes.size());
    if (length < 4) return std::nullopt;
    DeviceStatus status{detail::le16(bytes, 2), {}};
    for (std::size_t at = 4; at + 4 <= length; at += 4)
        status.endpoints.push_back(static_cast<std::uint8_t>(detail::le32(bytes, at) & 0xFF));
    return status;
}

// A USB string descriptor (bLength, type 3, UTF-16LE units). bLength is clipped to the
// bytes received and an odd last byte dropped; ill-formed UTF-16 becomes U+FFFD. None
// when the bytes are not a string descriptor.
inline std::optional<QString> parseStringDescriptor(ByteView bytes) {
    if (bytes.size() < 2 || bytes[1] != 3 || bytes[0] < 2) return std::nullopt;
    const std::size_t length = std::min<std::size_t>(bytes[0], bytes.size());
    std::vector<char16_t> units;
    for (std::size_t at = 2; at + 2 <= length; at += 2)
        units.push_back(static_cast<char16_t>(detail::le16(bytes, at)));
    return PTP::fromUtf16Units(units);
}

// The first language of string descriptor zero; none when it lists none.
inline std::optional<std::uint16_t> parseFirstLanguage(ByteView bytes) {
    if (bytes.size() < 4 || bytes[1] != 3 || bytes[0] < 4) return std::nullopt;
    return detail::le16(bytes, 2);
}

}  // namespace pexil::camera::UsbContainer
