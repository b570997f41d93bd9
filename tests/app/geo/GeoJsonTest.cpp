#include "app/geo/GeoJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

namespace pexil {
namespace {

ByteView view(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

Result<GeoPayload, QString> decode(const QByteArray& json) {
    return GeoJson::decodePayload(view(json));
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

// A payload around one track point, to vary the point alone.
QByteArray withTrackPoint(const QByteArray& point) {
    return R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[)" + point + "]}";
}

// ---- The time form ----

TEST(GeoJsonTime, ZoneFormsGiveTheSameInstant) {
    const QDateTime noon = utc(2024, 5, 1, 12, 0, 0);
    for (const char* text : {
             "2024-05-01T12:00:00Z",
             "2024-05-01T21:00:00+09:00",
             "2024-05-01T07:30:00-04:30",
             "2024-05-01T12:00:00+00:00",
             "2024-05-01T12:00:00-00:00",  // UTC, local offset unknown
             "2024-05-01t12:00:00z",       // lower case is allowed by RFC 3339
             "2024-05-02T11:59:00+23:59",
         }) {
        SCOPED_TRACE(text);
        const auto time = GeoJson::parseTime(QString::fromLatin1(text));
        ASSERT_TRUE(time);
        EXPECT_EQ(*time, noon);
        EXPECT_EQ(time->timeSpec(), Qt::UTC);
    }
}

TEST(GeoJsonTime, OffsetsMoveTheDateAcrossDaysAndYears) {
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("2024-01-01T08:59:59+09:00")),
              utc(2023, 12, 31, 23, 59, 59));
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("2024-02-28T23:00:00-01:00")),
              utc(2024, 2, 29, 0, 0, 0));
}

TEST(GeoJsonTime, CalendarAndClockLimits) {
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("2024-02-29T00:00:00Z")),
              utc(2024, 2, 29, 0, 0, 0));
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("2000-02-29T23:59:59Z")),
              utc(2000, 2, 29, 23, 59, 59));
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("0001-01-01T00:00:00Z")), utc(1, 1, 1, 0, 0, 0));
    EXPECT_EQ(GeoJson::parseTime(QStringLiteral("9999-12-31T23:59:59Z")),
              utc(9999, 12, 31, 23, 59, 59));
    for (const char* text : {
             "2023-02-29T00:00:00Z",  // not a leap year
             "1900-02-29T00:00:00Z",  // century, not a leap year
             "2024-13-01T00:00:00Z",
             "2024-00-10T00:00:00Z",
             "2024-04-31T00:00:00Z",
             "2024-05-00T00:00:00Z",
             "2024-05-01T24:00:00Z",
             "2024-05-01T12:60:00Z",
             "2016-12-31T23:59:60Z",  // leap second
             "0000-01-01T00:00:00Z",
             "0001-01-01T00:30:00+01:00",  // lands before year 1
             "9999-12-31T23:30:00-01:00",  // lands in year 10000
             "2024-05-01T12:00:00+24:00",
             "2024-05-01T12:00:00+09:60",
         }) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(GeoJson::parseTime(QString::fromLatin1(text)));
    }
}

TEST(GeoJsonTime, OnlyTheExactFormIsTaken) {
    for (const QString& text : {
             QStringLiteral("2024-05-01T12:00:00.5Z"),
             QStringLiteral("2024-05-01T12:00:00.000+09:00"),
             QStringLiteral("2024-05-01T12:00Z"),
             QStringLiteral("2024-05-01T12:00:00"),
             QStringLiteral("2024-05-01 12:00:00Z"),
             QStringLiteral("2024-05-01T12:00:00+0900"),
             QStringLiteral("2024-05-01T12:00:00+09"),
             QStringLiteral("2024-5-01T12:00:00Z"),
             QStringLiteral("20240501T120000Z"),
             QStringLiteral(" 2024-05-01T12:00:00Z"),
             QStringLiteral("2024-05-01T12:00:00Z "),
             QStringLiteral("2024-05-01T12:00:00UTC"),
             QStringLiteral("2024-05-01T12:00:00 09:00"),
             QStringLiteral("2024-05-01T1a:00:00Z"),
             QStringLiteral("2024/05/01T12:00:00Z"),
             QStringLiteral("２０２４-05-01T12:00:00Z"),  // full-width digits
             QStringLiteral("+2024-05-01T12:00:00Z"),
             QString(),
         }) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_FALSE(GeoJson::parseTime(text));
    }
}

