#include "camera/ptpip/PtpIpPackets.h"

#include "kit/ptp/PTP.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace pexil::camera::ptpip {
namespace {

using PTP::appendLE;

// A little-endian cursor over a view: reads that do not fit give none and move nothing.
class Cursor {
public:
    explicit Cursor(ByteView bytes) : bytes_(bytes) {}

    std::size_t remaining() const { return bytes_.size() - offset_; }

    template <class T>
    std::optional<T> read() {
        if (remaining() < sizeof(T)) return std::nullopt;
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= static_cast<std::uint64_t>(bytes_[offset_ + i]) << (8 * i);
        offset_ += sizeof(T);
        return static_cast<T>(bits);
    }

    std::optional<Guid> guid() {
        if (remaining() < 16) return std::nullopt;
        Guid out{};
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_), 16, out.begin());
        offset_ += 16;
        return out;
    }

    // UTF-16LE units up to and past a NUL unit, or to the last whole unit when none comes.
    QString name() {
        std::vector<char16_t> units;
        while (remaining() >= 2) {
            const auto unit = *read<std::uint16_t>();
            if (unit == 0) break;
            units.push_back(static_cast<char16_t>(unit));
        }
        return PTP::fromUtf16Units(units);
    }

    // Up to maxParams 32-bit values; bytes short of a whole value are ignored.
    std::vector<std::uint32_t> params() {
        std::vector<std::uint32_t> out;
        while (out.size() < maxParams && remaining() >= 4) out.push_back(*read<std::uint32_t>());
        return out;
    }

    Bytes rest() {
        Bytes out(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_), bytes_.end());
        offset_ = bytes_.size();
        return out;
    }

private:
    ByteView bytes_;
    std::size_t offset_ = 0;
};

void appendName(Bytes& out, const QString& name) {
    auto units = static_cast<std::size_t>(name.size());
    if (units > maxNameUnits) {
        units = maxNameUnits;
        if (name.at(static_cast<qsizetype>(units) - 1).isHighSurrogate()) --units;
    }
    for (std::size_t i = 0; i < units; ++i)
        appendLE(out, static_cast<std::uint16_t>(name.at(static_cast<qsizetype>(i)).unicode()));
    appendLE(out, std::uint16_t{0});
}

void appendParams(Bytes& out, const std::vector<std::uint32_t>& params) {
    const auto n = std::min(params.size(), maxParams);
    for (std::size_t i = 0; i < n; ++i) appendLE(out, params[i]);
}

void appendPayload(Bytes& out, const InitCommandRequest& p) {
    out.insert(out.end(), p.guid.begin(), p.guid.end());
    appendName(out, p.name);
    appendLE(out, p.version);
}
void appendPayload(Bytes& out, const InitCommandAck& p) {
    appendLE(out, p.connectionNumber);
    out.insert(out.end(), p.guid.begin(), p.guid.end());
    appendName(out, p.name);
    appendLE(out, p.version);
}
void appendPayload(Bytes& out, const InitEventRequest& p) {
    appendLE(out, p.connectionNumber);
}
void appendPayload(Bytes&, const InitEventAck&) {}
void appendPayload(Bytes& out, const InitFail& p) {
    appendLE(out, p.reason);
}
void appendPayload(Bytes& out, const OperationRequest& p) {
    appendLE(out, static_cast<std::uint32_t>(p.dataPhase));
    appendLE(out, p.operation.code);
    appendLE(out, p.operation.transactionId);
    appendParams(out, p.operation.params);
}
void appendPayload(Bytes& out, const OperationResponse& p) {
    appendLE(out, p.response.code);
    appendLE(out, p.response.transactionId);
    appendParams(out, p.response.params);
}
void appendPayload(Bytes& out, const Event& p) {
    appendLE(out, p.code);
    appendLE(out, p.transactionId);
    appendParams(out, p.params);
}
void appendPayload(Bytes& out, const StartData& p) {
    appendLE(out, p.transactionId);
    appendLE(out, p.total);
}
void appendPayload(Bytes& out, const Data& p) {
    appendLE(out, p.transactionId);
    out.insert(out.end(), p.payload.begin(), p.payload.end());
}
void appendPayload(Bytes& out, const EndData& p) {
    appendLE(out, p.transactionId);
    out.insert(out.end(), p.payload.begin(), p.payload.end());
}
void appendPayload(Bytes& out, const Cancel& p) {
    appendLE(out, p.transactionId);
}
void appendPayload(Bytes&, const ProbeRequest&) {}
void appendPayload(Bytes&, const ProbeResponse&) {}

