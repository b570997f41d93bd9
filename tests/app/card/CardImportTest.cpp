// Imports from the card on the virtual camera: progress, summary, ledger, positions.
#include "app/card/CardHarness.h"

#include "app/geo/ExifTool.h"
#include "app/geo/GeoLink.h"
#include "app/geo/GeoWriter.h"
#include "camera/virtual/VirtualCard.h"

#include <QFileInfo>

namespace pexil {
namespace {

using testing::CardHarness;

constexpr std::uint16_t kGetThumb = 0x100A;
constexpr std::uint16_t kDeleteObject = 0x100B;
constexpr std::uint16_t kGeneralError = 0x2002;

struct Recorder {
    std::vector<std::optional<ImportPhase>> phases;
    std::vector<int> thumbCallsDuringImport;
};

void record(CardHarness& h, Recorder& r) {
    QObject::connect(h.card.get(), &CardModel::importPhaseChanged, [&h, &r] {
        r.phases.push_back(h.card->importPhase());
        r.thumbCallsDuringImport.push_back(h.camera->callCount(kGetThumb));
    });
}

bool finished(CardHarness& h) {
    return h.settle([&] { return h.card->lastSummary().has_value(); }, 600);
}

// The names of the n oldest items, oldest first.
QStringList oldestNames(const CardHarness& h, std::size_t n) {
    QStringList out;
    const CardItems& items = h.card->items();
    for (std::size_t i = 0; i < n; ++i) out << items[items.size() - 1 - i].name;
    return out;
}

QStringList destinationFiles(const CardHarness& h) {
    return QDir(h.destination()).entryList(QDir::Files, QDir::Name);
}

TEST(CardImport, ProgressSummaryAndLedgerWithOneFailure) {
    CardHarness h;
    h.connectSettled(5);
    const QStringList names = oldestNames(h, 3);
    h.camera->failObject(names[1], kGeneralError);
    Recorder r;
    record(h, r);
    QStringList progress;
    QObject::connect(
        h.card.get(), &CardModel::fileImported,
        [&](int done, int total, const QString& name, const std::optional<QString>& failure) {
            progress
                << QStringLiteral("%1/%2 %3%4").arg(done).arg(total).arg(name, failure ? "!" : "");
        });
    std::set<QString> chosen;
    for (const QString& name : names) chosen.insert(h.idOf(name));
    h.card->select(chosen);
    h.card->importSelected();
    EXPECT_FALSE(h.card->startImport(h.card->unimported())) << "a second import while one runs";
    ASSERT_TRUE(finished(h));

    using P = ImportPhase;
    EXPECT_EQ(r.phases, (std::vector<std::optional<P>>{P::downloading(0, 3), P::downloading(1, 3),
                                                       P::downloading(2, 3), P::downloading(3, 3),
                                                       std::nullopt}));
    EXPECT_EQ(progress,
              (QStringList{"1/3 " + names[0], "2/3 " + names[1] + "!", "3/3 " + names[2]}));
    EXPECT_EQ(*h.card->lastSummary(),
              QString::fromUtf8("2 枚を取り込みました。1 枚は取り込めませんでした（") + names[1] +
                  QString::fromUtf8("）"));
    EXPECT_TRUE(h.lines().contains(QString::fromUtf8("カードから取り込み: 3 件")));
    EXPECT_TRUE(h.lines().contains(*h.card->lastSummary()));
    bool failureLogged = false;
    for (const QString& line : h.lines())
        failureLogged |= line.startsWith(QString::fromUtf8("取り込み失敗 ") + names[1] + ": ");
    EXPECT_TRUE(failureLogged);

    EXPECT_EQ(destinationFiles(h), (QStringList{names[0], names[2]}));
    EXPECT_TRUE(h.card->item(h.idOf(names[0]))->imported);
    EXPECT_FALSE(h.card->item(h.idOf(names[1]))->imported);
    EXPECT_TRUE(h.card->item(h.idOf(names[2]))->imported);
    EXPECT_EQ(h.ledger->keys().size(), 2u);
    // An import never deletes from the card.
    EXPECT_EQ(h.camera->callCount(kDeleteObject), 0);
    EXPECT_EQ(h.link->cardFiles().size(), 5u);

    // What is left: the failed one and the two not chosen; nothing already imported.
    EXPECT_EQ(h.card->unimported().size(), 3u);
}

TEST(CardImport, LedgerIsRememberedAcrossARestart) {
    CardHarness h;
    h.connectSettled(4);
    const QStringList names = oldestNames(h, 2);
    h.card->select({h.idOf(names[0]), h.idOf(names[1])});
    h.card->importSelected();
    ASSERT_TRUE(finished(h));
    ASSERT_EQ(*h.card->lastSummary(), QString::fromUtf8("2 枚を取り込みました"));

    // The copies leave the destination; only the ledger can know them now.
    for (const QString& name : destinationFiles(h)) ASSERT_TRUE(QDir(h.destination()).remove(name));
    h.restartModel();
    h.card->refresh();
    for (const CardItem& item : h.card->items())
        EXPECT_EQ(item.imported, names.contains(item.name)) << item.name.toStdString();

    // Import all takes only the other two.
    h.card->importAll();
    ASSERT_TRUE(finished(h));
    EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8("2 枚を取り込みました"));
    EXPECT_EQ(destinationFiles(h).size(), 2u);
    EXPECT_TRUE(h.card->unimported().empty());
    EXPECT_FALSE(h.card->startImport(h.card->unimported())) << "nothing left to import";
}

TEST(CardImport, ThumbnailsWaitWhileAnImportRuns) {
    CardHarness h;
    h.connectSettled(4);
    Recorder r;
    record(h, r);
    const int before = h.camera->callCount(kGetThumb);
    h.card->importAll();
    for (const QString& id : h.ids()) h.card->requestThumbnail(id);
    ASSERT_TRUE(finished(h));
    ASSERT_GE(r.thumbCallsDuringImport.size(), 2u);
    // Not one thumbnail from the start of the import to its end.
    for (const int calls : r.thumbCallsDuringImport) EXPECT_EQ(calls, before);
    ASSERT_TRUE(h.settle([&] {
        return std::all_of(h.card->items().begin(), h.card->items().end(),
                           [](const CardItem& i) { return !i.thumbnail.isNull(); });
    }));
    EXPECT_EQ(h.camera->callCount(kGetThumb) - before, 4);
}

// Reads a picture's latitude as ExifTool sees it; none without one.
std::optional<double> latitudeOf(const ExifTool& tool, const QString& path) {
    const auto out = tool.run(
        {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-GPSLatitude"), path});
    bool ok = false;
    const double value = out.output.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

TEST(CardImport, PositionsAreWrittenButNeverOverACamerasOwn) {
    const auto tool = ExifTool::locate();
    if (!tool) GTEST_SKIP() << "ExifTool is not installed";
    CardHarness h;
    // Pictures 2 and 4 (the raw files) carry the camera's own GPS; JPEGs 1 and 3 do not.
    h.connectSettled(4, [](camera::VirtualCamera::Options& o) { o.gpsEvery = 2; });
    const QStringList names = oldestNames(h, 4);
    ASSERT_EQ(names[0], QStringLiteral("DSC_0001.JPG"));
    ASSERT_EQ(names[1], QStringLiteral("DSC_0002.NEF"));

    GeoPayload payload;
    payload.generated = QDateTime::currentDateTimeUtc();
    payload.shots[names[0]] = GeoPoint{QDateTime::currentDateTimeUtc(), -33.5, -70.25, 12.0, {}};
    payload.shots[names[1]] = GeoPoint{QDateTime::currentDateTimeUtc(), -33.5, -70.25, 12.0, {}};
    h.geo->adopt(GeoLink::Envelope{QStringLiteral("phone"), payload});
    EXPECT_TRUE(h.card->item(h.idOf(names[0]))->locatable);
    EXPECT_TRUE(h.card->item(h.idOf(names[1]))->locatable);
    EXPECT_EQ(h.card->locatableCount(), 2);

    Recorder r;
    record(h, r);
    h.card->select({h.idOf(names[0]), h.idOf(names[1])});
    h.card->importSelected();
    ASSERT_TRUE(finished(h));
    using P = ImportPhase;
    EXPECT_EQ(r.phases, (std::vector<std::optional<P>>{P::downloading(0, 2), P::downloading(1, 2),
                                                       P::downloading(2, 2), P::geotagging(1),
                                                       std::nullopt}));
    EXPECT_EQ(*h.card->lastSummary(),
              QString::fromUtf8("2 枚を取り込みました（位置を書き込んだのは 1 枚）"));

    const QString jpeg = QDir(h.destination()).filePath(names[0]);
    const QString raw = QDir(h.destination()).filePath(names[1]);
    EXPECT_EQ(latitudeOf(*tool, jpeg), std::optional<double>(-33.5));
    // The camera's own position stays as the camera wrote it.
    const auto kept = latitudeOf(*tool, raw);
    ASSERT_TRUE(kept);
    EXPECT_NEAR(*kept, camera::cameraGpsFix().latitude, 1e-4);
    QFile card(h.cardDir() + "/DCIM/" + h.idOf(names[1]));
    QFile copy(raw);
    ASSERT_TRUE(card.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    EXPECT_TRUE(card.readAll() == copy.readAll()) << "the raw file was rewritten";
}

TEST(CardImport, SummaryPositionPartFollowsTheRecord) {
    struct Case {
        const char* what;
        bool writeLocations;
        bool payload;
        const char* summary;
        bool geotagging;
    };
    const std::vector<Case> cases = {
        {"a record that matches nothing", true, true,
         "1 枚を取り込みました（位置を書き込んだのは 0 枚）", false},
        {"no record", true, false, "1 枚を取り込みました", false},
        {"writing turned off", false, true, "1 枚を取り込みました", false},
    };
    for (const Case& c : cases) {
        CardHarness h;
        h.connectSettled(2);
        if (c.payload) {
            GeoPayload payload;
            payload.generated = QDateTime::currentDateTimeUtc();
            payload.shots[QStringLiteral("ELSEWHERE.JPG")] =
                GeoPoint{payload.generated, 1, 2, {}, {}};
            h.geo->adopt(GeoLink::Envelope{QStringLiteral("phone"), payload});
        }
        h.card->setWriteLocations(c.writeLocations);
        Recorder r;
        record(h, r);
        h.card->click(h.idOf(QStringLiteral("DSC_0001.JPG")));
        h.card->importSelected();
        ASSERT_TRUE(finished(h)) << c.what;
        EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8(c.summary)) << c.what;
        const bool tagged = std::any_of(r.phases.begin(), r.phases.end(), [](const auto& p) {
            return p && p->kind == ImportPhase::Kind::geotagging;
        });
        EXPECT_EQ(tagged, c.geotagging) << c.what;
    }
}

TEST(CardImport, CameraLostDuringImportFailsTheRest) {
    CardHarness h;
    h.connectSettled(3);
    QObject::connect(h.card.get(), &CardModel::fileImported,
                     [&](int done, int, const QString&, const std::optional<QString>&) {
                         if (done == 1) h.camera->unplug();
                     });
    h.card->importAll();
    ASSERT_TRUE(finished(h));
    const QString summary = *h.card->lastSummary();
    EXPECT_TRUE(
        summary.startsWith(QString::fromUtf8("1 枚を取り込みました。2 枚は取り込めませんでした（")))
        << summary.toStdString();
    EXPECT_EQ(h.ledger->keys().size(), 1u);
}

// The same camera back, the import goes on with what the loss left, and only that: a picture
// taken meanwhile is not part of it.
TEST(CardImport, AnImportCutByALossGoesOnWithTheRestWhenTheCameraIsBack) {
    CardHarness h;
    h.connectSettled(5);
    // Three of the five chosen: the offer afterwards is about those alone.
    std::set<QString> chosen;
    for (std::size_t i = 0; i < 3; ++i) chosen.insert(h.card->items()[i].id);
    h.card->select(chosen);
    QObject::connect(h.card.get(), &CardModel::fileImported,
                     [&](int done, int, const QString&, const std::optional<QString>&) {
                         if (done != 1) return;
                         h.source->remove(h.device);
                         h.camera->unplug();
                     });
    h.card->importSelected();
    ASSERT_TRUE(finished(h));
    QObject::disconnect(h.card.get(), &CardModel::fileImported, nullptr, nullptr);
    const QString summary = *h.card->lastSummary();
    EXPECT_TRUE(summary.endsWith(QString::fromUtf8("。カメラがつながると続きを取り込めます")))
        << summary.toStdString();
    EXPECT_TRUE(h.card->lastImportFailed());
    EXPECT_EQ(destinationFiles(h).size(), 1) << "no partial file of the one in transfer";
    EXPECT_EQ(h.ledger->keys().size(), 1u);
    ASSERT_TRUE(h.settle([&] { return h.card->items().empty(); }));
    EXPECT_TRUE(h.card->resumable().empty()) << "nothing to offer without the camera";

    // The same camera and card back.
    h.makeCamera(h.cameraOptions(5));
    h.plug();
    ASSERT_TRUE(h.settle([&] { return h.link->cardSettled() && h.card->items().size() == 5u; }));
    std::set<QString> offered;
    for (const CardItem& item : h.card->resumable()) offered.insert(item.id);
    EXPECT_EQ(offered.size(), 2u);
    EXPECT_TRUE(std::includes(chosen.begin(), chosen.end(), offered.begin(), offered.end()));
    h.card->resumeImport();
    ASSERT_TRUE(finished(h));
    EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8("2 枚を取り込みました"));
    EXPECT_EQ(destinationFiles(h).size(), 3);
    EXPECT_EQ(h.ledger->keys().size(), 3u);
    EXPECT_EQ(h.card->unimported().size(), 2u) << "the two never chosen";
    EXPECT_TRUE(h.card->resumable().empty());
}

// Stopped after the first file: that file is kept, the rest stays on the card, the ledger
// knows only what arrived, and a second import takes exactly the rest.
TEST(CardImport, ACancelledImportKeepsWhatArrivedAndASecondRunTakesTheRest) {
    CardHarness h;
    h.connectSettled(4);
    QObject::connect(h.card.get(), &CardModel::fileImported,
                     [&](int done, int, const QString&, const std::optional<QString>&) {
                         if (done == 1) h.card->cancelImport();
                     });
    h.card->importAll();
    ASSERT_TRUE(finished(h));
    EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8("1 枚を取り込みました。中止しました（3 枚はカードに残っています）"));
    EXPECT_TRUE(h.card->lastImportFailed());
    EXPECT_EQ(destinationFiles(h).size(), 1);
    EXPECT_EQ(h.ledger->keys().size(), 1u);
    EXPECT_EQ(h.card->unimported().size(), 3u);
    EXPECT_EQ(h.camera->callCount(kDeleteObject), 0);

    QObject::disconnect(h.card.get(), &CardModel::fileImported, nullptr, nullptr);
    h.card->importAll();
    ASSERT_TRUE(finished(h));
    EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8("3 枚を取り込みました"));
    EXPECT_FALSE(h.card->lastImportFailed());
    EXPECT_EQ(destinationFiles(h).size(), 4);
    EXPECT_EQ(h.ledger->keys().size(), 4u);
    EXPECT_TRUE(h.card->unimported().empty());
}

// A file of the same name and size in the destination is the same picture only when it was
// taken at the same second; otherwise it is another body's or another roll's, and the
// picture on the card must still be imported (beside it) rather than be marked done.
TEST(CardImport, ASameNamedSameSizedFileCountsOnlyWhenTakenAtTheSameSecond) {
    CardHarness h;
    h.connectSettled(1);
    const CardItem item = h.card->items().front();
    ASSERT_TRUE(item.captured);
    const QString original = h.cardDir() + "/DCIM/" + item.id;
    const QString there = QDir(h.destination()).filePath(item.name);
    QFile card(original);
    ASSERT_TRUE(card.open(QIODevice::ReadOnly));
    const QByteArray bytes = card.readAll();
    const QByteArray stamp =
        item.captured->toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1();
    ASSERT_TRUE(bytes.contains(stamp)) << "the picture carries its capture time in EXIF";
    QByteArray otherYear = bytes;
    otherYear.replace(stamp, QByteArray(stamp).replace(0, 4, "1999"));
    const QByteArray noExif(bytes.size(), 'x');

    struct Row {
        const char* what;
        QByteArray content;
        QDateTime modified;  // the file's time; EXIF, where there is one, decides
        bool imported;
    };
    const Row rows[] = {
        {"the picture itself", bytes, item.captured->addSecs(-7201), true},
        {"another picture's EXIF time", otherYear, item.captured->addSecs(-7202), false},
        {"no EXIF, file time of the capture", noExif, *item.captured, true},
        {"no EXIF, file time of another moment", noExif, item.captured->addSecs(-3600), false},
    };
    for (const Row& row : rows) {
        QDir().mkpath(h.destination());
        QFile file(there);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.content);
        file.flush();
        file.setFileTime(row.modified, QFileDevice::FileModificationTime);
        file.close();
        h.card->refresh();
        EXPECT_EQ(h.card->items().front().imported, row.imported) << row.what;
    }

    // The last row's file is another picture: importing all puts the card's beside it, and an
    // import sets the copy's time to the capture time, so the copy is recognised afterwards.
    h.card->importAll();
    ASSERT_TRUE(finished(h));
    const QFileInfo base(item.name);
    const QString numbered = base.completeBaseName() + "-1." + base.suffix();
    QStringList expected{item.name, numbered};
    expected.sort();
    EXPECT_EQ(destinationFiles(h), expected);
    EXPECT_EQ(QFileInfo(QDir(h.destination()).filePath(numbered)).lastModified().toSecsSinceEpoch(),
              item.captured->toSecsSinceEpoch());
    EXPECT_EQ(*h.card->lastSummary(), QString::fromUtf8("1 枚を取り込みました"));
}

}  // namespace
}  // namespace pexil
