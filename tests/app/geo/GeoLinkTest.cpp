#include "app/geo/GeoLink.h"

#include "app/geo/GeoJson.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

ByteView view(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray header(const QByteArray& magic, std::uint32_t length) {
    QByteArray bytes = magic;
    for (const int shift : {24, 16, 8, 0}) bytes += static_cast<char>(length >> shift);
    return bytes;
}

std::optional<GeoLink::Failure> headerFailure(const QByteArray& bytes) {
    const auto result = GeoLink::checkHeader(view(bytes));
    if (result) return std::nullopt;
    return result.error();
}

std::optional<GeoLink::Failure> bodyFailure(const QByteArray& bytes) {
    const auto result = GeoLink::decodeEnvelope(view(bytes));
    if (result) return std::nullopt;
    return result.error();
}

GeoLink::Envelope sampleEnvelope() {
    GeoLink::Envelope envelope;
    envelope.sender = QStringLiteral("山田の \"iPhone\"\\");
    envelope.payload.generated = QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0), Qt::UTC);
    envelope.payload.shots[QStringLiteral("DSC_0001.NEF")] =
        GeoPoint{QDateTime(QDate(2024, 5, 1), QTime(11, 0, 0), Qt::UTC), 35.5, 139.25, 12, {}};
    envelope.payload.track = {
        GeoPoint{QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC), -1.5, 2.5, {}, 3}};
    return envelope;
}

TEST(GeoLinkFailure, EveryCheckHasItsText) {
    using enum GeoLink::Failure;
    EXPECT_EQ(GeoLink::failureText(header), QStringLiteral("受信できませんでした"));
    EXPECT_EQ(GeoLink::failureText(magic), QStringLiteral("形式が違います"));
    EXPECT_EQ(GeoLink::failureText(length), QStringLiteral("大きさが不正です"));
    EXPECT_EQ(GeoLink::failureText(body), QStringLiteral("本体を受信できませんでした"));
    EXPECT_EQ(GeoLink::failureText(decode), QStringLiteral("内容を解釈できませんでした"));
    EXPECT_EQ(GeoLink::failureText(busy), QStringLiteral("受信中のデータが多すぎます"));
    EXPECT_EQ(GeoLink::failureText(position), QStringLiteral("範囲外の位置が含まれています"));
    EXPECT_EQ(GeoLink::failureText(evicted),
              QStringLiteral("接続が混み合っているため打ち切りました"));
}

TEST(GeoLinkHeader, ShortHeadersAreReceptionFailures) {
    EXPECT_EQ(headerFailure(QByteArray()), GeoLink::Failure::header);
    EXPECT_EQ(headerFailure("PEXIL1"), GeoLink::Failure::header);
    EXPECT_EQ(headerFailure(header("PEXIL1", 5).left(9)), GeoLink::Failure::header);
}

TEST(GeoLinkHeader, MagicIsExactAndCheckedBeforeTheLength) {
    EXPECT_EQ(headerFailure(header("pexil1", 5)), GeoLink::Failure::magic);
    EXPECT_EQ(headerFailure(header("PEXIL2", 5)), GeoLink::Failure::magic);
    EXPECT_EQ(headerFailure(header("PEXIL ", 5)), GeoLink::Failure::magic);
    EXPECT_EQ(headerFailure(header("pexil1", 0)), GeoLink::Failure::magic);
    EXPECT_EQ(headerFailure(header(QByteArray(6, '\0'), 5)), GeoLink::Failure::magic);
}

TEST(GeoLinkHeader, LengthIsBigEndianWithinOneByteTo32MiB) {
    EXPECT_EQ(headerFailure(header("PEXIL1", 0)), GeoLink::Failure::length);
    EXPECT_EQ(headerFailure(header("PEXIL1", 33554433)), GeoLink::Failure::length);
    EXPECT_EQ(headerFailure(header("PEXIL1", 0xFFFFFFFF)), GeoLink::Failure::length);
    EXPECT_EQ(GeoLink::checkHeader(view(header("PEXIL1", 1))).value(), 1U);
    EXPECT_EQ(GeoLink::checkHeader(view(header("PEXIL1", 33554432))).value(), 33554432U);
    // Read little-endian these bytes would be 0x02010000, over the limit.
    EXPECT_EQ(GeoLink::checkHeader(view(header("PEXIL1", 0x00000102))).value(), 258U);
    // A caller may hand over more than the header; only the first ten bytes count.
    EXPECT_EQ(GeoLink::checkHeader(view(header("PEXIL1", 7) + "{body}")).value(), 7U);
}