TEST(GeoJsonTime, WrittenInUtcToTheSecondAndReadBack) {
    const QDateTime tokyo(QDate(2024, 5, 1), QTime(21, 0, 0, 789), Qt::OffsetFromUTC, 9 * 3600);
    EXPECT_EQ(GeoJson::formatTime(tokyo), QStringLiteral("2024-05-01T12:00:00Z"));
    EXPECT_EQ(GeoJson::formatTime(utc(1, 1, 1, 0, 0, 0)), QStringLiteral("0001-01-01T00:00:00Z"));
    for (const QDateTime& time : {utc(2024, 2, 29, 23, 59, 59), utc(1, 1, 1, 0, 0, 0),
                                  utc(9999, 12, 31, 23, 59, 59), utc(1970, 1, 1, 0, 0, 0)}) {
        EXPECT_EQ(GeoJson::parseTime(GeoJson::formatTime(time)), time);
    }
}

TEST(GeoJsonTime, AnUnsetTimeIsWrittenAsTheEpochSoTheDocumentStillReads) {
    EXPECT_EQ(GeoJson::formatTime(QDateTime()), QStringLiteral("1970-01-01T00:00:00Z"));
    GeoPayload payload;
    payload.track.push_back(GeoPoint{});
    EXPECT_TRUE(decode(GeoJson::encodePayload(payload)).ok());
}

// ---- Decoding ----

TEST(GeoJsonDecode, ReadsEveryMemberInAnyOrderAndIgnoresUnknownOnes) {
    const auto result = decode(R"({
        "track": [
            {"lon": 139.7, "lat": 35, "time": "2024-05-01T21:00:00+09:00",
             "speed": [1, {"x": null}]},
            {"time": "2024-05-01T12:00:05Z", "lat": -33.5, "lon": -70, "alt": -12.25,
             "accuracy": 4}
        ],
        "version": {"major": 2, "deep": [[[[["time"]]]]]},
        "shots": {
            "DSC_0001.NEF": {"time": "2024-05-01T12:00:01Z", "lat": 35.1, "lon": 139.1,
                             "alt": 40, "accuracy": null, "note": "x"}
        },
        "generated": "2024-05-01T12:10:00Z"
    })");
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    const GeoPayload& payload = result.value();
    EXPECT_EQ(payload.generated, utc(2024, 5, 1, 12, 10, 0));
    ASSERT_EQ(payload.track.size(), 2U);
    EXPECT_EQ(payload.track[0], (GeoPoint{utc(2024, 5, 1, 12, 0, 0), 35, 139.7, {}, {}}));
    EXPECT_EQ(payload.track[1], (GeoPoint{utc(2024, 5, 1, 12, 0, 5), -33.5, -70, -12.25, 4}));
    ASSERT_EQ(payload.shots.size(), 1U);
    EXPECT_EQ(payload.shots.at(QStringLiteral("DSC_0001.NEF")),
              (GeoPoint{utc(2024, 5, 1, 12, 0, 1), 35.1, 139.1, 40, {}}));
}

TEST(GeoJsonDecode, MissingAndNullAltitudeAreBothAbsentAndNeitherIsWritten) {
    const auto result = decode(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
        {"time":"2024-05-01T12:00:00Z","lat":1,"lon":2},
        {"time":"2024-05-01T12:00:00Z","lat":1,"lon":2,"alt":null,"accuracy":null}]})");
    ASSERT_TRUE(result.ok());
    for (const GeoPoint& point : result.value().track) {
        EXPECT_FALSE(point.alt);
        EXPECT_FALSE(point.accuracy);
    }
    const QByteArray encoded = GeoJson::encodePayload(result.value());
    EXPECT_FALSE(encoded.contains("alt"));
    EXPECT_FALSE(encoded.contains("accuracy"));
    EXPECT_FALSE(encoded.contains("null"));
}

TEST(GeoJsonDecode, SameInstantWithOffsetOrZIsTheSameTimePoint) {
    const auto tokyo =
        decode(withTrackPoint(R"({"time":"2024-05-01T21:00:00+09:00","lat":0,"lon":0})"));
    const auto zulu = decode(withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":0,"lon":0})"));
    ASSERT_TRUE(tokyo.ok());
    ASSERT_TRUE(zulu.ok());
    EXPECT_EQ(tokyo.value(), zulu.value());
}

