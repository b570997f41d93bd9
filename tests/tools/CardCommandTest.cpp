#include "tools/pexilctl/CardCommand.h"

#include "app/geo/ExifTool.h"
#include "app/geo/GeoStore.h"
#include "kit/async/VirtualRuntime.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

struct Outcome {
    int code = -1;
    QStringList lines;
    QString err;
};

// The command on the virtual clock, with the virtual camera reading that clock; the log and
// the ledger live in a temporary home.
class CardCommand : public ::testing::Test {
protected:
    CardCommand() : home_(qgetenv("HOME")) { qputenv("HOME", dir.path().toUtf8()); }
    ~CardCommand() override { qputenv("HOME", home_); }

    QString support() const { return dir.filePath(QStringLiteral("support")); }
    QString dest() const { return dir.filePath(QStringLiteral("pictures")); }

    Outcome run(const QStringList& args, int photos = 4) {
        Outcome r;
        QString out;
        QTextStream o(&out), e(&r.err);
        const QStringList common{QStringLiteral("--camera"),   QStringLiteral("virtual"),
                                 QStringLiteral("--card-dir"), dir.filePath(QStringLiteral("card")),
                                 QStringLiteral("--photos"),   QString::number(photos)};
        auto request = parseCard(common + args, {o, e});
        if (!request) {
            r.code = exitUnreadable;
        } else {
            request->supportFolder = support();
            async::VirtualRuntime rt;
            request->virtualOptions.wallClock = [&rt] { return rt.clock().now().toLocalTime(); };
            r.code =
                rt.run(card(rt, std::move(*request), {o, e}), async::Seconds(3600)).value_or(-1);
        }
        o.flush();
        e.flush();
        r.lines = out.split(u'\n', Qt::SkipEmptyParts);
        return r;
    }

    QTemporaryDir dir;

private:
    QByteArray home_;
};

TEST_F(CardCommand, ListsTheCardNewestFirst) {
    const Outcome r = run({QStringLiteral("list")});
    ASSERT_EQ(r.code, exitOK) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 5) << r.lines.join(u'\n').toStdString();
    const QRegularExpression line(
        QStringLiteral(R"(^(DSC_000\d\.(JPG|NEF)) (\d+) (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)$)"));
    QStringList names, dates;
    for (int i = 0; i < 4; ++i) {
        const auto m = line.match(r.lines[i]);
        ASSERT_TRUE(m.hasMatch()) << r.lines[i].toStdString();
        names << m.captured(1);
        dates << m.captured(4);
    }
    EXPECT_EQ(names, (QStringList{"DSC_0004.NEF", "DSC_0003.JPG", "DSC_0002.NEF", "DSC_0001.JPG"}));
    QStringList sorted = dates;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    EXPECT_EQ(dates, sorted);
    EXPECT_EQ(r.lines.last(), QStringLiteral("card: 4 items (4 not imported)"));
}

TEST_F(CardCommand, ImportAllReportsEachFileAndFailsWhenOneFails) {
    const Outcome r =
        run({QStringLiteral("import"), QStringLiteral("--all"), QStringLiteral("--dest"), dest(),
             QStringLiteral("--fail-object"), QStringLiteral("DSC_0002.NEF:0x2002")});
    EXPECT_EQ(r.code, exitFailed) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 5) << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(r.lines[0], QStringLiteral("import: 1/4 DSC_0001.JPG"));
    EXPECT_TRUE(r.lines[1].startsWith(QStringLiteral("import: 2/4 DSC_0002.NEF failed: ")))
        << r.lines[1].toStdString();
    EXPECT_EQ(r.lines[2], QStringLiteral("import: 3/4 DSC_0003.JPG"));
    EXPECT_EQ(r.lines[3], QStringLiteral("import: 4/4 DSC_0004.NEF"));
    EXPECT_EQ(r.lines[4], QString::fromUtf8(
                              "3 枚を取り込みました。1 枚は取り込めませんでした（DSC_0002.NEF）"));
    EXPECT_EQ(QDir(dest()).entryList(QDir::Files, QDir::Name),
              (QStringList{"DSC_0001.JPG", "DSC_0003.JPG", "DSC_0004.NEF"}));

    // The ledger remembers: the next run lists three imported, and imports only the fourth.
    const Outcome list = run({QStringLiteral("list")});
    ASSERT_EQ(list.code, exitOK);
    EXPECT_EQ(list.lines.filter(QRegularExpression(QStringLiteral("^DSC.* imported( |$)"))).size(),
              3);
    EXPECT_EQ(list.lines.last(), QStringLiteral("card: 4 items (1 not imported)"));
    const Outcome again =
        run({QStringLiteral("import"), QStringLiteral("--all"), QStringLiteral("--dest"), dest()});
    EXPECT_EQ(again.code, exitOK) << again.err.toStdString();
    EXPECT_EQ(again.lines,
              (QStringList{"import: 1/1 DSC_0002.NEF", QString::fromUtf8("1 枚を取り込みました")}));
}

