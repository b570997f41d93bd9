#include "app/geo/GeoJson.h"
#include "app/geo/GeoStore.h"
#include "support/CommandRun.h"
#include "support/ScopedEnvironment.h"
#include "tests/app/geo/PictureFiles.h"
#include "tools/pexilctl/GeoPlanCommand.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

using Outcome = testing::CommandOutcome;

// The camera clock shows the computer's local time; the record holds UTC.
const QDateTime localNoon(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::systemTimeZone());

GeoPoint at(const QDateTime& time, double lat, double lon, std::optional<double> alt = {}) {
    return GeoPoint{time.toUTC(), lat, lon, alt, std::nullopt};
}

testing::PictureSpec taken(const char* text, bool gps = false) {
    testing::PictureSpec spec;
    spec.dateTimeOriginal = QByteArray(text);
    spec.gps = gps;
    return spec;
}

class GeoPlanCommand : public ::testing::Test {
protected:
    GeoPlanCommand() {
        photo(QStringLiteral("DSC_0001.JPG"), testing::jpeg());
        photo(QStringLiteral("DSC_0002.JPG"), testing::jpeg(taken("2024:05:01 12:01:30")));
        photo(QStringLiteral("DSC_0003.JPG"), testing::jpeg(taken("2024:05:01 12:00:00", true)));
        photo(QString::fromUtf8("a\nb\\c.jpg"), testing::jpeg());
        photo(QStringLiteral("notes.txt"), "x");

        payload.generated = localNoon.toUTC();
        payload.shots[QStringLiteral("DSC_0001.JPG")] = at(localNoon, 35.0, 139.0, 12.5);
        payload.track = {at(localNoon, 35.1, 139.1),
                         at(localNoon.addSecs(3600), 36.123456789, -0.5)};
        payloadFile = home.filePath(QStringLiteral("payload.json"));
        EXPECT_TRUE(testing::writeFile(payloadFile, GeoJson::encodePayload(payload)));
    }

    void photo(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(testing::writeFile(QDir(folder.path()).filePath(name), bytes));
    }

    Outcome plan(const QStringList& args) { return testing::runCommand(runGeoPlan, args); }
    Outcome apply(const QStringList& args) { return testing::runCommand(runGeoApply, args); }