TEST(GeoJsonDecode, AFractionalSecondAnywhereFailsTheWholeDocument) {
    const auto inTrack = decode(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
        {"time":"2024-05-01T12:00:00Z","lat":0,"lon":0},
        {"time":"2024-05-01T12:00:01.250Z","lat":0,"lon":0}]})");
    ASSERT_FALSE(inTrack.ok());
    EXPECT_EQ(inTrack.error(),
              QStringLiteral(
                  "「track」の 2 点目: 「time」の日時の形が違います: 2024-05-01T12:00:01.250Z"));
    const auto inGenerated =
        decode(R"({"generated":"2024-05-01T12:00:00.1Z","shots":{},"track":[]})");
    ASSERT_FALSE(inGenerated.ok());
    EXPECT_TRUE(
        inGenerated.error().startsWith(QStringLiteral("「generated」の日時の形が違います")));
}

TEST(GeoJsonDecode, TrackRangeFollowsStoredOrder) {
    const auto empty = decode(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[]})");
    ASSERT_TRUE(empty.ok());
    EXPECT_FALSE(empty.value().trackRange());

    const auto one = decode(withTrackPoint(R"({"time":"2024-05-01T12:00:07Z","lat":0,"lon":0})"));
    ASSERT_TRUE(one.ok());
    ASSERT_TRUE(one.value().trackRange());
    EXPECT_EQ(one.value().trackRange()->first, utc(2024, 5, 1, 12, 0, 7));
    EXPECT_EQ(one.value().trackRange()->second, utc(2024, 5, 1, 12, 0, 7));

    const auto backwards = decode(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
        {"time":"2024-05-01T13:00:00Z","lat":0,"lon":0},
        {"time":"2024-05-01T11:00:00Z","lat":0,"lon":0},
        {"time":"2024-05-01T12:00:00Z","lat":0,"lon":0}]})");
    ASSERT_TRUE(backwards.ok());
    const auto range = backwards.value().trackRange();
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, utc(2024, 5, 1, 13, 0, 0));
    EXPECT_EQ(range->second, utc(2024, 5, 1, 12, 0, 0));
    EXPECT_EQ(backwards.value().track[1].time, utc(2024, 5, 1, 11, 0, 0));
}

TEST(GeoJsonDecode, ShotKeysAreExactAndCaseSensitive) {
    const auto result = decode(R"({"generated":"2024-05-01T12:00:00Z","track":[],"shots":{
        "DSC_0001.NEF":{"time":"2024-05-01T12:00:00Z","lat":1,"lon":1},
        "dsc_0001.nef":{"time":"2024-05-01T12:00:00Z","lat":2,"lon":2},
        "DSC_0001.JPG":{"time":"2024-05-01T12:00:00Z","lat":3,"lon":3},
        "写真 1.NEF":{"time":"2024-05-01T12:00:00Z","lat":4,"lon":4}}})");
    ASSERT_TRUE(result.ok());
    const auto& shots = result.value().shots;
    ASSERT_EQ(shots.size(), 4U);
    EXPECT_EQ(shots.at(QStringLiteral("DSC_0001.NEF")).lat, 1);
    EXPECT_EQ(shots.at(QStringLiteral("dsc_0001.nef")).lat, 2);
    EXPECT_EQ(shots.at(QStringLiteral("DSC_0001.JPG")).lat, 3);
    EXPECT_EQ(shots.at(QStringLiteral("写真 1.NEF")).lat, 4);
}

TEST(GeoJsonDecode, EveryRequiredMemberIsRequired) {
    struct Case {
        const char* json;
        const char* error;
    };
    for (const Case& c : std::initializer_list<Case>{
             {R"({"generated":"2024-05-01T12:00:00Z","track":[]})", "「shots」がありません"},
             {R"({"generated":"2024-05-01T12:00:00Z","shots":{}})", "「track」がありません"},
             {R"({"shots":{},"track":[]})", "「generated」がありません"},
             {R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[{"lat":1,"lon":1}]})",
              "「track」の 1 点目: 「time」がありません"},
             {R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
                 {"time":"2024-05-01T12:00:00Z","lat":1,"lon":1},
                 {"time":"2024-05-01T12:00:00Z","lon":1}]})",
              "「track」の 2 点目: 「lat」がありません"},
             {R"({"generated":"2024-05-01T12:00:00Z","track":[],"shots":{
                 "A.JPG":{"time":"2024-05-01T12:00:00Z","lat":1}}})",
              "「shots」の「A.JPG」: 「lon」がありません"},
         }) {
        SCOPED_TRACE(c.json);
        const auto result = decode(c.json);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), QString::fromUtf8(c.error));
    }
}

