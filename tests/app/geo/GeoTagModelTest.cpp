// The geotag window's model: overlapping scans, payload files, the tolerance and overwrite
// choices, writing with ExifTool, and the texts the window shows.
#include "app/geo/GeoTagModel.h"

#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"
#include "app/geo/PictureFiles.h"
#include "kit/async/VirtualRuntime.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pexil {
namespace {

using testing::jpeg;
using testing::PictureSpec;
using testing::writeFile;

// Summaries are shown in the local zone; Tokyo makes the conversion from UTC visible.
const bool tokyo = [] {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    return true;
}();

// A work queue the test runs by hand, in any order: the way to make an older scan finish
// after a newer one.
class HeldQueue final : public async::Executor {
public:
    void post(async::Work work) override { held_.push_back(std::move(work)); }
    std::size_t size() const { return held_.size(); }
    void run(std::size_t index) {
        async::Work work = std::move(held_.at(index));
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
        work();
    }
    void runAll() {
        while (!held_.empty()) run(0);
    }

private:
    std::deque<async::Work> held_;
};

QDateTime utc(int hour, int minute, int second = 0) {
    return QDateTime(QDate(2024, 5, 1), QTime(hour, minute, second), Qt::UTC);
}

// Exact by name: a.jpg. Track points at 09:00 and 09:10 (UTC, as the camera clock reads).
GeoPayload record() {
    GeoPayload p;
    p.generated = utc(10, 0);
    p.shots[QStringLiteral("a.jpg")] = GeoPoint{utc(8, 0), 35.681236, 139.767125, 40.0, {}};
    p.track.push_back(GeoPoint{utc(9, 0), 35.0, 139.0, {}, {}});
    p.track.push_back(GeoPoint{utc(9, 10), -33.5, -70.25, {}, {}});
    return p;
}

class GeoTagModelTest : public ::testing::Test {
protected:
    GeoTagModelTest() {
        folder = dir.filePath(QStringLiteral("pictures"));
        QDir().mkpath(folder);
        picture(QStringLiteral("a.jpg"), {});                       // exact, no time needed
        picture(QStringLiteral("b.jpg"), {"2024:05:01 09:01:30"});  // 90 s from 09:00
        picture(QStringLiteral("c.jpg"), {"2024:05:01 09:05:00"});  // 300 s from either
        picture(QStringLiteral("tagged.jpg"), {"2024:05:01 09:00:10", false, true});
        make(ExifTool::defaultPlaces());
    }

    void make(ExifTool::Places places) {
        GeoTagModel::Options options;
        options.workQueue = &queue;
        options.places = std::move(places);
        options.zone = QTimeZone::utc();
        options.log = [this](const QString& line) { log << line; };
        model = std::make_unique<GeoTagModel>(rt, std::move(options));
        finishAll();  // the version query
    }

    void picture(const QString& name, PictureSpec spec) {
        ASSERT_TRUE(writeFile(QDir(folder).filePath(name), jpeg(spec)));
    }
    QString path(const char* name) const {
        return QDir(folder).filePath(QString::fromLatin1(name));
    }

    void finish(std::size_t index) {
        queue.run(index);
        rt.runReady();
    }
    void finishAll() {
        queue.runAll();
        rt.runReady();
    }

    QStringList matchedNames() const {
        QStringList names;
        for (const auto& match : model->matches()) names << QFileInfo(match.url).fileName();
        return names;
    }

    QTemporaryDir dir;
    QString folder;
    async::VirtualRuntime rt;
    HeldQueue queue;
    QStringList log;
    std::unique_ptr<GeoTagModel> model;
};

TEST_F(GeoTagModelTest, WithoutARecordOrFolderNothingIsScannedOrWritable) {
    EXPECT_FALSE(model->payloadSummary());
    EXPECT_FALSE(model->folderSummary());
    EXPECT_EQ(model->tally(), GeoTagModel::Tally{});
    EXPECT_FALSE(model->canApply());
    model->setFolder(folder);
    EXPECT_FALSE(model->scanning()) << "no record: no scan";
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(model->folderSummary(), QStringLiteral("対象 0 件"));
    model->apply();
    EXPECT_FALSE(model->working());
}

TEST_F(GeoTagModelTest, ScanSortsPicturesIntoTheThreeListsAndTheTexts) {
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));
    EXPECT_TRUE(model->scanning());
    EXPECT_FALSE(model->canApply()) << "not while a scan runs";
    finishAll();
    EXPECT_FALSE(model->scanning());
    EXPECT_EQ(model->payloadName(), QStringLiteral("iPhone から受信"));
    EXPECT_EQ(matchedNames(), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(model->unmatched(), QStringList{path("c.jpg")});
    EXPECT_EQ(model->alreadyTagged(), QStringList{path("tagged.jpg")});
    EXPECT_EQ(model->tally(), (GeoTagModel::Tally{1, 1, 1, 1}));
    EXPECT_EQ(model->folderSummary(), QStringLiteral("対象 4 件"));
    EXPECT_EQ(model->payloadSummary(),
              QStringLiteral("正確な位置 1 件 / 軌跡 2 点 / 5/1 18:00〜5/1 18:10"))
        << "the track's range in the local zone (Tokyo, UTC+9)";
    EXPECT_TRUE(model->canApply());

    EXPECT_EQ(GeoTagModel::gapText(model->matches()[0]), std::nullopt) << "exact";
    EXPECT_EQ(GeoTagModel::gapText(model->matches()[1]), QStringLiteral("±90秒"));
    EXPECT_EQ(GeoTagModel::positionText(model->matches()[0].point),
              QStringLiteral("35.6812, 139.7671"));
}

