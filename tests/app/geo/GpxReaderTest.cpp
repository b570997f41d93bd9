#include "app/geo/GpxReader.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

ByteView view(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

Result<GeoPayload, QString> read(const QByteArray& xml) {
    return Gpx::read(view(xml));
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

// A GPX 1.1 file around the given track body.
QByteArray gpx11(const QByteArray& inside) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="logger" xmlns="http://www.topografix.com/GPX/1/1">)" +
           inside + "</gpx>\n";
}

QByteArray oneSegment(const QByteArray& points) {
    return "<trk><trkseg>" + points + "</trkseg></trk>";
}

TEST(GpxReader, ReadsEveryPointOfEveryTrackAndSegmentInDocumentOrder) {
    const auto result = read(gpx11(R"(
  <metadata><name>walk</name><time>2024-05-01T13:00:00Z</time></metadata>
  <wpt lat="1" lon="1"><time>2024-05-01T09:00:00Z</time></wpt>
  <trk><name>one</name>
    <trkseg>
      <trkpt lat="35.681236" lon="139.767125">
        <ele>40.5</ele><time>2024-05-01T10:00:00Z</time>
      </trkpt>
      <trkpt lon="-0.5" lat="-33"><time>2024-05-01T10:00:05Z</time></trkpt>
    </trkseg>
    <trkseg>
      <trkpt lat="1" lon="2"><time>2024-05-01T09:59:00Z</time><ele>-3</ele><sat>7</sat></trkpt>
    </trkseg>
  </trk>
  <rte><rtept lat="5" lon="5"><time>2024-05-01T08:00:00Z</time></rtept></rte>
  <trk><trkseg><trkpt lat="3" lon="4"><time>2024-05-01T11:00:00+09:00</time></trkpt></trkseg></trk>
)"));
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    const GeoPayload& payload = result.value();
    EXPECT_TRUE(payload.shots.empty());
    EXPECT_EQ(payload.generated, utc(2024, 5, 1, 13, 0, 0));
    ASSERT_EQ(payload.track.size(), 4U);
    EXPECT_EQ(payload.track[0],
              (GeoPoint{utc(2024, 5, 1, 10, 0, 0), 35.681236, 139.767125, 40.5, {}}));
    EXPECT_EQ(payload.track[1], (GeoPoint{utc(2024, 5, 1, 10, 0, 5), -33, -0.5, {}, {}}));
    EXPECT_EQ(payload.track[2], (GeoPoint{utc(2024, 5, 1, 9, 59, 0), 1, 2, -3, {}}));
    EXPECT_EQ(payload.track[3], (GeoPoint{utc(2024, 5, 1, 2, 0, 0), 3, 4, {}, {}}));
}

TEST(GpxReader, GeneratedFallsBackToTheFirstPoint) {
    const QByteArray points = oneSegment(R"(
        <trkpt lat="1" lon="1"><time>2024-05-01T10:00:07Z</time></trkpt>
        <trkpt lat="1" lon="1"><time>2024-05-01T09:00:00Z</time></trkpt>)");
    const auto plain = read(gpx11(points));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value().generated, utc(2024, 5, 1, 10, 0, 7));
    // An unreadable file time only names the record; the track is still good.
    const auto odd = read(gpx11("<metadata><time>yesterday</time></metadata>" + points));
    ASSERT_TRUE(odd.ok());
    EXPECT_EQ(odd.value().generated, utc(2024, 5, 1, 10, 0, 7));
}

