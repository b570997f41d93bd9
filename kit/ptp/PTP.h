#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"

#include <QString>

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

namespace pexil::PTP {

// None for any code outside the enumeration.
std::optional<Op> toOp(std::uint16_t code);
std::optional<Prop> toProp(std::uint16_t code);
// None for a property that is not one of the mirrored settings.
std::optional<Prop> toMirroredProp(std::uint16_t code);
std::optional<DataType> toDataType(std::uint16_t code);

// A Nikon vendor operation.
bool isVendor(Op op);
// The short caption of the settings inspector (a mirrored setting), else its name.
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
QString responseName(Response response);

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
