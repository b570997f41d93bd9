#include "tools/pexilctl/GeoReceiveCommand.h"

#include "app/geo/ComputerName.h"
#include "app/geo/GeoJson.h"
#include "app/geo/GeoReceiver.h"
#include "app/geo/GeoStore.h"
#include "kit/async/VirtualClock.h"
#include "support/CommandRun.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

namespace pexil::cli {
namespace {

using Outcome = testing::CommandOutcome;

QByteArray payloadJson() {
    GeoPayload payload;
    payload.generated = QDateTime(QDate(2024, 5, 1), QTime(9, 0), Qt::UTC);
    payload.track.push_back(GeoPoint{payload.generated, 35.0, 139.0, {}, {}});
    return GeoJson::encodePayload(payload);
}

class GeoReceiveCommand : public ::testing::Test {
public:
    GeoReceiveCommand() {
        GeoReceiver::Options options;
        options.address = QHostAddress::LocalHost;
        options.advertise = false;
        options.computerName = [] { return QStringLiteral("Studio"); };
        receiver = std::make_unique<GeoReceiver>(clock, GeoReceiver::LogSink{}, options);
        receiver->setOnReceive([this](const GeoLink::Envelope& e) { envelopes.push_back(e); });
        receiver->start();
    }

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QString here() const { return QStringLiteral("127.0.0.1:%1").arg(receiver->port()); }

    Outcome send(const QStringList& args) { return testing::runCommand(runGeoSend, args); }

    QTemporaryDir dir;
    async::VirtualClock clock;
    std::unique_ptr<GeoReceiver> receiver;
    std::vector<GeoLink::Envelope> envelopes;
};

TEST_F(GeoReceiveCommand, SendPrintsOkAndDeliversTheRecord) {
    const QString path = file(QStringLiteral("p.json"), payloadJson());
    {
        SCOPED_TRACE("named sender");
        const Outcome r =
            send({here(), path, QStringLiteral("--sender"), QStringLiteral("tester")});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, QStringLiteral("OK\n"));
        ASSERT_EQ(envelopes.size(), 1u);
        EXPECT_EQ(envelopes[0].sender, QStringLiteral("tester"));
        EXPECT_EQ(GeoJson::encodePayload(envelopes[0].payload), payloadJson());
    }
    {
        SCOPED_TRACE("default sender: this computer");
        const Outcome r = send({here(), path});
        EXPECT_EQ(r.code, 0);
        ASSERT_EQ(envelopes.size(), 2u);
        EXPECT_EQ(envelopes[1].sender, ComputerName::current());
    }
}

TEST_F(GeoReceiveCommand, SendExitsOneOnNg) {
    // A receiver that refuses whatever it gets.
    QTcpServer refuser;
    ASSERT_TRUE(refuser.listen(QHostAddress::LocalHost));
    QObject::connect(&refuser, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = refuser.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("NG");
            socket->disconnectFromHost();
        });
    });
    const Outcome r = send({QStringLiteral("127.0.0.1:%1").arg(refuser.serverPort()),
                            file(QStringLiteral("p.json"), payloadJson())});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, QStringLiteral("NG\n"));
}

TEST_F(GeoReceiveCommand, SendFailuresExitTwoWithOneLine) {
    const QString good = file(QStringLiteral("p.json"), payloadJson());
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 nobody = closed.serverPort();
    closed.close();
    struct Case {
        const char* what;
        QStringList args;
    };
    const std::vector<Case> cases{
        {"missing file", {here(), dir.filePath(QStringLiteral("none.json"))}},
        {"not a record", {here(), file(QStringLiteral("bad.json"), R"({"track":[]})")}},
        {"no port", {QStringLiteral("localhost"), good}},
        {"port zero", {QStringLiteral("127.0.0.1:0"), good}},
        {"one argument", {good}},
        {"unknown option", {here(), good, QStringLiteral("--fast")}},
        {"nobody listening", {QStringLiteral("127.0.0.1:%1").arg(nobody), good}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = send(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("pexilctl geo send: ")));
    }
    EXPECT_TRUE(envelopes.empty());
}

