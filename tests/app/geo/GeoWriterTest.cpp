#include "app/geo/GeoWriter.h"
#include "tests/app/geo/PictureFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <random>

namespace pexil {
namespace {

using testing::PictureSpec;

const QTimeZone tokyo(9 * 3600);

// 2024-05-01 12:00:00 on a camera clock set to Tokyo time is 03:00:00 UTC.
const QDateTime noonInTokyo(QDate(2024, 5, 1), QTime(3, 0), QTimeZone::utc());

GeoPoint point(const QDateTime& time, double lat, double lon = 139.0) {
    return GeoPoint{time, lat, lon, std::nullopt, std::nullopt};
}

PictureSpec dated(const char* text = "2024:05:01 12:00:00") {
    PictureSpec spec;
    spec.dateTimeOriginal = QByteArray(text);
    return spec;
}

class GeoWriterTest : public ::testing::Test {
protected:
    QString jpeg(const QString& name, const PictureSpec& spec = {}) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(testing::writeFile(path, testing::jpeg(spec)));
        return path;
    }
    QString tiff(const QString& name, const PictureSpec& spec = {}) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(testing::writeFile(path, testing::tiff(spec)));
        return path;
    }
    GeoWriter writer(GeoPayload payload, double tolerance = 120, bool overwrite = false) {
        return GeoWriter(std::move(payload), tolerance, overwrite, tokyo);
    }

    QTemporaryDir dir;
};

TEST_F(GeoWriterTest, CaptureDateIsTheCameraClockInTheGivenZone) {
    const QString names[] = {jpeg(QStringLiteral("a.jpg"), dated()),
                             tiff(QStringLiteral("b.tif"), dated()),
                             tiff(QStringLiteral("c.NEF"), [] {
                                 auto spec = dated();
                                 spec.bigEndian = true;
                                 return spec;
                             }())};
    for (const QString& path : names) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(GeoWriter::captureDate(path, tokyo), noonInTokyo);
        EXPECT_EQ(GeoWriter::captureDate(path, QTimeZone::utc()), noonInTokyo.addSecs(9 * 3600));
        EXPECT_FALSE(GeoWriter::hasGPS(path));
    }
    // The offset is that of the picture's date, not of today: summer and winter time differ.
    const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));
    ASSERT_TRUE(berlin.isValid());
    EXPECT_EQ(
        GeoWriter::captureDate(jpeg(QStringLiteral("s.jpg"), dated("2024:07:01 12:00:00")), berlin),
        QDateTime(QDate(2024, 7, 1), QTime(10, 0), QTimeZone::utc()));
    EXPECT_EQ(
        GeoWriter::captureDate(jpeg(QStringLiteral("w.jpg"), dated("2024:01:01 12:00:00")), berlin),
        QDateTime(QDate(2024, 1, 1), QTime(11, 0), QTimeZone::utc()));
    // Without a zone the computer's own is taken.
    EXPECT_EQ(GeoWriter::captureDate(names[0]),
              QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::systemTimeZone()));
}

TEST_F(GeoWriterTest, ADateThatIsNotExactlyTheExifTextFormIsNoDate) {
    const char* broken[] = {"2024:05:01 12:00",        "2024-05-01 12:00:00",
                            "2024:13:01 12:00:00",     "2024:02:30 12:00:00",
                            "2024:05:01 24:00:00",     "    :  :     :  :  ",
                            "2024:05:01 12:00:00Z",    "2024:05:01T12:00:00",
                            "２０２４:05:01 12:00:00", ""};
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        EXPECT_EQ(GeoWriter::captureDate(jpeg(QStringLiteral("x.jpg"), dated(text)), tokyo),
                  std::nullopt);
    }
    auto bytes = dated();
    bytes.dateAsBytes = true;  // the right text, but not stored as text
    EXPECT_EQ(GeoWriter::captureDate(jpeg(QStringLiteral("u.jpg"), bytes), tokyo), std::nullopt);
}

