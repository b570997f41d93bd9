#include "tools/pexilctl/CardCommand.h"

#include "app/geo/ExifTool.h"
#include "app/geo/GeoStore.h"
#include "kit/async/VirtualRuntime.h"
#include "support/ScopedEnvironment.h"
#include "tools/pexilctl/LineText.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

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
    testing::ScopedEnvironment environment_{
        {"HOME", dir.path().toUtf8()},
        {"XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8()}};
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

// Nothing listens at the address: list and import both say the connection's own reason at
// once, rather than after the catalogue's ten-minute allowance.
TEST_F(CardCommand, AnUnreachableCameraFailsAtOnceWithItsReason) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("ptpip://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    for (const QStringList& action :
         {QStringList{QStringLiteral("list")},
          QStringList{QStringLiteral("import"), QStringLiteral("--all")}}) {
        QString out, err;
        QTextStream o(&out), e(&err);
        auto request = parseCard(QStringList{QStringLiteral("--camera"), address} + action, {o, e});
        ASSERT_TRUE(request);
        request->supportFolder = support();
        request->dest = dest();
        async::VirtualRuntime rt;
        const auto code = rt.run(card(rt, std::move(*request), {o, e}), async::Seconds(3600));
        e.flush();
        EXPECT_EQ(code, std::optional<int>(exitFailed)) << action.join(u' ').toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("pexilctl card: カメラの準備ができません（") +
                                   address + QStringLiteral("）: ")))
            << err.toStdString();
        // The virtual clock would have run the whole allowance had the run waited for it.
        EXPECT_LT(rt.clock().monotonic().count(), 60.0);
    }
}

// A camera that answers the handshake with garbage or a refusal, or never finishes it: the
// run ends within the handshake's own bounds with the camera's reason, as camera summary does.
TEST_F(CardCommand, AHostileHandshakeEndsTheRunWithItsReason) {
    struct Row {
        const char* what;
        QByteArray reply;  // to the Init Command Request
        const char* says;
    };
    const QByteArray busy = QByteArray::fromHex(
        "0c00000005000000"
        "02000000");
    const Row rows[] = {
        {"Init Fail: busy", busy, "別の機器と接続中です"},
        {"a length of 0xFFFFFFFF", QByteArray::fromHex("ffffffff02000000") + QByteArray(40, 0),
         "解釈できない"},
        {"a length of 3", QByteArray::fromHex("0300000002000000"), "解釈できない"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        const int listener = static_cast<int>(server.socketDescriptor());
        std::thread camera([listener, reply = row.reply] {
            pollfd waiting{listener, POLLIN, 0};
            if (::poll(&waiting, 1, 10000) <= 0) return;
            const int peer = ::accept(listener, nullptr, nullptr);
            if (peer < 0) return;
            char request[512];
            (void)::recv(peer, request, sizeof request, 0);
            (void)::send(peer, reply.constData(), static_cast<std::size_t>(reply.size()),
                         MSG_NOSIGNAL);
            ::shutdown(peer, SHUT_WR);
            while (::recv(peer, request, sizeof request, 0) > 0) {
            }
            ::close(peer);
        });
        QString out, err;
        QTextStream o(&out), e(&err);
        auto request = parseCard({QStringLiteral("--camera"),
                                  QStringLiteral("ptpip://127.0.0.1:%1").arg(server.serverPort()),
                                  QStringLiteral("list")},
                                 {o, e});
        ASSERT_TRUE(request);
        request->supportFolder = support();
        async::VirtualRuntime rt;
        const auto code = rt.run(card(rt, std::move(*request), {o, e}), async::Seconds(3600));
        camera.join();
        e.flush();
        EXPECT_EQ(code, std::optional<int>(exitFailed));
        EXPECT_TRUE(err.contains(QString::fromUtf8(row.says))) << err.toStdString();
    }
}

// A camera's file name is outside data: it can neither forge an output line nor split one.
TEST_F(CardCommand, NamesWithControlCharactersStayOnTheirLine) {
    EXPECT_EQ(lineSafe(QStringLiteral("DSC_0001.JPG\ncard: 0 items")),
              QStringLiteral("DSC_0001.JPG\\ncard: 0 items"));
    EXPECT_EQ(lineSafe(QStringLiteral("a\tb\rc\\d\x01\x7F")),
              QStringLiteral("a\\tb\\rc\\\\d\\x01\\x7f"));
    EXPECT_EQ(lineSafe(QString::fromUtf8("日本語.JPG")), QString::fromUtf8("日本語.JPG"));
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