    QTemporaryDir home;
    QTemporaryDir folder;
    GeoPayload payload;
    QString payloadFile;

private:
    // The log and the received record live under the user's folders: point them here.
    testing::ScopedEnvironment environment_{
        {"HOME", home.path().toUtf8()},
        {"XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8()},
        {"XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8()}};
};

TEST_F(GeoPlanCommand, PlanPrintsOneStableLinePerPictureInScanOrder) {
    const Outcome r = plan({folder.path(), QStringLiteral("--payload"), payloadFile});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QString::fromUtf8("exact DSC_0001.JPG 35.000000 139.000000\n"
                                       "estimated DSC_0002.JPG 35.100000 139.100000 ±90s\n"
                                       "tagged DSC_0003.JPG\n"
                                       "unmatched a\\nb\\\\c.jpg\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

TEST_F(GeoPlanCommand, ToleranceAndOverwriteChangeThePlan) {
    const Outcome narrow = plan({folder.path(), QStringLiteral("--payload"), payloadFile,
                                 QStringLiteral("--tolerance"), QStringLiteral("89.5"),
                                 QStringLiteral("--overwrite")});
    EXPECT_EQ(narrow.code, 0);
    EXPECT_EQ(narrow.out, QString::fromUtf8("exact DSC_0001.JPG 35.000000 139.000000\n"
                                            "unmatched DSC_0002.JPG\n"
                                            "estimated DSC_0003.JPG 35.100000 139.100000 ±0s\n"
                                            "unmatched a\\nb\\\\c.jpg\n"));
    const Outcome wide = plan({QStringLiteral("--tolerance"), QStringLiteral("7200"), folder.path(),
                               QStringLiteral("--payload"), payloadFile});
    EXPECT_TRUE(
        wide.out.contains(QStringLiteral("estimated DSC_0002.JPG 35.100000 139.100000 ±90s\n")));
}

TEST_F(GeoPlanCommand, GpxAndTheReceivedRecordAreSourcesToo) {
    const QByteArray gpx =
        "<?xml version=\"1.0\"?><gpx version=\"1.1\" creator=\"t\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>"
        "<trkpt lat=\"-33.5\" lon=\"-70.25\"><ele>-12</ele><time>" +
        GeoJson::formatTime(localNoon.addSecs(100)).toUtf8() +
        "</time></trkpt></trkseg></trk></gpx>";
    const QString gpxFile = home.filePath(QStringLiteral("track.gpx"));
    ASSERT_TRUE(testing::writeFile(gpxFile, gpx));
    const Outcome fromGpx = plan({folder.path(), QStringLiteral("--gpx"), gpxFile});
    EXPECT_EQ(fromGpx.code, 0) << fromGpx.err.toStdString();
    EXPECT_EQ(fromGpx.out, QString::fromUtf8("unmatched DSC_0001.JPG\n"
                                             "estimated DSC_0002.JPG -33.500000 -70.250000 ±10s\n"
                                             "tagged DSC_0003.JPG\n"
                                             "unmatched a\\nb\\\\c.jpg\n"));

    const Outcome none = plan({folder.path(), QStringLiteral("--received")});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains(QStringLiteral("受信した位置情報がありません")));

    const QString store = home.filePath(QStringLiteral("data/Pexil"));
    ASSERT_TRUE(QDir().mkpath(store));
    ASSERT_TRUE(testing::writeFile(
        QDir(store).filePath(QStringLiteral("geo-latest.json")),
        GeoStore::encodeSaved({QStringLiteral("iPhone"), localNoon.toUTC(), payload})));
    const Outcome received = plan({folder.path(), QStringLiteral("--received")});
    EXPECT_EQ(received.code, 0) << received.err.toStdString();
    EXPECT_EQ(received.out, plan({folder.path(), QStringLiteral("--payload"), payloadFile}).out);

    ASSERT_TRUE(testing::writeFile(QDir(store).filePath(QStringLiteral("geo-latest.json")),
                                   GeoJson::encodePayload(payload)));  // a bare record is not one
    EXPECT_EQ(plan({folder.path(), QStringLiteral("--received")}).code, 2);
}

TEST_F(GeoPlanCommand, WrongCommandLinesAndUnreadableInputsExitWithTwoAndOneLine) {
    const QString garbage = home.filePath(QStringLiteral("garbage.json"));
    ASSERT_TRUE(testing::writeFile(garbage, "{\"generated\": 1}"));
    const QString gpxAsJson = home.filePath(QStringLiteral("not.gpx"));
    ASSERT_TRUE(testing::writeFile(gpxAsJson, "<gpx/>"));
    const QString p = QStringLiteral("--payload");
    const QList<QStringList> wrong{
        {},
        {folder.path()},
        {folder.path(), p},
        {folder.path(), p, payloadFile, QStringLiteral("--received")},
        {folder.path(), folder.path(), p, payloadFile},
        {folder.path(), p, payloadFile, QStringLiteral("--tolerance"), QStringLiteral("-1")},
        {folder.path(), p, payloadFile, QStringLiteral("--tolerance"), QStringLiteral("soon")},
        {folder.path(), p, payloadFile, QStringLiteral("--tolerance"), QStringLiteral("inf")},
        {folder.path(), p, payloadFile, QStringLiteral("--recursive")},
        {home.filePath(QStringLiteral("no-such-folder")), p, payloadFile},
        {payloadFile, p, payloadFile},
        {folder.path(), p, home.filePath(QStringLiteral("missing.json"))},
        {folder.path(), p, garbage},
        {folder.path(), QStringLiteral("--gpx"), gpxAsJson},
    };
    for (const QStringList& args : wrong) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        for (const auto& r : {plan(args), apply(args)}) {
            EXPECT_EQ(r.code, 2);
            EXPECT_TRUE(r.out.isEmpty());
            EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
            EXPECT_TRUE(r.err.startsWith(QStringLiteral("pexilctl geo "))) << r.err.toStdString();
        }
    }
}

TEST_F(GeoPlanCommand, HelpDocumentsTheOutput) {
    const Outcome planHelp = plan({QStringLiteral("--help")});
    EXPECT_EQ(planHelp.code, 0);
    for (const char* line :
         {"exact NAME LAT LON", "estimated NAME LAT LON ±GAPs", "tagged NAME", "unmatched NAME"})
        EXPECT_TRUE(planHelp.out.contains(QString::fromUtf8(line))) << line;
    const Outcome applyHelp = apply({QStringLiteral("-h")});
    EXPECT_EQ(applyHelp.code, 0);
    for (const char* line : {"written NAME", "failed NAME: REASON", "summary: written=N"})
        EXPECT_TRUE(applyHelp.out.contains(QString::fromUtf8(line))) << line;
}

TEST_F(GeoPlanCommand, ApplyWritesThePlanAndReportsEachPicture) {
    const Outcome r = apply({folder.path(), QStringLiteral("--payload"), payloadFile});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("written DSC_0001.JPG\n"
                                    "written DSC_0002.JPG\n"
                                    "summary: written=2 failed=0 unmatched=1 tagged=1\n"));
    const auto exact =
        testing::readBack(QDir(folder.path()).filePath(QStringLiteral("DSC_0001.JPG")));
    EXPECT_NEAR(exact.lat.value_or(0), 35.0, 1e-9);
    EXPECT_NEAR(exact.lon.value_or(0), 139.0, 1e-9);
    EXPECT_NEAR(exact.alt.value_or(0), 12.5, 1e-9);
    const auto estimated =
        testing::readBack(QDir(folder.path()).filePath(QStringLiteral("DSC_0002.JPG")));
    EXPECT_NEAR(estimated.lat.value_or(0), 35.1, 1e-9);
    EXPECT_EQ(estimated.alt, std::nullopt);

    const QString log = [&] {
        QFile file(home.filePath(QStringLiteral("state/Pexil/Pexil.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    EXPECT_TRUE(log.contains(QStringLiteral("位置情報の書き込み開始: 2 件\n")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("exiftool 終了: status 0\n")));
    EXPECT_TRUE(log.contains(QStringLiteral("書き込み完了: 成功 2 / 失敗 0\n")));

    // Written pictures are tagged now; a picture ExifTool cannot write fails the command.
    photo(QStringLiteral("DSC_0000.JPG"), "no picture");
    payload.shots[QStringLiteral("DSC_0000.JPG")] = at(localNoon, 1, 2);
    ASSERT_TRUE(testing::writeFile(payloadFile, GeoJson::encodePayload(payload)));
    const Outcome again = apply({folder.path(), QStringLiteral("--payload"), payloadFile});
    EXPECT_EQ(again.code, 1);
    const QStringList lines = again.out.split(u'\n');
    ASSERT_EQ(lines.size(), 3) << again.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("failed DSC_0000.JPG: ")));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("DSC_0000.JPG"), Qt::CaseSensitive));
    EXPECT_EQ(lines[1], QStringLiteral("summary: written=0 failed=1 unmatched=1 tagged=3"));
}

}  // namespace
}  // namespace pexil::cli