TEST(GpxReader, ReadsGpx10AndFilesWithoutANamespace) {
    const auto old = read(R"(<?xml version="1.0"?>
<gpx version="1.0" xmlns="http://www.topografix.com/GPX/1/0">
  <time>2024-05-01T12:00:00Z</time>
  <trk><trkseg>
    <trkpt lat="1" lon="2"><ele>3</ele><time>2024-05-01T10:00:00Z</time><speed>1</speed></trkpt>
  </trkseg></trk>
</gpx>)");
    ASSERT_TRUE(old.ok()) << old.error().toStdString();
    EXPECT_EQ(old.value().generated, utc(2024, 5, 1, 12, 0, 0));
    EXPECT_EQ(old.value().track.at(0), (GeoPoint{utc(2024, 5, 1, 10, 0, 0), 1, 2, 3, {}}));

    const auto bare = read(R"(<gpx><trk><trkseg><trkpt lat="1" lon="2">
        <time>2024-05-01T10:00:00Z</time></trkpt></trkseg></trk></gpx>)");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(bare.value().track.size(), 1U);
}

TEST(GpxReader, NamespacesDecideWhatIsGpx) {
    // Prefixed GPX elements count; extension elements that reuse "time" and "ele" do not.
    const auto result = read(R"(<?xml version="1.0"?>
<g:gpx xmlns:g="http://www.topografix.com/GPX/1/1"
       xmlns:x="http://www.garmin.com/xmlschemas/TrackPointExtension/v1">
  <g:trk><g:trkseg>
    <g:trkpt lat="1" lon="2">
      <g:time>2024-05-01T10:00:00Z</g:time>
      <g:extensions><x:ele>999</x:ele><x:time>2030-01-01T00:00:00Z</x:time></g:extensions>
    </g:trkpt>
    <x:trkpt lat="9" lon="9"><x:time>2024-05-01T10:00:00Z</x:time></x:trkpt>
  </g:trkseg></g:trk>
</g:gpx>)");
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    ASSERT_EQ(result.value().track.size(), 1U);
    EXPECT_EQ(result.value().track[0], (GeoPoint{utc(2024, 5, 1, 10, 0, 0), 1, 2, {}, {}}));

    const auto foreign = read(R"(<gpx xmlns="http://example.com/other"><trk><trkseg>
        <trkpt lat="1" lon="2"><time>2024-05-01T10:00:00Z</time></trkpt></trkseg></trk></gpx>)");
    ASSERT_FALSE(foreign.ok());
    EXPECT_EQ(foreign.error(), QStringLiteral("GPX のファイルではありません"));
}

TEST(GpxReader, TimesDropFractionsAndAMissingZoneIsUtc) {
    const auto result = read(gpx11(oneSegment(R"(
        <trkpt lat="1" lon="1"><time>2024-05-01T10:00:00.999Z</time></trkpt>
        <trkpt lat="1" lon="1"><time> 2024-05-01T19:00:01.5+09:00
        </time></trkpt>
        <trkpt lat="1" lon="1"><time>2024-05-01T10:00:02</time></trkpt>
        <trkpt lat="1" lon="1"><time>2024-05-01T10:00:03.123456789</time></trkpt>)")));
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    const auto& track = result.value().track;
    ASSERT_EQ(track.size(), 4U);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(track[i].time, utc(2024, 5, 1, 10, 0, i));
}

TEST(GpxReader, ABadPointFailsTheWholeFile) {
    struct Case {
        const char* point;
        const char* error;
    };
    for (const Case& c : std::initializer_list<Case>{
             {R"(<trkpt lat="1" lon="1"><ele>5</ele></trkpt>)", "GPX の 2 点目に時刻がありません"},
             {R"(<trkpt lat="1" lon="1"><time></time></trkpt>)",
              "GPX の 2 点目の時刻の形が違います: "},
             {R"(<trkpt lat="1" lon="1"><time>2024-05-01T10:00:00.Z</time></trkpt>)",
              "GPX の 2 点目の時刻の形が違います: 2024-05-01T10:00:00.Z"},
             {R"(<trkpt lat="1" lon="1"><time>2024-02-30T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目の時刻の形が違います: 2024-02-30T10:00:00Z"},
             {R"(<trkpt lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目の緯度経度が読めません"},
             {R"(<trkpt lat="35,6" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目の緯度経度が読めません"},
             {R"(<trkpt lat="1" lon="nan"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目の緯度経度が読めません"},
             {R"(<trkpt lat="inf" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目の緯度経度が読めません"},
             {R"(<trkpt lat="1" lon="1"><time>2024-05-01T10:00:00Z</time><ele>high</ele></trkpt>)",
              "GPX の 2 点目の標高が読めません: high"},
             // Out of range: refused like unreadable numbers, never dropped quietly.
             {R"(<trkpt lat="91" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目: 緯度 91 が範囲外です（-90〜90）"},
             {R"(<trkpt lat="-90.0001" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目: 緯度 -90.0001 が範囲外です（-90〜90）"},
             {R"(<trkpt lat="1" lon="181"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目: 経度 181 が範囲外です（-180〜180）"},
             {R"(<trkpt lat="1" lon="-1e300"><time>2024-05-01T10:00:00Z</time></trkpt>)",
              "GPX の 2 点目: 経度 -1e+300 が範囲外です（-180〜180）"},
         }) {
        SCOPED_TRACE(c.point);
        const QByteArray good =
            R"(<trkpt lat="1" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)";
        const auto result = read(gpx11(oneSegment(good + c.point)));
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), QString::fromUtf8(c.error));
    }
}