TEST_F(CardCommand, ImportByNameWritesPositionsButNotOverTheCamerasOwn) {
    if (!ExifTool::locate()) GTEST_SKIP() << "ExifTool is not installed";
    // The phone's last record, as the application keeps it.
    GeoPayload payload;
    payload.generated = QDateTime::currentDateTimeUtc();
    payload.shots[QStringLiteral("DSC_0001.JPG")] =
        GeoPoint{payload.generated, 35.5, 139.5, {}, {}};
    payload.shots[QStringLiteral("DSC_0002.NEF")] =
        GeoPoint{payload.generated, 35.5, 139.5, {}, {}};
    ASSERT_TRUE(QDir().mkpath(support()));
    QFile saved(QDir(support()).filePath(QStringLiteral("geo-latest.json")));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write(GeoStore::encodeSaved({QStringLiteral("phone"), payload.generated, payload}));
    saved.close();

    const QStringList names{QStringLiteral("DSC_0001.JPG"), QStringLiteral("DSC_0002.NEF")};
    const QStringList gps{QStringLiteral("--gps-every"), QStringLiteral("2")};
    const Outcome listed = run(QStringList{QStringLiteral("list")} + gps);
    EXPECT_EQ(
        listed.lines.filter(QRegularExpression(QStringLiteral("^DSC_000[12].* locatable$"))).size(),
        2)
        << listed.lines.join(u'\n').toStdString();

    const Outcome off =
        run(QStringList{QStringLiteral("import")} + names + gps +
            QStringList{QStringLiteral("--dest"), dest(), QStringLiteral("--no-locations")});
    ASSERT_EQ(off.code, exitOK) << off.err.toStdString();
    EXPECT_EQ(off.lines.last(), QString::fromUtf8("2 枚を取り込みました"));
    EXPECT_TRUE(off.lines.filter(QStringLiteral("geotag:")).isEmpty());

    for (const QString& name : QDir(dest()).entryList(QDir::Files)) QDir(dest()).remove(name);
    QFile::remove(QDir(support()).filePath(QStringLiteral("imported.json")));
    const Outcome on = run(QStringList{QStringLiteral("import")} + names + gps +
                           QStringList{QStringLiteral("--dest"), dest()});
    ASSERT_EQ(on.code, exitOK) << on.err.toStdString();
    // The raw file carries the camera's own position: only the JPEG is written.
    EXPECT_EQ(
        on.lines.mid(2),
        (QStringList{QStringLiteral("geotag: 1"),
                     QString::fromUtf8("2 枚を取り込みました（位置を書き込んだのは 1 枚）")}));
}

TEST_F(CardCommand, UnknownNameFailsWithoutImporting) {
    const Outcome r = run({QStringLiteral("import"), QStringLiteral("DSC_0099.JPG"),
                           QStringLiteral("--dest"), dest()});
    EXPECT_EQ(r.code, exitFailed);
    EXPECT_TRUE(r.err.contains(QStringLiteral("DSC_0099.JPG")));
    EXPECT_FALSE(QDir(dest()).exists() && !QDir(dest()).entryList(QDir::Files).isEmpty());
}

TEST_F(CardCommand, WrongCommandLines) {
    const std::vector<QStringList> cases = {
        {},
        {QStringLiteral("list"), QStringLiteral("extra")},
        {QStringLiteral("list"), QStringLiteral("--all")},
        {QStringLiteral("import")},
        {QStringLiteral("import"), QStringLiteral("--all"), QStringLiteral("DSC_0001.JPG")},
        {QStringLiteral("export")},
        {QStringLiteral("list"), QStringLiteral("--bogus")},
        {QStringLiteral("list"), QStringLiteral("--fail-object"), QStringLiteral("DSC_0001.JPG")},
        {QStringLiteral("list"), QStringLiteral("--fail-object"),
         QStringLiteral("DSC_0001.JPG:0x12345")},
        {QStringLiteral("list"), QStringLiteral("--gps-every"), QStringLiteral("-1")},
    };
    for (const QStringList& args : cases) {
        QString out, err;
        QTextStream o(&out), e(&err);
        EXPECT_FALSE(parseCard(args, {o, e})) << args.join(u' ').toStdString();
        e.flush();
        EXPECT_FALSE(err.isEmpty()) << args.join(u' ').toStdString();
    }
}

}  // namespace
}  // namespace pexil::cli