TEST(GeoJsonDecode, AValueOfTheWrongTypeFailsTheWholeDocument) {
    for (const char* json : {
             R"({"generated":"2024-05-01T12:00:00Z","shots":[],"track":[]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":{}})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":null,"track":[]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":null})",
             R"({"generated":1714564800,"shots":{},"track":[]})",
             R"({"generated":null,"shots":{},"track":[]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{"A.JPG":5},"track":[]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{"A.JPG":[]},"track":[]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[5]})",
             R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[[]]})",
         }) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(decode(json).ok());
    }
    for (const char* point : {
             R"({"time":"2024-05-01T12:00:00Z","lat":"35.6","lon":1})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":null})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":true})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":[1]})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":1,"alt":"12"})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":1,"alt":false})",
             R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":1,"accuracy":{}})",
             R"({"time":1714564800,"lat":1,"lon":1})",
             R"({"time":null,"lat":1,"lon":1})",
             R"({"time":{"iso":"2024-05-01T12:00:00Z"},"lat":1,"lon":1})",
         }) {
        SCOPED_TRACE(point);
        EXPECT_FALSE(decode(withTrackPoint(point)).ok());
    }
    const auto result =
        decode(withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":"1","lon":1})"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), QStringLiteral("「track」の 1 点目: 「lat」が数ではありません"));
}

TEST(GeoJsonDecode, InputThatIsNotOneJsonObjectFails) {
    for (const QByteArray& json : {
             QByteArray(),
             QByteArray("   "),
             QByteArray("[]"),
             QByteArray("\"text\""),
             QByteArray("null"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[])"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[]} x)"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[]}{})"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[],})"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z" /*c*/,"shots":{},"track":[]})"),
             QByteArray("{\"generated\":\"2024-05-01T12:00:00Z\",\"shots\":{\"\xff.JPG\":"
                        "{\"time\":\"2024-05-01T12:00:00Z\",\"lat\":1,\"lon\":1}},\"track\":[]}"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
                 {"time":"2024-05-01T12:00:00Z","lat":1e400,"lon":1}]})"),
             QByteArray(R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[
                 {"time":"2024-05-01T12:00:00Z","lat":NaN,"lon":1}]})"),
         }) {
        SCOPED_TRACE(json.toStdString());
        const auto result = decode(json);
        ASSERT_FALSE(result.ok());
        EXPECT_FALSE(result.error().isEmpty());
    }
}

TEST(GeoJsonDecode, NumbersInEveryJsonFormReadAsDouble) {
    const auto result =
        decode(withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":-0.0,"lon":1.5E+2,)"
                              R"("alt":-9223372036854775808,"accuracy":18446744073709551615})"));
    ASSERT_TRUE(result.ok());
    const GeoPoint& point = result.value().track.at(0);
    EXPECT_EQ(point.lat, 0);
    EXPECT_EQ(point.lon, 150);
    EXPECT_EQ(point.alt, -9223372036854775808.0);
    EXPECT_EQ(point.accuracy, 18446744073709551615.0);
    const auto huge = decode(withTrackPoint(
        R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":1,"alt":123456789012345678901234567890})"));
    ASSERT_TRUE(huge.ok());
    EXPECT_DOUBLE_EQ(*huge.value().track.at(0).alt, 1.2345678901234568e29);
}

TEST(GeoJsonDecode, APositionOffTheEarthFailsTheWholeDocumentAndSaysWhere) {
    const QByteArray good = R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":1})";
    struct Case {
        QByteArray json;
        const char16_t* error;  // none: decodes
    };
    const std::vector<Case> cases{
        {withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":91,"lon":1})"),
         u"「track」の 1 点目: 緯度 91 が範囲外です（-90〜90）"},
        {withTrackPoint(good + R"(,{"time":"2024-05-01T12:00:00Z","lat":-90.0001,"lon":1})"),
         u"「track」の 2 点目: 緯度 -90.0001 が範囲外です（-90〜90）"},
        {withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":181})"),
         u"「track」の 1 点目: 経度 181 が範囲外です（-180〜180）"},
        {withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":1,"lon":-1e300})"),
         u"「track」の 1 点目: 経度 -1e+300 が範囲外です（-180〜180）"},
        {R"({"generated":"2024-05-01T12:00:00Z","track":[],"shots":{"A.JPG":)"
         R"({"time":"2024-05-01T12:00:00Z","lat":91.5,"lon":1}}})",
         u"「shots」の「A.JPG」: 緯度 91.5 が範囲外です（-90〜90）"},
        {withTrackPoint(R"({"time":"2024-05-01T12:00:00Z","lat":90,"lon":-180},)"
                        R"({"time":"2024-05-01T12:00:00Z","lat":-90,"lon":180,"alt":-1e300})"),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json.toStdString());
        const auto result = decode(c.json);
        if (c.error == nullptr) {
            EXPECT_TRUE(result.ok()) << result.error().toStdString();
        } else {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error(), QString::fromUtf16(c.error));
        }
    }
}