TEST(GpxReader, TheEdgesOfTheMapAreOnIt) {
    const auto result = read(gpx11(oneSegment(
        R"(<trkpt lat="90" lon="-180"><time>2024-05-01T10:00:00Z</time><ele>-1e300</ele></trkpt>)"
        R"(<trkpt lat="-90" lon="180"><time>2024-05-01T10:00:01Z</time></trkpt>)")));
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    ASSERT_EQ(result.value().track.size(), 2U);
    EXPECT_EQ(result.value().track[0].lat, 90);
    EXPECT_EQ(result.value().track[1].lon, 180);
}

TEST(GpxReader, FilesWithoutTrackPointsOrNotWholeFail) {
    const QByteArray point = R"(<trkpt lat="1" lon="1"><time>2024-05-01T10:00:00Z</time></trkpt>)";
    for (const QByteArray& xml : {
             QByteArray(),
             gpx11(""),
             gpx11("<trk><trkseg></trkseg></trk>"),
             gpx11(R"(<wpt lat="1" lon="1"><time>2024-05-01T10:00:00Z</time></wpt>)"),
         }) {
        SCOPED_TRACE(xml.toStdString());
        const auto result = read(xml);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), QStringLiteral("GPX に位置がありません"));
    }
    for (const QByteArray& xml : {
             QByteArray("not xml at all"),
             gpx11(oneSegment(point)).chopped(8),                // cut off
             gpx11(oneSegment(point)) + "<gpx/>",                // a second root
             gpx11(oneSegment(point)).replace("</trkseg>", ""),  // mismatched tags
             QByteArray("<kml><trk><trkseg>" + point + "</trkseg></trk></kml>"),
             QByteArray("\xff\xfe<gpx>"),
         }) {
        SCOPED_TRACE(xml.toStdString());
        const auto result = read(xml);
        ASSERT_FALSE(result.ok());
        EXPECT_FALSE(result.error().isEmpty());
    }
}

TEST(GpxReader, AnEntityExpansionBombFailsInsteadOfExhaustingMemory) {
    QByteArray xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [\n<!ENTITY a0 \"xxxxxxxxxx\">\n";
    for (int i = 1; i < 10; ++i)
        xml +=
            QStringLiteral("<!ENTITY a%1 \"&a%2;&a%2;&a%2;&a%2;&a%2;&a%2;&a%2;&a%2;&a%2;&a%2;\">\n")
                .arg(i)
                .arg(i - 1)
                .toUtf8();
    xml +=
        "]>\n<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"1\"><time>&a9;</time></trkpt>"
        "</trkseg></trk></gpx>";
    EXPECT_FALSE(read(xml).ok());
}

}  // namespace
}  // namespace pexil