// Runs "geo receive" with its data folder in `data`, sends it one record from `sender` once
// it is waiting, then stops it with SIGTERM.
struct ReceiveRun {
    Outcome receive;
    Outcome sent;
};
ReceiveRun receiveOne(GeoReceiveCommand& test, const QTemporaryDir& data, const QString& sender) {
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString payload = test.file(QStringLiteral("p.json"), payloadJson());

    ReceiveRun run;
    Outcome& r = run.receive;
    QTextStream out(&r.out), err(&r.err);
    // Runs inside the command's event loop, once it is waiting.
    QTimer::singleShot(0, [&] {
        const auto match =
            QRegularExpression(QStringLiteral(R"(^state: waiting .+ \(port (\d+)\)$)"),
                               QRegularExpression::MultilineOption)
                .match(r.out);
        if (match.hasMatch()) {
            run.sent =
                testing::runCommand(runGeoSend, {QStringLiteral("127.0.0.1:") + match.captured(1),
                                                 payload, QStringLiteral("--sender"), sender});
        }
        // Thread-directed: the command has blocked it for this thread and reads it itself.
        std::raise(SIGTERM);
    });
    r.code = runGeoReceive(
        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--no-advertise")},
        {out, err});
    out.flush();
    err.flush();
    if (previous.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", previous);
    }
    return run;
}

TEST_F(GeoReceiveCommand, ReceivePrintsStatesSavesAndStopsCleanlyOnSigterm) {
    QTemporaryDir data;
    const ReceiveRun run = receiveOne(*this, data, QStringLiteral("tester"));
    const Outcome& r = run.receive;

    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(run.sent.out, QStringLiteral("OK\n"));
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("state: waiting ")));
    EXPECT_EQ(lines[1], QStringLiteral("state: receiving"));
    EXPECT_EQ(lines[2], QStringLiteral("state: received tester"));
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("log: 位置情報を受信: tester から shots 0 / track 1")));

    QFile saved(data.filePath(QStringLiteral("Pexil/geo-latest.json")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray json = saved.readAll();
    const auto record =
        GeoStore::decodeSaved(ByteView(reinterpret_cast<const std::uint8_t*>(json.constData()),
                                       static_cast<std::size_t>(json.size())));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->sender, QStringLiteral("tester"));
}

TEST_F(GeoReceiveCommand, ASenderNameCannotForgeALineOfItsOwn) {
    QTemporaryDir data;
    const QString forger = QStringLiteral("evil\nstate: received forged\r\x1b[2K\\");
    const ReceiveRun run = receiveOne(*this, data, forger);
    const Outcome& r = run.receive;

    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(run.sent.out, QStringLiteral("OK\n"));
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_EQ(lines[2],
              QStringLiteral("state: received evil\\nstate: received forged\\r\\x1b[2K\\\\"));
    EXPECT_FALSE(r.out.contains(u'\r') || r.out.contains(u'\x1b'));
    for (const QString& line : r.err.split(u'\n', Qt::SkipEmptyParts)) {
        SCOPED_TRACE(line.toStdString());
        EXPECT_TRUE(line.startsWith(QStringLiteral("log: "))) << "every stderr line is a log line";
        EXPECT_FALSE(line.contains(u'\r') || line.contains(u'\x1b'));
    }
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("log: 位置情報を受信: evil\\nstate: received forged\\r\\x1b[2K\\\\ から")));
}

TEST_F(GeoReceiveCommand, ReceiveRejectsAWrongCommandLine) {
    for (const QStringList& args : {QStringList{QStringLiteral("--port")},
                                    QStringList{QStringLiteral("--port"), QStringLiteral("70000")},
                                    QStringList{QStringLiteral("extra")}}) {
        Outcome r;
        QTextStream out(&r.out), err(&r.err);
        r.code = runGeoReceive(args, {out, err});
        err.flush();
        EXPECT_EQ(r.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("pexilctl geo receive: ")));
    }
}

}  // namespace
}  // namespace pexil::cli