TEST_F(GeoWriterTest, UnreadablePicturesHaveNeitherDateNorGPS) {
    const QString noExif = jpeg(QStringLiteral("plain.jpg"));
    const QString text = dir.filePath(QStringLiteral("text.jpg"));
    ASSERT_TRUE(testing::writeFile(text, "not a picture at all"));
    const QString empty = dir.filePath(QStringLiteral("empty.nef"));
    ASSERT_TRUE(testing::writeFile(empty, {}));
    const QString truncated = dir.filePath(QStringLiteral("cut.tif"));
    ASSERT_TRUE(testing::writeFile(truncated, testing::tiff(dated()).left(40)));
    for (const QString& path :
         {noExif, text, empty, truncated, dir.filePath(QStringLiteral("gone.jpg")), dir.path()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(GeoWriter::captureDate(path, tokyo), std::nullopt);
        EXPECT_FALSE(GeoWriter::hasGPS(path));
    }
}

TEST_F(GeoWriterTest, AnyGPSTagCountsAsAGPSBlock) {
    auto spec = dated();
    spec.gps = true;
    EXPECT_TRUE(GeoWriter::hasGPS(jpeg(QStringLiteral("g.jpg"), spec)));
    spec.bigEndian = true;
    EXPECT_TRUE(GeoWriter::hasGPS(tiff(QStringLiteral("g.tiff"), spec)));
    PictureSpec onlyGps;
    onlyGps.gps = true;
    EXPECT_TRUE(GeoWriter::hasGPS(jpeg(QStringLiteral("h.jpg"), onlyGps)));
}

TEST_F(GeoWriterTest, AShotEntryWinsByExactFileNameEvenWithoutCaptureTime) {
    GeoPayload payload;
    payload.shots[QStringLiteral("DSC_0001.JPG")] = point(noonInTokyo.addDays(-3), 10);
    payload.shots[QStringLiteral("dsc_0002.jpg")] = point(noonInTokyo, 20);
    payload.track = {point(noonInTokyo, 30)};
    const GeoWriter w = writer(payload);

    const QString undated = jpeg(QStringLiteral("DSC_0001.JPG"));
    const auto exact = w.match(undated);
    ASSERT_TRUE(exact);
    EXPECT_EQ(*exact, (GeoWriter::Match{undated, payload.shots[QStringLiteral("DSC_0001.JPG")],
                                        true, std::nullopt, std::nullopt}));

    // The capture time is still read and kept, and the track is not consulted.
    const QString withDate = jpeg(QStringLiteral("dsc_0002.jpg"), dated());
    const auto kept = w.match(withDate);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->exact);
    EXPECT_EQ(kept->point.lat, 20);
    EXPECT_EQ(kept->captured, noonInTokyo);
    EXPECT_EQ(kept->gap, std::nullopt);

    // Letter case counts: this one is found on the track instead.
    const auto byTime = w.match(jpeg(QStringLiteral("DSC_0002.JPG"), dated()));
    ASSERT_TRUE(byTime);
    EXPECT_FALSE(byTime->exact);
    EXPECT_EQ(byTime->point.lat, 30);
    EXPECT_EQ(byTime->gap, 0.0);
    EXPECT_FALSE(w.match(jpeg(QStringLiteral("dsc_0001.jpg"))));
}

TEST_F(GeoWriterTest, ToleranceIsInclusiveToTheMillisecond) {
    const QString picture = jpeg(QStringLiteral("p.jpg"), dated());
    const auto gapFor = [&](qint64 ms, double tolerance) -> std::optional<double> {
        GeoPayload payload;
        payload.track = {point(noonInTokyo.addMSecs(ms), 1)};
        const auto m = writer(payload, tolerance).match(picture);
        return m ? m->gap : std::nullopt;
    };
    EXPECT_EQ(gapFor(120000, 120), 120.0);
    EXPECT_EQ(gapFor(-120000, 120), 120.0);
    EXPECT_EQ(gapFor(121000, 120), std::nullopt);
    EXPECT_EQ(gapFor(-120001, 120), std::nullopt);
    EXPECT_EQ(gapFor(30500, 30.5), 30.5);
    EXPECT_EQ(gapFor(0, 0), 0.0);
    EXPECT_EQ(gapFor(1, 0), std::nullopt);
    EXPECT_EQ(gapFor(0, -1), std::nullopt);
    EXPECT_EQ(gapFor(0, std::nan("")), std::nullopt);
}

