#include "tools/pexilctl/TetherCommand.h"

#include "camera/ptpip/PtpIpServer.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/ptp/PTPEvent.h"
#include "support/HostileResponder.h"
#include "support/ScopedEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace pexil::cli {
namespace {

struct Outcome {
    int code = -1;
    QStringList lines;
    QString err;
};

// The log goes to the state folder: the test's home and state folder are temporary.
class TetherCommand : public ::testing::Test {
protected:

    Outcome run(QStringList args) {
        Outcome r;
        QString out;
        QTextStream o(&out), e(&r.err);
        // What the test does while the run goes on, seeing its output so far.
        QTimer watcher;
        if (duringRun) {
            QObject::connect(&watcher, &QTimer::timeout, [&] {
                o.flush();
                duringRun(out);
            });
            watcher.start(20);
        }
        r.code = runTether(QStringList{QStringLiteral("--camera"), QStringLiteral("virtual"), QStringLiteral("--card-dir"),
                                       dir.filePath(QStringLiteral("card")), QStringLiteral("--photos"), QStringLiteral("3"),
                                       QStringLiteral("--dest"), dir.filePath(QStringLiteral("pictures"))} +
                               args,
                           {o, e});
        o.flush();
        e.flush();
        r.lines = out.split(u'\n', Qt::SkipEmptyParts);
        return r;
    }