TEST(GeoLinkEnvelope, DecodesSenderAndPayloadAndIgnoresOtherMembers) {
    const auto result = GeoLink::decodeEnvelope(view(R"({"version":3,
        "payload":{"generated":"2024-05-01T21:00:00+09:00","shots":{},"track":[],"x":[1]},
        "sender":"Pixel 8","device":{"os":"iOS"}})"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().sender, QStringLiteral("Pixel 8"));
    EXPECT_EQ(result.value().payload.generated,
              QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0), Qt::UTC));
    EXPECT_TRUE(result.value().payload.shots.empty());
}

TEST(GeoLinkEnvelope, AnythingButAWholeEnvelopeIsADecodeFailure) {
    const QByteArray empty = R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[]})";
    const QByteArray fraction = R"({"generated":"2024-05-01T12:00:00.5Z","shots":{},"track":[]})";
    for (const QByteArray& body : {
             R"({"payload":)" + empty + "}",
             QByteArray(R"({"sender":"A"})"),
             R"({"sender":null,"payload":)" + empty + "}",
             R"({"sender":["A"],"payload":)" + empty + "}",
             QByteArray(R"({"sender":"A","payload":"{}"})"),
             QByteArray(R"({"sender":"A","payload":[]})"),
             QByteArray(
                 R"({"sender":"A","payload":{"generated":"2024-05-01T12:00:00Z","track":[]}})"),
             R"({"sender":"A","payload":)" + fraction + "}",
             empty,
             QByteArray(R"([{"sender":"A"}])"),
             QByteArray("PEXIL1"),
             QByteArray(),
         }) {
        SCOPED_TRACE(body.toStdString());
        EXPECT_EQ(bodyFailure(body), GeoLink::Failure::decode);
    }
}

TEST(GeoLinkEnvelope, EncodedEnvelopeAndFrameDecodeToTheSame) {
    const GeoLink::Envelope envelope = sampleEnvelope();
    const auto decoded = GeoLink::decodeEnvelope(view(GeoLink::encodeEnvelope(envelope)));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value(), envelope);

    const QByteArray message = GeoLink::frame(envelope);
    ASSERT_GT(message.size(), GeoLink::headerSize);
    EXPECT_TRUE(message.startsWith("PEXIL1"));
    const auto length = GeoLink::checkHeader(view(message.left(GeoLink::headerSize)));
    ASSERT_TRUE(length.ok());
    EXPECT_EQ(length.value(), static_cast<std::uint32_t>(message.size() - GeoLink::headerSize));
    const auto framed = GeoLink::decodeEnvelope(view(message.mid(GeoLink::headerSize)));
    ASSERT_TRUE(framed.ok());
    EXPECT_EQ(framed.value(), envelope);
}

TEST(GeoLinkEnvelope, ABodyOfTheLargestSizeIsAccepted) {
    // Padded with whitespace, which JSON allows after the value, to exactly the limit.
    QByteArray body = GeoLink::encodeEnvelope(sampleEnvelope());
    body += QByteArray(GeoLink::maximumBody - body.size(), ' ');
    ASSERT_EQ(body.size(), static_cast<qsizetype>(GeoLink::maximumBody));
    const QByteArray message = header("PEXIL1", GeoLink::maximumBody) + body;
    const auto length = GeoLink::checkHeader(view(message.left(GeoLink::headerSize)));
    ASSERT_TRUE(length.ok());
    const auto decoded =
        GeoLink::decodeEnvelope(view(message.mid(GeoLink::headerSize, length.value())));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value(), sampleEnvelope());
}

}  // namespace
}  // namespace pexil