TEST_F(GeoWriterTest, AmongEquallyNearPointsTheEarlierInTheListWins) {
    const QString picture = jpeg(QStringLiteral("p.jpg"), dated());
    const auto before = point(noonInTokyo.addSecs(-60), 1);
    const auto after = point(noonInTokyo.addSecs(60), 2);
    const auto same = point(noonInTokyo.addSecs(60), 3);
    const auto far = point(noonInTokyo.addSecs(-61), 4);
    const auto chosen = [&](std::vector<GeoPoint> track) {
        GeoPayload payload;
        payload.track = std::move(track);
        const auto m = writer(payload).match(picture);
        return m ? m->point.lat : -1.0;
    };
    EXPECT_EQ(chosen({before, after}), 1);
    EXPECT_EQ(chosen({after, before}), 2);
    EXPECT_EQ(chosen({far, same, before, after}), 3);
    EXPECT_EQ(chosen({far, before, same}), 1);
    // Stored out of time order: still the nearest, not the first later one.
    EXPECT_EQ(chosen({point(noonInTokyo.addSecs(100), 5), point(noonInTokyo.addSecs(-500), 6),
                      point(noonInTokyo.addSecs(-2), 7), point(noonInTokyo.addSecs(3), 8)}),
              7);
}

TEST_F(GeoWriterTest, NothingToMatchAgainstGivesNoMatch) {
    GeoPayload empty;
    EXPECT_FALSE(writer(empty).match(jpeg(QStringLiteral("dated.jpg"), dated())));
    GeoPayload track;
    track.track = {point(noonInTokyo, 1)};
    EXPECT_FALSE(writer(track).match(jpeg(QStringLiteral("undated.jpg"))));
    EXPECT_FALSE(writer(track).match(dir.filePath(QStringLiteral("missing.jpg"))));
    // A point whose own time is unknown is never the nearest.
    track.track = {point(QDateTime(), 1)};
    EXPECT_FALSE(writer(track).match(jpeg(QStringLiteral("dated.jpg"), dated())));
    EXPECT_FALSE(writer(track).nearest(noonInTokyo));
}

TEST_F(GeoWriterTest, CanLocateDecidesLikeMatchWithoutAFile) {
    GeoPayload payload;
    payload.shots[QStringLiteral("DSC_0001.NEF")] = point(noonInTokyo, 1);
    payload.track = {point(noonInTokyo, 2)};
    const GeoWriter w = writer(payload);
    EXPECT_TRUE(w.canLocate(QStringLiteral("DSC_0001.NEF"), std::nullopt));
    EXPECT_FALSE(w.canLocate(QStringLiteral("dsc_0001.nef"), std::nullopt));
    EXPECT_FALSE(w.canLocate(QStringLiteral("DSC_0002.NEF"), std::nullopt));
    EXPECT_TRUE(w.canLocate(QStringLiteral("DSC_0002.NEF"), noonInTokyo.addSecs(120)));
    EXPECT_FALSE(w.canLocate(QStringLiteral("DSC_0002.NEF"), noonInTokyo.addSecs(-121)));
    EXPECT_FALSE(w.canLocate(QStringLiteral("DSC_0002.NEF"), QDateTime()));
}

// What the index must be equivalent to: a walk in stored order that keeps the first point with
// the smallest distance.
std::optional<GeoWriter::Nearest> linearNearest(const std::vector<qint64>& times, qint64 at) {
    std::optional<GeoWriter::Nearest> best;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const auto d = static_cast<std::uint64_t>(std::llabs(times[i] - at));
        if (!best || d < best->distanceMs) best = GeoWriter::Nearest{i, d};
    }
    return best;
}

std::vector<qint64> timesOf(const GeoPayload& payload) {
    std::vector<qint64> times;
    for (const auto& p : payload.track) times.push_back(p.time.toMSecsSinceEpoch());
    return times;
}