TEST_F(GeoTagModelTest, TextsOfGapsPositionsAndTrackRanges) {
    GeoWriter::Match estimated;
    estimated.gap = 59.99;
    EXPECT_EQ(GeoTagModel::gapText(estimated), QStringLiteral("±59秒")) << "truncated, not rounded";
    EXPECT_EQ(GeoTagModel::positionText(GeoPoint{{}, -33.5, -70.25, {}, {}}),
              QStringLiteral("-33.5000, -70.2500"));

    GeoPayload noTrack = record();
    noTrack.track.clear();
    model->adopt(noTrack, QStringLiteral("iPad"));
    EXPECT_EQ(model->payloadSummary(), QStringLiteral("正確な位置 1 件 / 軌跡 0 点"));
}

TEST_F(GeoTagModelTest, OnlyTheNewestOfOverlappingScansPublishes) {
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));  // scan 1: overwrite off
    model->setOverwriteExisting(true);                 // scan 2: tagged.jpg is matched too
    model->setTolerance(600);                          // scan 3: c.jpg is estimated too
    ASSERT_EQ(queue.size(), 3u);
    const QStringList newest{"a.jpg", "b.jpg", "c.jpg", "tagged.jpg"};

    finish(2);
    EXPECT_FALSE(model->scanning());
    EXPECT_EQ(matchedNames(), newest);

    finish(0);  // the oldest scan finishes last: made for other choices, it must not show
    EXPECT_EQ(matchedNames(), newest);
    EXPECT_TRUE(model->alreadyTagged().isEmpty());
    finish(0);
    EXPECT_EQ(matchedNames(), newest);
    EXPECT_FALSE(model->scanning());
}

TEST_F(GeoTagModelTest, AnOlderScanFinishingFirstNeitherPublishesNorEndsScanning) {
    model->setFolder(folder);
    model->setOverwriteExisting(true);
    model->adopt(record(), QStringLiteral("iPhone"));  // scan 1: overwrite on
    finishAll();
    ASSERT_TRUE(matchedNames().contains(QStringLiteral("tagged.jpg")));

    model->setTolerance(600);            // scan 2: overwrite still on
    model->setOverwriteExisting(false);  // scan 3
    finish(0);
    EXPECT_TRUE(model->scanning()) << "the newest scan is still out";
    EXPECT_TRUE(matchedNames().contains(QStringLiteral("tagged.jpg")))
        << "the lists still show the last plan published";
    EXPECT_FALSE(model->canApply());
    model->apply();
    EXPECT_FALSE(model->working()) << "no write of a plan about to be replaced";
    EXPECT_EQ(queue.size(), 1u);

    finish(0);
    EXPECT_FALSE(model->scanning());
    EXPECT_EQ(matchedNames(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(model->alreadyTagged(), QStringList{path("tagged.jpg")});
}

TEST_F(GeoTagModelTest, ChoosingAnotherFolderSupersedesTheScanStillOut) {
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));
    model->setFolder(dir.filePath(QStringLiteral("missing")));
    finish(1);
    EXPECT_FALSE(model->scanning());
    EXPECT_TRUE(model->matches().empty()) << "an unlistable folder scans as empty";
    finish(0);
    EXPECT_TRUE(model->matches().empty()) << "the first folder's scan came too late";
    EXPECT_EQ(model->folderSummary(), QStringLiteral("対象 0 件"));
}

TEST_F(GeoTagModelTest, ADestroyedModelDropsItsResults) {
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));
    model.reset();
    queue.runAll();
    // The scan's result reaches the main queue with nobody to take it (ASan would catch a
    // use of the dead model).
    EXPECT_EQ(rt.executor().runAll(), 1u);
}