    QTemporaryDir dir;
    std::function<void(const QString& output)> duringRun;

private:
    testing::ScopedEnvironment environment_{
        {"HOME", dir.path().toUtf8()},
        {"XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8()}};
};

TEST_F(TetherCommand, ShotsLandInTheDestinationAndTheOldCardStaysOnTheCard) {
    // Without --card: waiting for the catalogue to settle would take the program's real 1.5 s
    // (settling is tested on the virtual clock with the link itself).
    const Outcome r = run({QStringLiteral("--shoot"), QStringLiteral("3")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(r.lines.mid(0, 4), (QStringList{QStringLiteral("phase: searching"), QStringLiteral("phase: opening D850"),
                                              QStringLiteral("phase: preparing D850"), QStringLiteral("phase: ready D850")}));
    EXPECT_EQ(r.lines.count(QStringLiteral("shot: OK")), 3);
    EXPECT_EQ(r.lines.filter(QStringLiteral("saved: ")).size(), 3);
    EXPECT_EQ(r.lines.last(), QStringLiteral("phase: closed"));
    const QStringList saved = QDir(dir.filePath(QStringLiteral("pictures"))).entryList(QDir::Files);
    EXPECT_EQ(saved, (QStringList{QStringLiteral("DSC_0004.JPG"), QStringLiteral("DSC_0005.JPG"), QStringLiteral("DSC_0006.JPG")}));
    QFile log(dir.filePath(QStringLiteral("state/Pexil/Pexil.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("準備完了")));
}

// A second run into the same session continues the series instead of adding "-1".
TEST_F(TetherCommand, ASessionAndATemplateNameTheShotsInTheSessionFolder) {
    const QStringList naming{QStringLiteral("--session"), QStringLiteral("Studio"),
                             QStringLiteral("--name"), QStringLiteral("{session}_{counter:4}")};
    Outcome r = run(naming + QStringList{QStringLiteral("--shoot"), QStringLiteral("2")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = run(naming + QStringList{QStringLiteral("--shoot"), QStringLiteral("1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("pictures/Studio"))).entryList(QDir::Files),
              (QStringList{QStringLiteral("Studio_0001.JPG"), QStringLiteral("Studio_0002.JPG"),
                           QStringLiteral("Studio_0003.JPG")}));
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--name"), QStringLiteral("{counter")},
          QStringList{QStringLiteral("--session"), QStringLiteral("../up")},
          QStringList{QStringLiteral("--backup"), dir.filePath(QStringLiteral("unplugged"))},
          // A series' timing runs on the program's clock; its cadence is tested on the
          // virtual one. Here only what is refused before any release.
          QStringList{QStringLiteral("--interval"), QStringLiteral("0.5"),
                      QStringLiteral("--shoot"), QStringLiteral("2")},
          QStringList{QStringLiteral("--interval"), QStringLiteral("2")},
          QStringList{QStringLiteral("--delay"), QStringLiteral("3"), QStringLiteral("--shoot"),
                      QStringLiteral("2")},
          QStringList{QStringLiteral("--bracket"), QStringLiteral("4")},
          QStringList{QStringLiteral("--bracket"), QStringLiteral("3"), QStringLiteral("--step"),
                      QStringLiteral("2")},
          QStringList{QStringLiteral("--step"), QStringLiteral("1")},
          QStringList{QStringLiteral("--bracket"), QStringLiteral("3"), QStringLiteral("--shoot"),
                      QStringLiteral("2")}}) {
        r = run(wrong);
        EXPECT_EQ(r.code, 2) << wrong.join(u' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
}

// The demo body is in manual exposure: the bracket moves the shutter and puts it back.
TEST_F(TetherCommand, ABracketShootsAroundTheExposureAndPutsTheSettingBack) {
    const Outcome r =
        run({QStringLiteral("--bracket"), QStringLiteral("3"), QStringLiteral("--step"),
             QStringLiteral("1"), QStringLiteral("--settings")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(r.lines.filter(QStringLiteral("shot: ")),
              (QStringList{QStringLiteral("shot: OK ±0"), QStringLiteral("shot: OK −1 EV"),
                           QStringLiteral("shot: OK +1 EV")}));
    EXPECT_EQ(r.lines.filter(QStringLiteral("saved: ")).size(), 3);
    const QStringList shutter = r.lines.filter(QStringLiteral("setting: シャッター: "));
    ASSERT_GE(shutter.size(), 3);
    EXPECT_TRUE(shutter.contains(QStringLiteral("setting: シャッター: 1/2.5")));
    EXPECT_EQ(shutter.first(), shutter.last());
}

TEST_F(TetherCommand, ABackupFolderHoldsIdenticalCopiesInTheSameFolders) {
    const QString backup = dir.filePath(QStringLiteral("backup"));
    ASSERT_TRUE(QDir().mkpath(backup));
    const Outcome r =
        run({QStringLiteral("--session"), QStringLiteral("Studio"), QStringLiteral("--name"),
             QStringLiteral("{session}_{counter:4}"), QStringLiteral("--backup"), backup,
             QStringLiteral("--shoot"), QStringLiteral("3")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    const QStringList names{QStringLiteral("Studio_0001.JPG"), QStringLiteral("Studio_0002.JPG"),
                            QStringLiteral("Studio_0003.JPG")};
    EXPECT_EQ(QDir(backup + QStringLiteral("/Studio")).entryList(QDir::Files), names);
    EXPECT_EQ(r.lines.filter(QStringLiteral("backup: ")).size(), 3);
    for (const QString& name : names) {
        QFile primary(dir.filePath(QStringLiteral("pictures/Studio/") + name));
        QFile copy(backup + QStringLiteral("/Studio/") + name);
        ASSERT_TRUE(primary.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(primary.readAll(), copy.readAll()) << name.toStdString();
    }
}

TEST_F(TetherCommand, ABodyThatOnlyQueuesEventsForCheckEventStillHasItsShotsSaved) {
    const Outcome r = run({QStringLiteral("--check-event-only"), QStringLiteral("--shoot"), QStringLiteral("2")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(r.lines.filter(QStringLiteral("saved: ")).size(), 2);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("pictures"))).entryList(QDir::Files).size(), 2);
}

TEST_F(TetherCommand, LiveViewFramesAreCountedAndWritten) {
    const Outcome r = run({QStringLiteral("--liveview"), QStringLiteral("5"), QStringLiteral("--frames-dir"),
                           dir.filePath(QStringLiteral("frames"))});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    const QStringList live = r.lines.filter(QStringLiteral("liveview: "));
    ASSERT_EQ(live.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^liveview: \d+ frames in [\d.]+ s \([\d.]+ fps\)$)")).match(live[0]).hasMatch())
        << live[0].toStdString();
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("frames"))).entryList(QDir::Files).size(), 5);
}

// The link over PTP/IP on loopback: the virtual camera served by the real pexilctl vcam.
TEST_F(TetherCommand, TethersACameraOnTheNetwork) {
    QProcess vcam;
    vcam.start(QStringLiteral(PEXILCTL_PATH),
               {QStringLiteral("vcam"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--card"),
                dir.filePath(QStringLiteral("netcard")), QStringLiteral("--photos"), QStringLiteral("2")});
    ASSERT_TRUE(vcam.waitForStarted(10000));
    QByteArray first;
    while (!first.contains('\n') && vcam.waitForReadyRead(20000)) first += vcam.readAllStandardOutput();
    const auto port = QRegularExpression(QStringLiteral(R"(listening on 127\.0\.0\.1:(\d+))")).match(QString::fromUtf8(first));
    ASSERT_TRUE(port.hasMatch()) << first.toStdString();

    QString out, err;
    QTextStream o(&out), e(&err);
    const QString dest = dir.filePath(QStringLiteral("net"));
    const int code = runTether({QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:") + port.captured(1),
                                QStringLiteral("--dest"), dest, QStringLiteral("--shoot"), QStringLiteral("2"),
                                QStringLiteral("--delete-after-download")},
                               {o, e});
    o.flush();
    ::kill(static_cast<pid_t>(vcam.processId()), SIGTERM);
    vcam.waitForFinished(20000);
    ASSERT_EQ(code, 0) << err.toStdString() << out.toStdString();
    // Known by its address until it says what it is, then by its model.
    EXPECT_TRUE(out.contains(QStringLiteral("phase: opening 127.0.0.1\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("phase: ready D850\n"))) << out.toStdString();
    EXPECT_EQ(QDir(dest).entryList(QDir::Files), (QStringList{QStringLiteral("DSC_0003.JPG"), QStringLiteral("DSC_0004.JPG")}));
    // Deleted from the card only once saved; the old pictures stay.
    const QString folder = dir.filePath(QStringLiteral("netcard/DCIM/100NCD850"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{QStringLiteral("DSC_0001.JPG"), QStringLiteral("DSC_0002.NEF")}));
}

// Tethering until stopped outlives a camera that leaves the network: it comes back by itself.
TEST_F(TetherCommand, ACameraThatLeavesTheNetworkIsReconnected) {
    const auto startCamera = [&](QProcess& vcam, const QString& listen) {
        vcam.start(QStringLiteral(PEXILCTL_PATH), {QStringLiteral("vcam"), QStringLiteral("--listen"), listen,
                                                   QStringLiteral("--card"), dir.filePath(QStringLiteral("netcard"))});
        EXPECT_TRUE(vcam.waitForStarted(10000));
        QByteArray first;
        while (!first.contains('\n') && vcam.waitForReadyRead(20000)) first += vcam.readAllStandardOutput();
        return QRegularExpression(QStringLiteral(R"(listening on (127\.0\.0\.1:\d+))")).match(QString::fromUtf8(first)).captured(1);
    };
    QProcess first, second;
    const QString address = startCamera(first, QStringLiteral("127.0.0.1:0"));
    ASSERT_FALSE(address.isEmpty());
    // Gone a second and a half into the run, and started again at once on the same port;
    // a loaded machine may take seconds to bring it up, which the later tries (3 and 8 s
    // after the loss) allow for.
    QTimer::singleShot(1500, [&] {
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        first.waitForFinished(5000);
        startCamera(second, address);
    });
    QString out, err;
    QTextStream o(&out), e(&err);
    const int code = runTether({QStringLiteral("--camera"), QStringLiteral("ptpip://") + address, QStringLiteral("--dest"),
                                dir.filePath(QStringLiteral("net")), QStringLiteral("--for"), QStringLiteral("13")},
                               {o, e});
    o.flush();
    ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    second.waitForFinished(20000);
    EXPECT_EQ(code, 0) << err.toStdString();
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.count(QStringLiteral("phase: ready D850")), 2) << out.toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^phase: reconnecting D850 at \\d\\d:\\d\\d:\\d\\d$"))).size() > 0, true)
        << out.toStdString();
}

// A photo booth: one run per guest, back to back, on a camera whose clock is five minutes
// ahead. Each run must save its own guest's picture, once, and nothing of the run before.
TEST_F(TetherCommand, BackToBackBoothRunsEachSaveTheirOwnShotOnce) {
    QProcess vcam;
    vcam.start(QStringLiteral(PEXILCTL_PATH),
               {QStringLiteral("vcam"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                QStringLiteral("--card"), dir.filePath(QStringLiteral("booth")),
                QStringLiteral("--photos"), QStringLiteral("1"), QStringLiteral("--clock-drift"),
                QStringLiteral("300")});
    ASSERT_TRUE(vcam.waitForStarted(10000));
    QByteArray first;
    while (!first.contains('\n') && vcam.waitForReadyRead(20000))
        first += vcam.readAllStandardOutput();
    const auto port = QRegularExpression(QStringLiteral(R"(listening on 127\.0\.0\.1:(\d+))"))
                          .match(QString::fromUtf8(first));
    ASSERT_TRUE(port.hasMatch()) << first.toStdString();
    const QString dest = dir.filePath(QStringLiteral("guests"));
    QStringList saved;
    for (int guest = 0; guest < 3; ++guest) {
        QString out, err;
        QTextStream o(&out), e(&err);
        const int code = runTether(
            {QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:") + port.captured(1),
             QStringLiteral("--dest"), dest, QStringLiteral("--shoot"), QStringLiteral("1")},
            {o, e});
        o.flush();
        EXPECT_EQ(code, 0) << err.toStdString() << out.toStdString();
        for (const QString& line : out.split(u'\n'))
            if (line.startsWith(QStringLiteral("saved: ")))
                saved << QFileInfo(line.mid(7)).fileName();
    }
    ::kill(static_cast<pid_t>(vcam.processId()), SIGTERM);
    vcam.waitForFinished(20000);
    const QStringList guests{QStringLiteral("DSC_0002.JPG"), QStringLiteral("DSC_0003.JPG"),
                             QStringLiteral("DSC_0004.JPG")};
    EXPECT_EQ(saved, guests);
    EXPECT_EQ(QDir(dest).entryList(QDir::Files), guests);
}

// A body that floods the event channel with new objects: the run must keep its own time and
// end when asked, not drown in questions about objects that do not exist. The run lasts ten
// real seconds, the time a loaded machine may take to get the flooded body ready; what it must
// never do is run on without end (the bound is far beyond --for).
TEST_F(TetherCommand, AnEventFloodDoesNotKeepTheRunFromEnding) {
    auto made = camera::VirtualCamera::create(
        {.cardDir = dir.filePath(QStringLiteral("flood")), .photos = 1});
    ASSERT_TRUE(made) << made.error().toStdString();
    auto hostile = std::make_shared<testing::HostileResponder>(made.value());
    hostile->flood([](std::uint32_t n) { return PTPEvent{0x4002, 1000 + n}.toContainer(); });
    camera::PtpIpServer server(hostile, "127.0.0.1", 0);
    ASSERT_TRUE(server.start());
    QString out, err;
    QTextStream o(&out), e(&err);
    QElapsedTimer took;
    took.start();
    const int code = runTether(
        {QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:%1").arg(server.port()),
         QStringLiteral("--dest"), dir.filePath(QStringLiteral("flooded")), QStringLiteral("--for"),
         QStringLiteral("10")},
        {o, e});
    const qint64 elapsed = took.elapsed();
    const std::uint32_t sent = hostile->floodSent();
    server.stop();
    o.flush();
    EXPECT_EQ(code, 0) << err.toStdString() << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("phase: ready"))) << out.toStdString();
    EXPECT_GT(sent, 5000u) << "a flood, not a trickle";
    EXPECT_LT(elapsed, 60000) << "--for 10 was not honoured";
}

// Nothing listens at the address: the run says the connection's own reason at once.
TEST_F(TetherCommand, AnUnreachableCameraFailsAtOnceWithItsReason) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QString out, err;
    QTextStream o(&out), e(&err);
    QElapsedTimer took;
    took.start();
    const int code =
        runTether({QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:%1").arg(port),
                   QStringLiteral("--shoot"), QStringLiteral("1")},
                  {o, e});
    e.flush();
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains(
        QStringLiteral("カメラの準備ができません（ptpip://127.0.0.1:%1）: ").arg(port)))
        << err.toStdString();
    EXPECT_LT(took.elapsed(), 20000) << "not the minute-long wait for a camera that never comes";
}

TEST_F(TetherCommand, SettingsAreListedChangedThroughTheModelAndRefusalsFailTheRun) {
    struct Case {
        QStringList args;
        int code;
        QStringList wanted;  // lines that must appear
    };
    const Case cases[] = {
        {{QStringLiteral("--settings"), QStringLiteral("--set"), QStringLiteral("ISO=800")},
         0,
         {QStringLiteral("setting: ISO: 400"), QStringLiteral("setting: ISO: 800"),
          QStringLiteral("set: ISO=800"), QString::fromUtf8("setting: 焦点距離: 50mm [locked]")}},
        {{QStringLiteral("--set"), QStringLiteral("ISO=7")},
         1,
         {QString::fromUtf8("set: ISO=7: ISO に「7」はありません")}},
        {{QStringLiteral("--set"), QString::fromUtf8("焦点距離=35mm")},
         1,
         {QString::fromUtf8("set: 焦点距離=35mm: 焦点距離 は変更できません")}},
        {{QStringLiteral("--sync-clock"), QStringLiteral("--release-control")},
         0,
         {QStringLiteral("clock: OK"), QStringLiteral("release: OK")}},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        SCOPED_TRACE(r.lines.join(u'\n').toStdString());
        EXPECT_EQ(r.code, c.code);
        for (const QString& wanted : c.wanted) EXPECT_TRUE(r.lines.contains(wanted)) << wanted.toStdString();
        EXPECT_EQ(r.lines.last(), QStringLiteral("phase: closed"));
    }
    // Each setting is shown again only when it changed.
    const Outcome once = run({QStringLiteral("--settings"), QStringLiteral("--for"), QStringLiteral("2")});
    EXPECT_EQ(once.lines.filter(QStringLiteral("setting: ISO: ")).size(), 1);
}

TEST_F(TetherCommand, AWrongCommandLineIsStatusTwo) {
    EXPECT_EQ(run({QStringLiteral("--shoot"), QStringLiteral("many")}).code, 2);
    EXPECT_EQ(run({QStringLiteral("--for"), QStringLiteral("-1")}).code, 2);
    EXPECT_EQ(run({QStringLiteral("--dance")}).code, 2);
    EXPECT_EQ(run({QStringLiteral("--set"), QStringLiteral("ISO")}).code, 2);
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--af-at"), QStringLiteral("0.5")},
          QStringList{QStringLiteral("--af-at"), QStringLiteral("1.5,0.2")},
          QStringList{QStringLiteral("--mf-drive"), QStringLiteral("up:10")},
          QStringList{QStringLiteral("--mf-drive"), QStringLiteral("near:0")},
          QStringList{QStringLiteral("--mf-drive")},
          QStringList{QStringLiteral("--focus-stack"), QStringLiteral("3")},
          QStringList{QStringLiteral("--focus-stack"), QStringLiteral("3"),
                      QStringLiteral("--focus-step"), QStringLiteral("0")},
          QStringList{QStringLiteral("--focus-step"), QStringLiteral("10")},
          QStringList{QStringLiteral("--client-view"), QStringLiteral("127.0.0.1")},
          QStringList{QStringLiteral("--client-view"), QStringLiteral("localhost:8080")},
          QStringList{QStringLiteral("--client-view"), QStringLiteral("127.0.0.1:70000")}})
        EXPECT_EQ(run(wrong).code, 2) << wrong.join(u' ').toStdString();
}

// Browsers hammering the client view: each request on its own loopback connection, its
// answer's status line kept.
class ClientFlood {
public:
    void request(const QUrl& view, const QByteArray& path, const QByteArray& extra = {}) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket* raw = socket.get();
        const std::size_t at = answers_.size();
        answers_.emplace_back();
        const QByteArray head = (extra.isEmpty() ? "GET " : "POST ") + path +
                                "?t=" + view.query().mid(2).toLatin1() + " HTTP/1.1\r\nHost: h\r\n";
        QObject::connect(raw, &QTcpSocket::connected, [raw, head, extra] {
            raw->write(extra.isEmpty() ? head + "\r\n"
                                       : head + "Content-Length: " +
                                             QByteArray::number(extra.size()) + "\r\n\r\n" + extra);
        });
        QObject::connect(raw, &QTcpSocket::readyRead,
                         [this, raw, at] { answers_[at] += raw->readAll(); });
        QObject::connect(raw, &QTcpSocket::disconnected, [this] { ++closed_; });
        raw->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(view.port()));
        sockets_.push_back(std::move(socket));
    }
    bool allAnswered() const { return closed_ == sockets_.size(); }
    std::size_t sent() const { return sockets_.size(); }
    const QByteArray& answer(std::size_t at) const { return answers_[at]; }

private:
    std::vector<QByteArray> answers_;
    std::size_t closed_ = 0;
    std::vector<std::unique_ptr<QTcpSocket>> sockets_;  // gone first: they tell the two above
};

TEST_F(TetherCommand, TheClientViewServesTheRunAndRefusesAllInterfaces) {
    // While the camera shoots three frames a second apart: 200 page requests at once and a
    // 10 MiB body, then ten requests every 20 ms until the last frame is saved. Then the list
    // the view serves, taken from the filmstrip. Real time, bounded by --for: the command runs
    // on the real clock.
    ClientFlood flood;
    QUrl view;
    std::size_t big = 0, list = 0;
    QElapsedTimer listAsked;
    const auto listsAll = [](const QByteArray& answer) {
        return answer.startsWith("HTTP/1.1 200") && answer.contains("DSC_0004.JPG") &&
               answer.contains("DSC_0005.JPG") && answer.contains("DSC_0006.JPG");
    };
    duringRun = [&](const QString& out) {
        if (view.isEmpty()) {
            const QRegularExpression said(QStringLiteral("client-view: (http://\\S+)"));
            const auto match = said.match(out);
            if (!match.hasMatch()) return;
            view = QUrl(match.captured(1));
            big = flood.sent();
            flood.request(view, "/api/comment/0123456789abcdef", QByteArray(10 << 20, 'x'));
            for (int i = 0; i < 200; ++i) flood.request(view, "/");
        } else if (out.count(QStringLiteral("saved: ")) < 3) {
            if (flood.sent() < 3000)
                for (int i = 0; i < 10; ++i) flood.request(view, "/");
        } else if (flood.allAnswered() &&
                   (list == 0 || (!listsAll(flood.answer(list)) && listAsked.elapsed() > 500))) {
            // Asked again while the flood's rate limit still holds for this address, or until
            // the last shot's preview is made (a shot is listed once it can be shown).
            list = flood.sent();
            listAsked.start();
            flood.request(view, "/api/shots");
        }
    };
    const Outcome served =
        run({QStringLiteral("--shoot"), QStringLiteral("3"), QStringLiteral("--interval"),
             QStringLiteral("1"), QStringLiteral("--client-view"), QStringLiteral("127.0.0.1:0"),
             QStringLiteral("--for"), QStringLiteral("10")});
    duringRun = nullptr;
    EXPECT_EQ(served.code, 0) << served.err.toStdString();
    const QStringList url = served.lines.filter(QStringLiteral("client-view: http://127.0.0.1:"));
    ASSERT_EQ(url.size(), 1) << served.lines.join(u'\n').toStdString();
    EXPECT_TRUE(url[0].contains(QStringLiteral("/?t=")));
    EXPECT_EQ(served.lines.filter(QStringLiteral("saved: ")).size(), 3);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("pictures"))).entryList(QDir::Files).size(), 3);

    ASSERT_TRUE(flood.allAnswered()) << flood.sent() << " requests";
    EXPECT_GT(flood.sent(), 201u) << "the flood went on while the camera shot";
    const QByteArray bigAnswer = flood.answer(big);
    EXPECT_TRUE(bigAnswer.startsWith("HTTP/1.1 413") || bigAnswer.startsWith("HTTP/1.1 503") ||
                bigAnswer.startsWith("HTTP/1.1 429"))
        << bigAnswer.left(40).toStdString();
    int pages = 0, refused = 0;
    for (std::size_t at = big + 1; at < flood.sent(); ++at) {
        const QByteArray& answer = flood.answer(at);
        pages += answer.startsWith("HTTP/1.1 200");
        // Refused, or in the worst of the flood closed unanswered.
        refused += answer.startsWith("HTTP/1.1 503") || answer.startsWith("HTTP/1.1 429") ||
                   answer.isEmpty();
    }
    EXPECT_GT(pages, 0);
    EXPECT_EQ(pages + refused, static_cast<int>(flood.sent() - big - 1))
        << "every request answered within the limits";
    ASSERT_GT(list, 0u);
    EXPECT_TRUE(listsAll(flood.answer(list))) << flood.answer(list).toStdString();

    const Outcome everywhere = run({QStringLiteral("--client-view"), QStringLiteral("0.0.0.0:0"),
                                    QStringLiteral("--for"), QStringLiteral("0")});
    EXPECT_EQ(everywhere.code, 1);
    EXPECT_TRUE(everywhere.err.contains(
        QStringLiteral("クライアントビューを開くネットワークのアドレスを選んでください。")));
}

TEST_F(TetherCommand, FocusingFromLiveViewAndAFocusStackReportALineEach) {
    const Outcome r =
        run({QStringLiteral("--af-at"), QStringLiteral("0.25,0.75"), QStringLiteral("--mf-drive"),
             QStringLiteral("far:32767"), QStringLiteral("--mf-drive"), QStringLiteral("near:250"),
             QStringLiteral("--focus-stack"), QStringLiteral("4"), QStringLiteral("--focus-step"),
             QStringLiteral("100")});
    // The stack ends at the lens's far end after three shots: not all that was asked for.
    EXPECT_EQ(r.code, 1) << r.err.toStdString() << r.lines.join(u'\n').toStdString();
    EXPECT_TRUE(r.lines.contains(QStringLiteral("af-area: 0.25,0.75 OK")))
        << r.lines.join(u'\n').toStdString();
    EXPECT_TRUE(r.lines.contains(QStringLiteral("mf: far:32767 レンズの端に達しました。")));
    EXPECT_TRUE(r.lines.contains(QStringLiteral("mf: near:250 OK")));
    EXPECT_TRUE(r.lines.contains(QStringLiteral(
        "focus-stack: フォーカスシフト撮影: レンズの端に達したので 3 枚で止めました。")));
    EXPECT_EQ(r.lines.filter(QStringLiteral("saved: ")).size(), 3);
}

}  // namespace
}  // namespace pexil::cli