TEST(GeoWriterIndex, FindsWhatALinearWalkFindsIncludingTiesAndDuplicateTimes) {
    std::mt19937 random(20240501);
    const QDateTime base(QDate(2024, 5, 1), QTime(0, 0), QTimeZone::utc());
    int ties = 0;
    for (int round = 0; round < 3000; ++round) {
        // Few distinct times in a narrow range, so that equal times and equal distances on
        // both sides are common; sometimes sorted, sometimes not.
        const int size = std::uniform_int_distribution(0, 40)(random);
        const int span = std::uniform_int_distribution(1, 30)(random);
        std::uniform_int_distribution<int> second(0, span);
        GeoPayload payload;
        for (int i = 0; i < size; ++i)
            payload.track.push_back(point(base.addSecs(second(random)), i));
        if (round % 3 == 0)
            std::sort(payload.track.begin(), payload.track.end(),
                      [](const auto& a, const auto& b) { return a.time < b.time; });
        const GeoWriter w(payload);
        const auto times = timesOf(payload);
        for (int q = 0; q < 20; ++q) {
            const QDateTime at = base.addMSecs(
                std::uniform_int_distribution(-5000, span * 1000 + 5000)(random) / 500 * 500);
            const auto expected = linearNearest(times, at.toMSecsSinceEpoch());
            ASSERT_EQ(w.nearest(at), expected) << "round " << round << " query " << q;
            if (expected) {
                const auto d = static_cast<qint64>(expected->distanceMs);
                ties += std::count_if(times.begin(), times.end(), [&](qint64 t) {
                            return std::llabs(t - at.toMSecsSinceEpoch()) == d;
                        }) > 1;
            }
        }
    }
    EXPECT_GT(ties, 1000);  // the data really exercised the tie rule
}

TEST(GeoWriterIndex, ALargeTrackAgreesWithTheLinearWalk) {
    std::mt19937 random(7);
    const QDateTime base(QDate(2024, 5, 1), QTime(0, 0), QTimeZone::utc());
    GeoPayload payload;
    // A day of one-second fixes with jitter and repeats, as a logger that stalls produces.
    for (int i = 0; i < 100000; ++i)
        payload.track.push_back(
            point(base.addSecs(i - std::uniform_int_distribution(0, 3)(random)), i));
    const GeoWriter w(payload);
    const auto times = timesOf(payload);
    for (int q = 0; q < 200; ++q) {
        const QDateTime at =
            base.addMSecs(std::uniform_int_distribution<qint64>(-10000, 110000000)(random));
        ASSERT_EQ(w.nearest(at), linearNearest(times, at.toMSecsSinceEpoch())) << q;
    }
    EXPECT_FALSE(w.nearest(QDateTime()));
}