TEST_F(GeoTagModelTest, PayloadFilesThatAreNotARecordRaiseTheProblemAndKeepTheRecord) {
    model->adopt(record(), QStringLiteral("iPhone"));
    const QByteArray bare = GeoJson::encodePayload(record());
    const QByteArray envelope = GeoLink::encodeEnvelope({QStringLiteral("iPhone"), record()});
    QByteArray fractional = bare;
    fractional.replace("2024-05-01T10:00:00Z", "2024-05-01T10:00:00.5Z");
    ASSERT_NE(fractional, bare);
    struct Case {
        const char* what;
        std::optional<QByteArray> content;  // none: no file at all
    };
    const std::vector<Case> cases{
        {"no such file", std::nullopt},
        {"not JSON", QByteArray("hello")},
        {"an envelope, not a bare record", envelope},
        {"a time with a fractional second", fractional},
        {"an empty file", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = dir.filePath(QStringLiteral("bad.json"));
        QFile::remove(file);
        if (c.content) {
            ASSERT_TRUE(writeFile(file, *c.content));
        }
        model->loadPayload(file);
        ASSERT_TRUE(model->problem());
        EXPECT_TRUE(model->problem()->startsWith(QStringLiteral("位置情報ファイルを読めません: ")))
            << model->problem()->toStdString();
        EXPECT_GT(model->problem()->size(), 20) << "the reason follows the prefix";
        EXPECT_EQ(model->payloadName(), QStringLiteral("iPhone から受信")) << "the record stays";
        model->clearProblem();
        EXPECT_FALSE(model->problem());
    }

    const QString good = dir.filePath(QStringLiteral("track-0501.json"));
    ASSERT_TRUE(writeFile(good, bare));
    model->loadPayload(good);
    EXPECT_FALSE(model->problem());
    EXPECT_EQ(model->payloadName(), QStringLiteral("track-0501.json"));
    EXPECT_EQ(model->payload(), record());
}

TEST_F(GeoTagModelTest, WritingPublishesTheReportAndMovesWrittenPicturesToTagged) {
    ASSERT_TRUE(model->exifToolVersion()) << "these tests need /usr/bin/exiftool";
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));
    finishAll();
    const QByteArray taggedBefore = [&] {
        QFile f(path("tagged.jpg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    model->apply();
    EXPECT_TRUE(model->working());
    EXPECT_FALSE(model->report());
    EXPECT_FALSE(model->canApply());
    model->apply();  // a second press while writing does nothing
    ASSERT_EQ(queue.size(), 1u);
    finish(0);
    EXPECT_FALSE(model->working());
    ASSERT_TRUE(model->report());
    EXPECT_EQ(model->report()->written, (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(model->writtenText(), QStringLiteral("2 件に書き込みました"));
    EXPECT_FALSE(model->failedText());
    EXPECT_TRUE(model->scanning()) << "a rescan follows the write";
    finishAll();
    EXPECT_TRUE(model->matches().empty());
    EXPECT_EQ(model->alreadyTagged(),
              (QStringList{path("a.jpg"), path("b.jpg"), path("tagged.jpg")}));
    EXPECT_TRUE(model->report()) << "a rescan keeps the report";

    const auto a = testing::readBack(path("a.jpg"));
    ASSERT_TRUE(a.lat && a.lon);
    EXPECT_NEAR(*a.lat, 35.681236, 1e-6);
    EXPECT_NEAR(*a.lon, 139.767125, 1e-6);
    QFile tagged(path("tagged.jpg"));
    ASSERT_TRUE(tagged.open(QIODevice::ReadOnly));
    EXPECT_EQ(tagged.readAll(), taggedBefore)
        << "a tagged picture is left alone without overwriting";

    model->adopt(record(), QStringLiteral("iPad"));
    EXPECT_FALSE(model->report()) << "a new record clears the report";
}

TEST_F(GeoTagModelTest, WithoutExifToolTheWriteIsDisabledAndEveryPictureFails) {
    make(ExifTool::Places{});
    EXPECT_FALSE(model->exifToolVersion());
    model->setFolder(folder);
    model->adopt(record(), QStringLiteral("iPhone"));
    finishAll();
    ASSERT_FALSE(model->matches().empty());
    EXPECT_FALSE(model->canApply()) << "the button needs a known ExifTool version";
    model->apply();  // what the button would not do: every picture fails with the reason
    finishAll();
    ASSERT_TRUE(model->report());
    EXPECT_FALSE(model->writtenText());
    EXPECT_EQ(model->failedText(),
              QStringLiteral("2 件は書き込めませんでした: exiftool が見つかりません"));
}

}  // namespace
}  // namespace pexil
