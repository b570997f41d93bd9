#pragma once

#include "camera/transport/Transport.h"
#include "kit/ptp/Bytes.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

// The packets of PTP/IP (CIPA DC-005): an 8-byte header (32-bit length including the
// header, 32-bit type), then the payload, all little-endian. Values only: the
// connections that carry them live in PtpIpConnection.
namespace pexil::camera::ptpip {

inline constexpr std::uint16_t defaultPort = 15740;
// Major 1, minor 0: the minor number comes first on the wire.
inline constexpr std::uint32_t protocolVersion = 0x00010000;
inline constexpr std::size_t headerSize = 8;
// Data and End Data: header, then the transaction ID, then the payload.
inline constexpr std::size_t dataHeaderSize = 12;
// Every packet other than Data and End Data is small; a larger length is a broken or
// hostile peer, never a reason to allocate.
inline constexpr std::size_t maxControlPacket = 64 * 1024;
// A Start Data total that announces nothing.
inline constexpr std::uint64_t unknownTotal = ~std::uint64_t{0};
// Parameters of an operation request or response.
inline constexpr std::size_t maxParams = 5;
// Friendly names are cut to this many UTF-16 units (never inside a surrogate pair).
inline constexpr std::size_t maxNameUnits = 255;

enum class PacketType : std::uint32_t {
    initCommandRequest = 1,
    initCommandAck = 2,
    initEventRequest = 3,
    initEventAck = 4,
    initFail = 5,
    operationRequest = 6,
    operationResponse = 7,
    event = 8,
    startData = 9,
    data = 10,
    cancel = 11,
    endData = 12,
    probeRequest = 13,
    probeResponse = 14,
};

// Data phase info of an Operation Request.
enum class DataPhase : std::uint32_t { unknown = 0, noneOrIn = 1, out = 2 };

// Init Fail reasons.
enum class FailReason : std::uint32_t { rejectedInitiator = 1, busy = 2, unspecified = 3 };

using Guid = std::array<std::uint8_t, 16>;

struct InitCommandRequest {
    Guid guid{};
    QString name;
    std::uint32_t version = protocolVersion;
    friend bool operator==(const InitCommandRequest&, const InitCommandRequest&) = default;
};

struct InitCommandAck {
    std::uint32_t connectionNumber = 0;
    Guid guid{};
    QString name;
    std::uint32_t version = protocolVersion;
    friend bool operator==(const InitCommandAck&, const InitCommandAck&) = default;
};

struct InitEventRequest {
    std::uint32_t connectionNumber = 0;
    friend bool operator==(const InitEventRequest&, const InitEventRequest&) = default;
};

struct InitEventAck {
    friend bool operator==(const InitEventAck&, const InitEventAck&) = default;
};

struct InitFail {
    std::uint32_t reason = 0;
    friend bool operator==(const InitFail&, const InitFail&) = default;
};

struct OperationRequest {
    DataPhase dataPhase = DataPhase::noneOrIn;
    Operation operation;
    friend bool operator==(const OperationRequest&, const OperationRequest&) = default;
};

struct OperationResponse {
    Response response;
    friend bool operator==(const OperationResponse&, const OperationResponse&) = default;
};

struct Event {
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
    std::vector<std::uint32_t> params;
    friend bool operator==(const Event&, const Event&) = default;
};

struct StartData {
    std::uint32_t transactionId = 0;
    std::uint64_t total = 0;  // unknownTotal when the sender does not know it
    friend bool operator==(const StartData&, const StartData&) = default;
};

// Data and End Data as whole values; a transport streams their payload instead.
struct Data {
    std::uint32_t transactionId = 0;
    Bytes payload;
    friend bool operator==(const Data&, const Data&) = default;
};

struct EndData {
    std::uint32_t transactionId = 0;
    Bytes payload;
    friend bool operator==(const EndData&, const EndData&) = default;
};

struct Cancel {
    std::uint32_t transactionId = 0;
    friend bool operator==(const Cancel&, const Cancel&) = default;
};

struct ProbeRequest {
    friend bool operator==(const ProbeRequest&, const ProbeRequest&) = default;
};

struct ProbeResponse {
    friend bool operator==(const ProbeResponse&, const ProbeResponse&) = default;
};

using Packet = std::variant<InitCommandRequest, InitCommandAck, InitEventRequest, InitEventAck,
                            InitFail, OperationRequest, OperationResponse, Event, StartData, Data,
                            Cancel, EndData, ProbeRequest, ProbeResponse>;

struct Header {
    std::uint32_t length = 0;  // including the header
    std::uint32_t type = 0;    // a PacketType, or a value no known packet has
    bool isData() const {
        return type == static_cast<std::uint32_t>(PacketType::data) ||
               type == static_cast<std::uint32_t>(PacketType::endData);
    }
    friend bool operator==(const Header&, const Header&) = default;
};

PacketType typeOf(const Packet& packet);

// The whole packet, header included. Names longer than maxNameUnits and parameters past
// maxParams are left out.
Bytes encode(const Packet& packet);

// The 12 bytes that open a Data or End Data packet carrying `payloadSize` bytes, for
// senders that write the payload from where it already is. None when the packet would not
// fit its 32-bit length.
std::optional<std::array<std::uint8_t, dataHeaderSize>> dataHeader(PacketType type,
                                                                   std::uint32_t transactionId,
                                                                   std::size_t payloadSize);

// The header at the start of `bytes`; none when fewer than 8 bytes are there or the length
// cannot be right: below 8, below 12 for Data and End Data, above maxControlPacket for any
// other type (unknown types included). Data packets may announce up to 4 GiB: their payload
// is meant to be streamed, never allocated from this number.
std::optional<Header> parseHeader(ByteView bytes);

// Exactly one whole packet (its length field equal to bytes.size()); none when it is not a
// well-formed packet of a known type. Trailing bytes a packet does not define are ignored,
// as are parameters past maxParams; a name without its terminator ends with the packet.
std::optional<Packet> parse(ByteView bytes);

// An event as the standard PTP event container: length, type 4, code, transaction ID,
// parameters, little-endian.
Bytes eventContainer(const Event& event);
// The reverse; none unless `container` holds a type-4 container of at least 12 bytes whose
// length field fits in it. At most maxParams parameters are taken.
std::optional<Event> fromEventContainer(ByteView container);

}  // namespace pexil::camera::ptpip