TEST_F(GeoWriterTest, PlanSortsByBytesAndKeepsOnlyPictureFiles) {
    GeoPayload payload;
    const QStringList pictures{QStringLiteral("DSC_0002.NEF"),
                               QStringLiteral("dsc_0001.jpg"),
                               QStringLiteral(".hidden.jpeg"),
                               QStringLiteral("B.Tif"),
                               QStringLiteral("c.TIFF"),
                               QStringLiteral("raw.cr3"),
                               QStringLiteral("x.heic"),
                               QStringLiteral("y.dng"),
                               QStringLiteral("z.rw2"),
                               QStringLiteral("a.ARW"),
                               QStringLiteral("o.orf"),
                               QStringLiteral("f.raf"),
                               QStringLiteral("n.nrw"),
                               QStringLiteral("k.cr2"),
                               QString::fromUtf8("\xEF\xBC\xA1.jpg"),       // U+FF21
                               QString::fromUtf8("\xF0\x9F\x98\x80.jpg")};  // U+1F600
    for (const QString& name : pictures) jpeg(name);
    for (const char* other : {"DSC_0002.xmp", "clip.mov", "notes.txt", "jpg", "DSC.jpg.bak"})
        ASSERT_TRUE(testing::writeFile(dir.filePath(QString::fromUtf8(other)), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.jpg")));

    const auto plan = writer(payload).plan(dir.path());
    QStringList names;
    for (const QString& path : plan.unmatched) names << QFileInfo(path).fileName();
    // Byte order of UTF-8: upper case first, and U+FF21 before U+1F600 (UTF-16 order would
    // put the surrogate pair first).
    EXPECT_EQ(
        names,
        (QStringList{
            QStringLiteral(".hidden.jpeg"), QStringLiteral("B.Tif"), QStringLiteral("DSC_0002.NEF"),
            QStringLiteral("a.ARW"), QStringLiteral("c.TIFF"), QStringLiteral("dsc_0001.jpg"),
            QStringLiteral("f.raf"), QStringLiteral("k.cr2"), QStringLiteral("n.nrw"),
            QStringLiteral("o.orf"), QStringLiteral("raw.cr3"), QStringLiteral("x.heic"),
            QStringLiteral("y.dng"), QStringLiteral("z.rw2"), QString::fromUtf8("\xEF\xBC\xA1.jpg"),
            QString::fromUtf8("\xF0\x9F\x98\x80.jpg")}));
    EXPECT_TRUE(plan.matches.empty());
    EXPECT_TRUE(plan.alreadyTagged.empty());
    EXPECT_EQ(GeoWriter::pictures(dir.path()), plan.unmatched);
}

TEST_F(GeoWriterTest, PlanOfAFolderWithoutPicturesOrThatCannotBeListedIsEmpty) {
    GeoPayload payload;
    payload.shots[QStringLiteral("DSC_0001.MOV")] = point(noonInTokyo, 1);
    ASSERT_TRUE(testing::writeFile(dir.filePath(QStringLiteral("DSC_0001.MOV")), "x"));
    ASSERT_TRUE(testing::writeFile(dir.filePath(QStringLiteral("DSC_0001.XMP")), "x"));
    EXPECT_EQ(writer(payload).plan(dir.path()), GeoWriter::Plan{});
    EXPECT_EQ(writer(payload).plan(dir.filePath(QStringLiteral("nowhere"))), GeoWriter::Plan{});
}

TEST_F(GeoWriterTest, PlanSortsPicturesIntoTheThreeLists) {
    auto tagged = dated();
    tagged.gps = true;
    const QString exact = jpeg(QStringLiteral("A_exact.jpg"));
    const QString taggedInShots = jpeg(QStringLiteral("B_tagged.jpg"), tagged);
    const QString estimated = tiff(QStringLiteral("C_estimated.tif"), dated("2024:05:01 12:01:30"));
    const QString tooFar = jpeg(QStringLiteral("D_far.jpg"), dated("2024:05:01 12:10:00"));
    const QString undated = jpeg(QStringLiteral("E_undated.jpg"));
    GeoPayload payload;
    payload.shots[QStringLiteral("A_exact.jpg")] = point(noonInTokyo, 1);
    payload.shots[QStringLiteral("B_tagged.jpg")] = point(noonInTokyo, 2);
    payload.track = {point(noonInTokyo, 3), point(noonInTokyo.addSecs(100), 4)};

    const auto plan = writer(payload).plan(dir.path());
    ASSERT_EQ(plan.matches.size(), 2U);
    EXPECT_EQ(
        plan.matches[0],
        (GeoWriter::Match{exact, payload.shots[QStringLiteral("A_exact.jpg")], true, {}, {}}));
    EXPECT_EQ(plan.matches[1], (GeoWriter::Match{estimated, payload.track[1], false,
                                                 noonInTokyo.addSecs(90), 10.0}));
    EXPECT_EQ(plan.alreadyTagged, QStringList{taggedInShots});
    EXPECT_EQ(plan.unmatched, (QStringList{tooFar, undated}));

    // Overwriting: the tagged picture is matched like any other, here by its name.
    const auto again = writer(payload, 120, true).plan(dir.path());
    ASSERT_EQ(again.matches.size(), 3U);
    EXPECT_EQ(again.matches[1].url, taggedInShots);
    EXPECT_TRUE(again.matches[1].exact);
    EXPECT_EQ(again.matches[1].captured, noonInTokyo);
    EXPECT_TRUE(again.alreadyTagged.isEmpty());
    EXPECT_EQ(again.unmatched, plan.unmatched);

    // A plan agrees with match() picture by picture.
    for (const auto& m : again.matches) EXPECT_EQ(writer(payload, 120, true).match(m.url), m);
}

}  // namespace
}  // namespace pexil