TEST(GeoJsonDecode, ARepeatedMemberReplacesTheEarlierOne) {
    const auto result = decode(R"({"generated":"2024-05-01T12:00:00Z",
        "shots":{"A.JPG":{"time":"2024-05-01T12:00:00Z","lat":1,"lon":1}},
        "track":[{"time":"2024-05-01T12:00:00Z","lat":1,"lon":1,"alt":5,"alt":null}],
        "shots":{"B.JPG":{"time":"2024-05-01T12:00:00Z","lat":2,"lon":2}}})");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().shots.size(), 1U);
    EXPECT_TRUE(result.value().shots.contains(QStringLiteral("B.JPG")));
    EXPECT_FALSE(result.value().track.at(0).alt);
}

TEST(GeoJsonDecode, DeepNestingInAnIgnoredMemberNeitherCrashesNorFails) {
    constexpr int depth = 200000;
    const QByteArray nested = QByteArray(depth, '[') + QByteArray(depth, ']');
    const QByteArray json =
        R"({"generated":"2024-05-01T12:00:00Z","shots":{},"track":[],"extra":)" + nested + "}";
    EXPECT_TRUE(decode(json).ok());
    EXPECT_FALSE(decode(R"({"extra":)" + QByteArray(depth, '[')).ok());
}

// ---- Encoding ----

TEST(GeoJsonEncode, RoundTripKeepsEveryValue) {
    GeoPayload payload;
    payload.generated = QDateTime(QDate(2024, 5, 1), QTime(21, 0, 0), Qt::OffsetFromUTC, 9 * 3600);
    payload.shots[QStringLiteral("DSC_0001.NEF")] =
        GeoPoint{utc(2024, 5, 1, 11, 59, 0), 35.681236, 139.767125, 3.5, 4.9};
    payload.shots[QStringLiteral("写真 \"1\"\\.jpg")] =
        GeoPoint{utc(2024, 5, 1, 11, 59, 30), -1.0 / 3, 2.0 / 3, {}, 65};
    payload.track = {
        GeoPoint{utc(2024, 5, 1, 11, 0, 0), 0.1, 0.2, -400.0, {}},
        GeoPoint{utc(2024, 5, 1, 10, 0, 0), -90, 180, {}, {}},
        GeoPoint{utc(2024, 5, 1, 12, 0, 0), std::numeric_limits<double>::min(), -180,
                 std::numeric_limits<double>::max(), 0.0},
    };
    const auto decoded = decode(GeoJson::encodePayload(payload));
    ASSERT_TRUE(decoded.ok()) << decoded.error().toStdString();
    EXPECT_EQ(decoded.value(), payload);
}

TEST(GeoJsonEncode, WritesUtcTimesAndOnlyThePresentMembers) {
    GeoPayload payload;
    payload.generated = QDateTime(QDate(2024, 5, 1), QTime(21, 0, 0), Qt::OffsetFromUTC, 9 * 3600);
    payload.track = {GeoPoint{utc(2024, 5, 1, 11, 0, 0), 1, 2, {}, 7}};
    const QJsonObject json = QJsonDocument::fromJson(GeoJson::encodePayload(payload)).object();
    EXPECT_EQ(json.value(QStringLiteral("generated")).toString(),
              QStringLiteral("2024-05-01T12:00:00Z"));
    EXPECT_TRUE(json.value(QStringLiteral("shots")).isObject());
    const QJsonObject point = json.value(QStringLiteral("track")).toArray().at(0).toObject();
    EXPECT_EQ(point.keys(), (QStringList{QStringLiteral("accuracy"), QStringLiteral("lat"),
                                         QStringLiteral("lon"), QStringLiteral("time")}));
    EXPECT_EQ(point.value(QStringLiteral("accuracy")).toDouble(), 7);

    const QJsonObject empty = QJsonDocument::fromJson(GeoJson::encodePayload({})).object();
    EXPECT_TRUE(empty.value(QStringLiteral("shots")).toObject().isEmpty());
    EXPECT_TRUE(empty.value(QStringLiteral("track")).isArray());
}

}  // namespace
}  // namespace pexil