std::optional<Packet> parsePayload(PacketType type, Cursor& in) {
    switch (type) {
        case PacketType::initCommandRequest: {
            InitCommandRequest p;
            const auto guid = in.guid();
            if (!guid) return std::nullopt;
            p.guid = *guid;
            p.name = in.name();
            p.version = in.read<std::uint32_t>().value_or(0);
            return p;
        }
        case PacketType::initCommandAck: {
            InitCommandAck p;
            const auto number = in.read<std::uint32_t>();
            const auto guid = in.guid();
            if (!number || !guid) return std::nullopt;
            p.connectionNumber = *number;
            p.guid = *guid;
            p.name = in.name();
            p.version = in.read<std::uint32_t>().value_or(0);
            return p;
        }
        case PacketType::initEventRequest: {
            const auto number = in.read<std::uint32_t>();
            if (!number) return std::nullopt;
            return InitEventRequest{*number};
        }
        case PacketType::initEventAck:
            return InitEventAck{};
        case PacketType::initFail: {
            // Some bodies close with a bare header; the reason is then unknown.
            return InitFail{in.read<std::uint32_t>().value_or(0)};
        }
        case PacketType::operationRequest: {
            const auto phase = in.read<std::uint32_t>();
            const auto code = in.read<std::uint16_t>();
            const auto tid = in.read<std::uint32_t>();
            if (!phase || !code || !tid) return std::nullopt;
            OperationRequest p;
            p.dataPhase = static_cast<DataPhase>(*phase);
            p.operation = {*code, *tid, in.params()};
            return p;
        }
        case PacketType::operationResponse: {
            const auto code = in.read<std::uint16_t>();
            const auto tid = in.read<std::uint32_t>();
            if (!code || !tid) return std::nullopt;
            return OperationResponse{{*code, *tid, in.params()}};
        }
        case PacketType::event: {
            const auto code = in.read<std::uint16_t>();
            const auto tid = in.read<std::uint32_t>();
            if (!code || !tid) return std::nullopt;
            return Event{*code, *tid, in.params()};
        }
        case PacketType::startData: {
            const auto tid = in.read<std::uint32_t>();
            const auto total = in.read<std::uint64_t>();
            if (!tid || !total) return std::nullopt;
            return StartData{*tid, *total};
        }
        case PacketType::data: {
            const auto tid = in.read<std::uint32_t>();
            if (!tid) return std::nullopt;
            return Data{*tid, in.rest()};
        }
        case PacketType::endData: {
            const auto tid = in.read<std::uint32_t>();
            if (!tid) return std::nullopt;
            return EndData{*tid, in.rest()};
        }
        case PacketType::cancel: {
            const auto tid = in.read<std::uint32_t>();
            if (!tid) return std::nullopt;
            return Cancel{*tid};
        }
        case PacketType::probeRequest:
            return ProbeRequest{};
        case PacketType::probeResponse:
            return ProbeResponse{};
    }
    return std::nullopt;
}

bool isKnownType(std::uint32_t type) {
    return type >= static_cast<std::uint32_t>(PacketType::initCommandRequest) &&
           type <= static_cast<std::uint32_t>(PacketType::probeResponse);
}

}  // namespace

// The variant's alternatives are declared in packet-type order.
static_assert(std::is_same_v<std::variant_alternative_t<0, Packet>, InitCommandRequest>);
static_assert(std::is_same_v<std::variant_alternative_t<10, Packet>, Cancel>);
static_assert(std::is_same_v<std::variant_alternative_t<11, Packet>, EndData>);
static_assert(std::variant_size_v<Packet> == 14);

PacketType typeOf(const Packet& packet) {
    return static_cast<PacketType>(packet.index() + 1);
}

Bytes encode(const Packet& packet) {
    Bytes out(headerSize, 0);
    std::visit([&](const auto& p) { appendPayload(out, p); }, packet);
    const auto length = static_cast<std::uint32_t>(out.size());
    const auto type = static_cast<std::uint32_t>(typeOf(packet));
    for (std::size_t i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(length >> (8 * i));
        out[4 + i] = static_cast<std::uint8_t>(type >> (8 * i));
    }
    return out;
}

std::optional<std::array<std::uint8_t, dataHeaderSize>> dataHeader(PacketType type,
                                                                   std::uint32_t transactionId,
                                                                   std::size_t payloadSize) {
    if (payloadSize > std::numeric_limits<std::uint32_t>::max() - dataHeaderSize)
        return std::nullopt;
    const auto length = static_cast<std::uint32_t>(payloadSize + dataHeaderSize);
    const auto code = static_cast<std::uint32_t>(type);
    std::array<std::uint8_t, dataHeaderSize> out{};
    for (std::size_t i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(length >> (8 * i));
        out[4 + i] = static_cast<std::uint8_t>(code >> (8 * i));
        out[8 + i] = static_cast<std::uint8_t>(transactionId >> (8 * i));
    }
    return out;
}

std::optional<Header> parseHeader(ByteView bytes) {
    Cursor in(bytes);
    const auto length = in.read<std::uint32_t>();
    const auto type = in.read<std::uint32_t>();
    if (!length || !type) return std::nullopt;
    const Header header{*length, *type};
    if (header.length < headerSize) return std::nullopt;
    if (header.isData()) {
        if (header.length < dataHeaderSize) return std::nullopt;
    } else if (header.length > maxControlPacket) {
        return std::nullopt;
    }
    return header;
}

std::optional<Packet> parse(ByteView bytes) {
    const auto header = parseHeader(bytes);
    if (!header || header->length != bytes.size() || !isKnownType(header->type))
        return std::nullopt;
    Cursor in(bytes.subspan(headerSize));
    return parsePayload(static_cast<PacketType>(header->type), in);
}

Bytes eventContainer(const Event& event) {
    const auto n = std::min(event.params.size(), maxParams);
    Bytes out;
    out.reserve(12 + 4 * n);
    appendLE(out, static_cast<std::uint32_t>(12 + 4 * n));
    appendLE(out, std::uint16_t{4});
    appendLE(out, event.code);
    appendLE(out, event.transactionId);
    appendParams(out, event.params);
    return out;
}

std::optional<Event> fromEventContainer(ByteView container) {
    Cursor in(container);
    const auto length = in.read<std::uint32_t>();
    const auto type = in.read<std::uint16_t>();
    const auto code = in.read<std::uint16_t>();
    const auto tid = in.read<std::uint32_t>();
    if (!length || !type || !code || !tid) return std::nullopt;
    if (*type != 4 || *length < 12 || *length > container.size()) return std::nullopt;
    Cursor params(container.subspan(12, *length - 12));
    return Event{*code, *tid, params.params()};
}

}  // namespace pexil::camera::ptpip
