#include "camera/ptpip/PtpIpPackets.h"

#include <gtest/gtest.h>

namespace pexil::camera::ptpip {
namespace {

Bytes bytesOf(std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

void setLength(Bytes& packet, std::size_t length) {
    for (std::size_t i = 0; i < 4; ++i) packet[i] = static_cast<std::uint8_t>(length >> (8 * i));
}

const Guid someGuid{0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                    0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};

TEST(PtpIpPackets, OperationRequestAndStartDataHaveTheWireLayoutInitiatorsUse) {
    // Offsets as libgphoto2 reads and writes them: data phase at 8, code at 12, transaction
    // at 14, parameters from 18; Start Data's total as 64 bits after the transaction.
    EXPECT_EQ(encode(OperationRequest{DataPhase::out, {0x1016, 0x01020304, {0x5001, 7}}}),
              bytesOf({26,   0,    0, 0, 6, 0, 0, 0, 2, 0, 0, 0, 0x16, 0x10, 4, 3, 2, 1,  //
                       0x01, 0x50, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(encode(StartData{9, 0x0000000180000000ULL}),
              bytesOf({20, 0, 0, 0, 9, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0x80, 1, 0, 0, 0}));
    EXPECT_EQ(encode(OperationResponse{{0x2019, 3, {}}}),
              bytesOf({14, 0, 0, 0, 7, 0, 0, 0, 0x19, 0x20, 3, 0, 0, 0}));
    EXPECT_EQ(encode(ProbeRequest{}), bytesOf({8, 0, 0, 0, 13, 0, 0, 0}));
}

TEST(PtpIpPackets, InitCommandRequestCarriesGuidNameAndVersion) {
    const auto packet = encode(InitCommandRequest{someGuid, QStringLiteral("Pé"), protocolVersion});
    Bytes expected = bytesOf({34, 0, 0, 0, 1, 0, 0, 0});
    expected.insert(expected.end(), someGuid.begin(), someGuid.end());
    const auto tail = bytesOf({'P', 0, 0xE9, 0, 0, 0, 0, 0, 1, 0});  // NUL, minor 0, major 1
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(packet, expected);
}

TEST(PtpIpPackets, EveryPacketSurvivesEncodeAndParse) {
    const std::vector<Packet> packets{
        InitCommandRequest{someGuid, QStringLiteral("Pexil 撮影機 😀"), protocolVersion},
        InitCommandAck{7, someGuid, QStringLiteral("D850"), protocolVersion},
        InitCommandAck{1, someGuid, QString(), 0x00020001},
        InitEventRequest{7},
        InitEventAck{},
        InitFail{2},
        OperationRequest{DataPhase::noneOrIn, {0x1001, 0, {}}},
        OperationRequest{DataPhase::out, {0x9207, 0xFFFFFFFF, {1, 2, 3, 4, 5}}},
        OperationResponse{{0x2001, 12, {0xFFFFFFFF, 0}}},
        Event{0x4002, 0, {0x00010001}},
        Event{0xC101, 5, {1, 2, 3}},
        StartData{1, 0},
        StartData{1, unknownTotal},
        Data{4, Bytes(1000, 0xAB)},
        Data{4, {}},
        Cancel{4},
        EndData{4, bytesOf({1, 2, 3})},
        EndData{4, {}},
        ProbeRequest{},
        ProbeResponse{},
    };
    for (const auto& packet : packets) {
        const auto bytes = encode(packet);
        const auto header = parseHeader(bytes);
        ASSERT_TRUE(header) << static_cast<int>(typeOf(packet));
        EXPECT_EQ(header->length, bytes.size());
        EXPECT_EQ(header->type, static_cast<std::uint32_t>(typeOf(packet)));
        EXPECT_EQ(parse(bytes), packet) << static_cast<int>(typeOf(packet));
    }
}

TEST(PtpIpPackets, HeadersWithImpossibleLengthsAreRejectedBeforeAnyAllocation) {
    struct Case {
        std::uint32_t length;
        std::uint32_t type;
        bool accepted;
    };
    const std::vector<Case> cases{
        {0, 7, false},
        {7, 7, false},
        {8, 13, true},
        {11, 10, false},             // Data without room for its transaction ID
        {12, 12, true},              // empty End Data
        {64 * 1024, 7, true},        // the largest control packet
        {64 * 1024 + 1, 7, false},   // a control packet past the cap
        {64 * 1024 + 1, 99, false},  // unknown types are capped too
        {0xFFFFFFFF, 10, true},      // Data is streamed: 4 GiB is only announced
        {3000000000U, 12, true},
        {3000000000U, 9, false},  // Start Data is a control packet
    };
    for (const auto& c : cases) {
        Bytes bytes;
        for (std::size_t i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(c.length >> (8 * i)));
        for (std::size_t i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(c.type >> (8 * i)));
        EXPECT_EQ(parseHeader(bytes).has_value(), c.accepted) << c.length << " type " << c.type;
    }
    EXPECT_FALSE(parseHeader(bytesOf({8, 0, 0, 0, 13, 0, 0})));  // 7 bytes: no header yet
}

TEST(PtpIpPackets, APacketMustBeExactlyWhole) {
    auto bytes = encode(OperationResponse{{0x2001, 1, {5}}});
    EXPECT_TRUE(parse(bytes));
    bytes.push_back(0);  // one byte past the length field
    EXPECT_FALSE(parse(bytes));
    EXPECT_FALSE(parse(ByteView(bytes).first(bytes.size() - 2)));
    EXPECT_FALSE(parse(bytesOf({12, 0, 0, 0, 99, 0, 0, 0, 1, 2, 3, 4})));  // unknown type
}

TEST(PtpIpPackets, PacketsCutInsideTheirFixedFieldsDoNotParse) {
    // The length field is rewritten to each cut, as a lying peer would send it.
    const std::vector<std::pair<Packet, std::size_t>> minimumSizes{
        {InitCommandRequest{someGuid, QStringLiteral("x"), protocolVersion}, 24},
        {InitCommandAck{1, someGuid, QStringLiteral("x"), protocolVersion}, 28},
        {InitEventRequest{1}, 12},
        {OperationRequest{DataPhase::noneOrIn, {0x1001, 1, {}}}, 18},
        {OperationResponse{{0x2001, 1, {}}}, 14},
        {Event{0x4002, 1, {}}, 14},
        {StartData{1, 100}, 20},
        {Cancel{1}, 12},
    };
    for (const auto& [packet, minimum] : minimumSizes) {
        const auto whole = encode(packet);
        for (std::size_t size = headerSize; size < minimum; ++size) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            setLength(cut, size);
            EXPECT_FALSE(parse(cut)) << static_cast<int>(typeOf(packet)) << " cut to " << size;
        }
        Bytes exact(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(minimum));
        setLength(exact, minimum);
        EXPECT_TRUE(parse(exact)) << static_cast<int>(typeOf(packet));
    }
}

TEST(PtpIpPackets, NamesAreReadWithCareAndWrittenWithinBounds) {
    // No terminator: the name ends with the packet and the version is unknown.
    Bytes unterminated = bytesOf({0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0});
    unterminated.insert(unterminated.end(), someGuid.begin(), someGuid.end());
    for (const int b : {int{'Z'}, 0, int{'6'}, 0, int{'x'}})
        unterminated.push_back(static_cast<std::uint8_t>(b));
    setLength(unterminated, unterminated.size());
    const auto ack = std::get<InitCommandAck>(*parse(unterminated));
    EXPECT_EQ(ack.name, QStringLiteral("Z6"));  // the odd byte is not half a character
    EXPECT_EQ(ack.version, 0U);

    // A lone surrogate becomes U+FFFD.
    Bytes lone = bytesOf({0, 0, 0, 0, 1, 0, 0, 0});
    lone.insert(lone.end(), someGuid.begin(), someGuid.end());
    for (const int b : {0x00, 0xD8, int{'a'}, 0, 0, 0, 0, 0, 1, 0})
        lone.push_back(static_cast<std::uint8_t>(b));
    setLength(lone, lone.size());
    EXPECT_EQ(std::get<InitCommandRequest>(*parse(lone)).name, QStringLiteral("\uFFFDa"));

    // Names are cut at 255 units, never between the halves of a pair.
    QString longName(254, QLatin1Char('a'));
    longName += QStringLiteral("😀 tail");
    const auto parsed =
        std::get<InitCommandRequest>(*parse(encode(InitCommandRequest{someGuid, longName, 1})));
    EXPECT_EQ(parsed.name, QString(254, QLatin1Char('a')));
    EXPECT_EQ(parsed.version, 1U);
}

TEST(PtpIpPackets, ParametersPastFiveAreLeftOutAndStrayBytesIgnored) {
    const auto request =
        encode(OperationRequest{DataPhase::noneOrIn, {0x1001, 1, {1, 2, 3, 4, 5, 6}}});
    EXPECT_EQ(request.size(), 18U + 5 * 4);
    Bytes response = encode(OperationResponse{{0x2001, 2, {9}}});
    response.push_back(0xEE);
    response.push_back(0xEE);
    setLength(response, response.size());
    EXPECT_EQ(std::get<OperationResponse>(*parse(response)).response, (Response{0x2001, 2, {9}}));
}

TEST(PtpIpPackets, EventsConvertToAndFromTheStandardContainer) {
    EXPECT_EQ(
        eventContainer(Event{0x4006, 7, {1, 2, 3}}),
        bytesOf({24, 0, 0, 0, 4, 0, 0x06, 0x40, 7, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(eventContainer(Event{0x4008, 0, {}}),
              bytesOf({12, 0, 0, 0, 4, 0, 0x08, 0x40, 0, 0, 0, 0}));

    const auto container = bytesOf({16, 0, 0, 0, 4, 0, 0x02, 0x40, 3, 0, 0, 0, 0x21, 0x43, 0, 0});
    EXPECT_EQ(fromEventContainer(container), (Event{0x4002, 3, {0x4321}}));
    // Bytes past the container's length are not parameters.
    Bytes longer = container;
    longer.insert(longer.end(), {9, 9, 9, 9});
    EXPECT_EQ(fromEventContainer(longer), (Event{0x4002, 3, {0x4321}}));
    // Not an event, a length past the bytes, a length below the fixed part.
    EXPECT_FALSE(
        fromEventContainer(bytesOf({16, 0, 0, 0, 3, 0, 0x02, 0x40, 3, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_FALSE(
        fromEventContainer(bytesOf({20, 0, 0, 0, 4, 0, 0x02, 0x40, 3, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_FALSE(fromEventContainer(bytesOf({8, 0, 0, 0, 4, 0, 0x02, 0x40, 3, 0, 0, 0})));
    EXPECT_FALSE(fromEventContainer(bytesOf({12, 0, 0, 0, 4, 0, 0x02, 0x40, 3, 0, 0})));
}

TEST(PtpIpPackets, DataHeadersAnnounceTheirPayload) {
    EXPECT_EQ(dataHeader(PacketType::endData, 0x0A0B0C0D, 0x100),
              (std::array<std::uint8_t, 12>{0x0C, 1, 0, 0, 12, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_TRUE(dataHeader(PacketType::data, 1, 0xFFFFFFFFULL - 12));
    EXPECT_FALSE(dataHeader(PacketType::data, 1, 0xFFFFFFFFULL - 11));
}

}  // namespace
}  // namespace pexil::camera::ptpip
