// The client view over real loopback sockets: what a browser may ask and what it may not.
// Socket traffic is waited for in real time, bounded; nothing here waits on a program timer.
#include "app/shots/PictureDecoder.h"
#include "tests/app/clientview/ClientViewRig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace pexil {
namespace {

using namespace std::chrono_literals;

struct Reply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

class ClientViewServerTest : public ::testing::Test, protected ClientViewRig {
protected:
    void SetUp() override {
        const auto url = server.start(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(url) << url.error().toStdString();
        base = url.value();
        token = base.query().mid(2).toLatin1();
    }

    // Loopback traffic (and the model's posted work) until `done`, for at most `limit` of
    // real time: the only real-time wait of these tests, for the sockets.
    bool pumpSocketsUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds limit = 10s) {
        return pumpExternalUntil(done, limit);
    }

    // One request on its own connection; the answer once the server closed it.
    Reply send(const QByteArray& request) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, base.port());
        QByteArray got;
        bool closed = false;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { got += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
        QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
        EXPECT_TRUE(pumpSocketsUntil([&] { return closed; })) << request.left(80).toStdString();
        got += socket.readAll();
        Reply reply;
        const qsizetype end = got.indexOf("\r\n\r\n");
        reply.head = got.left(end);
        reply.body = end < 0 ? QByteArray() : got.mid(end + 4);
        const QList<QByteArray> line = got.left(got.indexOf("\r\n")).split(' ');
        reply.status = line.size() > 1 ? line[1].toInt() : 0;
        return reply;
    }
    Reply get(const QByteArray& target) {
        return send("GET " + target + " HTTP/1.1\r\nHost: h\r\n\r\n");
    }
    Reply post(const QByteArray& target, const QByteArray& body) {
        return send("POST " + target +
                    " HTTP/1.1\r\nHost: h\r\nContent-Type: application/json\r\n"
                    "Content-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    QByteArray withToken(const QByteArray& path) const { return path + "?t=" + token; }

    std::unique_ptr<QWebSocket> watch(const QByteArray& target, std::vector<QJsonObject>& heard) {
        auto socket = std::make_unique<QWebSocket>();
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived,
                         [&heard](const QString& text) {
                             heard.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
                         });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(base.port()) +
                          QString::fromLatin1(target)));
        return socket;
    }

    QUrl base;
    QByteArray token;
};

TEST_F(ClientViewServerTest, StartsOnOneInterfaceWithANewTokenEachTime) {
    EXPECT_EQ(base.host(), QStringLiteral("127.0.0.1"));
    EXPECT_GT(base.port(), 0);
    EXPECT_EQ(token.size(), 43);
    const QByteArray first = token;
    ASSERT_TRUE(server.start(QHostAddress::LocalHost, 0));
    EXPECT_NE(server.url().query().mid(2).toLatin1(), first);
    for (const QHostAddress& all :
         {QHostAddress(QHostAddress::Any), QHostAddress(QHostAddress::AnyIPv6), QHostAddress()}) {
        const auto refused = server.start(all, 0);
        ASSERT_FALSE(refused);
        EXPECT_EQ(
            refused.error(),
            QString::fromUtf8("クライアントビューを開くネットワークのアドレスを選んでください。"));
        EXPECT_FALSE(server.running());
    }
}

TEST_F(ClientViewServerTest, WithoutTheTokenNothingIsAnsweredAndNoPathReachesTheDisk) {
    const QString id = shoot(1);
    ASSERT_TRUE(pumpSocketsUntil([&] { return client.find(id) != nullptr; }));
    const QByteArray other = "t=" + QByteArray(43, 'A');
    const struct {
        QByteArray request;
        int status;
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", 401},
        {"GET /api/preview/" + id.toLatin1() + " HTTP/1.1\r\n\r\n", 401},
        {"GET /api/preview/" + id.toLatin1() + "?" + other + " HTTP/1.1\r\n\r\n", 401},
        {"GET /live HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
         "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
         401},
        {"GET /live?" + other + " HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", 401},
        {"GET " + withToken("/api/preview/../../../../etc/passwd") + " HTTP/1.1\r\n\r\n", 404},
        {"GET " + withToken("/api/preview/..%2F..%2Fetc%2Fpasswd") + " HTTP/1.1\r\n\r\n", 404},
        {"GET " + withToken("/api/original//etc/passwd") + " HTTP/1.1\r\n\r\n", 404},
        {"GET " + withToken("/" + folder.path().toLatin1() + "/DSC_0001.JPG") + " HTTP/1.1\r\n\r\n",
         404},
        {"GET " + withToken("/api/preview/" + QByteArray(32, 'f')) + " HTTP/1.1\r\n\r\n", 404},
        {"GET " + withToken("/api/original/" + id.toLatin1()) + " HTTP/1.1\r\n\r\n",
         404},  // downloads off
        {"GET " + withToken("/") + "&x=..%2F HTTP/1.1\r\n\r\n", 404},
        {"PUT " + withToken("/api/shots") + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405},
        {"GARBAGE\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n" + QByteArray("X: ").append(QByteArray(9000, 'x')) + "\r\n\r\n", 431},
    };
    for (const auto& c : cases)
        EXPECT_EQ(send(c.request).status, c.status) << c.request.left(90).toStdString();

    // Ten mebibytes announced and sent: refused from the head, and the view goes on.
    const QByteArray big(10 * 1024 * 1024, 'x');
    EXPECT_EQ(
        send("POST " + withToken("/api/comment/" + id.toLatin1()) +
             " HTTP/1.1\r\nContent-Length: " + QByteArray::number(big.size()) + "\r\n\r\n" + big)
            .status,
        413);
    EXPECT_EQ(get(withToken("/api/shots")).status, 200);
}

TEST_F(ClientViewServerTest, ShowsTheShotsWithPreviewsAndTellsWatchersOfNewOnes) {
    const QString first = shoot(1);
    ASSERT_TRUE(pumpSocketsUntil([&] { return client.find(first) != nullptr; }));

    const Reply page = get(withToken("/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.head.contains("Content-Security-Policy: default-src 'self'"));
    EXPECT_TRUE(page.head.contains("Referrer-Policy: no-referrer"));
    EXPECT_TRUE(page.body.contains("client.js?t=" + token));
    EXPECT_FALSE(page.body.contains("%TOKEN%"));
    EXPECT_EQ(get(withToken("/client.js")).status, 200);
    EXPECT_EQ(get(withToken("/client.css")).status, 200);

    const Reply list = get(withToken("/api/shots"));
    ASSERT_EQ(list.status, 200);
    const QJsonArray listed =
        QJsonDocument::fromJson(list.body).object().value(QStringLiteral("shots")).toArray();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject().value(QStringLiteral("id")).toString(), first);
    EXPECT_EQ(listed[0].toObject().value(QStringLiteral("name")).toString(),
              QStringLiteral("DSC_0001.JPG"));
    EXPECT_FALSE(list.body.contains(folder.path().toUtf8())) << "no path leaves the view";

    const Reply preview = get(withToken("/api/preview/" + first.toLatin1()));
    ASSERT_EQ(preview.status, 200);
    EXPECT_TRUE(preview.head.contains("image/jpeg"));
    EXPECT_EQ(PictureDecoder::size(preview.body), QSize(1600, 1067));

    std::vector<QJsonObject> heard;
    int watching = 0;
    QObject::connect(&server, &ClientViewServer::watchersChanged, [&watching] { ++watching; });
    auto watcher = watch("/live?t=" + token, heard);
    ASSERT_TRUE(pumpSocketsUntil([&] { return server.watchers().size() == 1; }));
    EXPECT_EQ(server.watchers(), QStringList{QStringLiteral("127.0.0.1")});

    const QString second = shoot(2);
    ASSERT_TRUE(pumpSocketsUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(heard[0].value(QStringLiteral("type")).toString(), QStringLiteral("shot"));
    EXPECT_EQ(
        heard[0].value(QStringLiteral("shot")).toObject().value(QStringLiteral("id")).toString(),
        second);

    // A favourite and a comment: taken, told to the filmstrip and to every watcher.
    struct Note {
        QUuid shot;
        bool favourite;
        QString comment;
    };
    std::vector<Note> notes;
    QObject::connect(&client, &ClientShots::noteChanged,
                     [&notes](const QUuid& shot, bool favourite, const QString& comment) {
                         notes.push_back({shot, favourite, comment});
                     });
    EXPECT_EQ(post(withToken("/api/favourite/" + first.toLatin1()), R"({"favourite":true})").status,
              204);
    EXPECT_EQ(post(withToken("/api/comment/" + first.toLatin1()), R"({"comment":"もう少し明るく"})")
                  .status,
              204);
    EXPECT_EQ(
        post(withToken("/api/comment/" + first.toLatin1()),
             QJsonDocument(QJsonObject{{QStringLiteral("comment"), QString(201, u'あ')}}).toJson())
            .status,
        400);
    EXPECT_EQ(
        post(withToken("/api/favourite/" + first.toLatin1()), R"({"favourite":"yes"})").status,
        400);
    ASSERT_EQ(notes.size(), 2);
    EXPECT_EQ(notes[1].shot.toString(QUuid::Id128), first);
    EXPECT_TRUE(notes[1].favourite);
    EXPECT_EQ(notes[1].comment, QString::fromUtf8("もう少し明るく"));
    ASSERT_TRUE(pumpSocketsUntil([&] { return heard.size() == 3; }));
    EXPECT_EQ(heard[2].value(QStringLiteral("type")).toString(), QStringLiteral("update"));
    EXPECT_EQ(heard[2]
                  .value(QStringLiteral("shot"))
                  .toObject()
                  .value(QStringLiteral("comment"))
                  .toString(),
              QString::fromUtf8("もう少し明るく"));

    // Ended: the watcher hears so and is let go; the old token opens nothing.
    server.stop();
    ASSERT_TRUE(
        pumpSocketsUntil([&] { return watcher->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(heard.back().value(QStringLiteral("type")).toString(), QStringLiteral("bye"));
    EXPECT_TRUE(server.watchers().isEmpty());
    EXPECT_GE(watching, 2);
}

TEST_F(ClientViewServerTest, AShotIsListedWithTheTimeItWasTaken) {
    // A camera's JPEG with its EXIF block: the time taken, not the time it arrived.
    const QString path = QDir(folder.path()).filePath(QStringLiteral("DSC_0009.JPG"));
    auto scene = factory.render(1800, 1200, 7, 9);
    ASSERT_TRUE(scene.ok());
    camera::PictureMeta meta;
    meta.make = QStringLiteral("NIKON CORPORATION");
    meta.model = QStringLiteral("NIKON D850");
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(camera::PictureFactory::writeJpegFile(file, scene.value(), meta).ok());
    file.close();
    const QString id = shots.add(path, rt.clock().now()).toString(QUuid::Id128);
    ASSERT_TRUE(
        pumpSocketsUntil([&] { return client.find(id) && client.find(id)->time == meta.taken; }));
    const QJsonObject listed = QJsonDocument::fromJson(get(withToken("/api/shots")).body)
                                   .object()
                                   .value(QStringLiteral("shots"))
                                   .toArray()[0]
                                   .toObject();
    EXPECT_EQ(listed.value(QStringLiteral("timeText")).toString(), QStringLiteral("10:20:30"));
    EXPECT_TRUE(listed.value(QStringLiteral("time"))
                    .toString()
                    .startsWith(QStringLiteral("2024-05-30T10:20:30")));
}

TEST_F(ClientViewServerTest, OriginalsOnlyWhenAllowedAndAsSaved) {
    const QString id = shoot(3);
    ASSERT_TRUE(pumpSocketsUntil([&] { return client.find(id) != nullptr; }));
    EXPECT_EQ(get(withToken("/api/original/" + id.toLatin1())).status, 404);
    server.setAllowDownloads(true);
    const Reply original = get(withToken("/api/original/" + id.toLatin1()));
    ASSERT_EQ(original.status, 200);
    QFile saved(client.find(id)->path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.body, saved.readAll());
}

TEST_F(ClientViewServerTest, ManyClientsAtOnceAreAnsweredOrTurnedAwayAndTheViewGoesOn) {
    ClientViewServer::Limits limits;
    limits.connections = 20;
    limits.watchers = 2;
    server.setLimits(limits);
    // 200 connections at once, each asking for the page.
    std::vector<QByteArray> answers(200);
    int closed = 0;
    std::vector<std::unique_ptr<QTcpSocket>> clients;  // gone first: they tell the two above
    for (int i = 0; i < 200; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket* raw = socket.get();
        QObject::connect(raw, &QTcpSocket::connected, [raw, this] {
            raw->write("GET " + withToken("/") + " HTTP/1.1\r\n\r\n");
        });
        QObject::connect(raw, &QTcpSocket::readyRead,
                         [raw, &answers, i] { answers[i] += raw->readAll(); });
        QObject::connect(raw, &QTcpSocket::disconnected, [&closed] { ++closed; });
        raw->connectToHost(QHostAddress::LocalHost, base.port());
        clients.push_back(std::move(socket));
    }
    ASSERT_TRUE(pumpSocketsUntil([&] { return closed == 200; }, 30s))
        << closed << " of 200 answered";
    // Beyond four times the connection limit a connection is closed unanswered.
    int served = 0, busy = 0, tooMany = 0, cut = 0;
    for (const QByteArray& answer : answers) {
        served += answer.startsWith("HTTP/1.1 200");
        busy += answer.startsWith("HTTP/1.1 503");
        tooMany += answer.startsWith("HTTP/1.1 429");
        cut += answer.isEmpty();
    }
    EXPECT_EQ(served + busy + tooMany + cut, 200);
    EXPECT_GT(served, 0);
    EXPECT_GT(busy + tooMany, 0) << "the limits turned some away";

    // Beyond two watchers, a third is turned away.
    std::vector<QJsonObject> heard;
    auto a = watch("/live?t=" + token, heard);
    auto b = watch("/live?t=" + token, heard);
    ASSERT_TRUE(pumpSocketsUntil([&] { return server.watchers().size() == 2; }));
    auto c = watch("/live?t=" + token, heard);
    ASSERT_TRUE(pumpSocketsUntil([&] { return c->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(server.watchers().size(), 2);

    // The view still takes shots and tells its watchers.
    const QString id = shoot(4);
    ASSERT_TRUE(pumpSocketsUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(
        heard[0].value(QStringLiteral("shot")).toObject().value(QStringLiteral("id")).toString(),
        id);
}

// A refused client is answered why and its connection lingers; in a flood that would take
// every descriptor, so far beyond the limit connections are closed unanswered. The clients are
// plain sockets that never close their side, as a flood's would not.
TEST_F(ClientViewServerTest, AFloodBeyondFourTimesTheLimitIsClosedUnanswered) {
    ClientViewServer::Limits limits;
    limits.connections = 1;
    server.setLimits(limits);
    struct Client {
        int fd = -1;
        QByteArray said;
        bool ended = false;  // the server closed: end of stream or reset
        ~Client() {
            if (fd >= 0) ::close(fd);
        }
    };
    std::vector<Client> clients(10);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(base.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (Client& c : clients) {
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(c.fd, 0);
        // Connected by the kernel at once on loopback (or under way); the server accepts in
        // the order they came.
        ::connect(c.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        pumpSocketsUntil([] { return false; }, std::chrono::milliseconds(20));
    }
    const auto look = [&clients] {
        for (Client& c : clients) {
            char buffer[512];
            for (;;) {
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) c.said.append(buffer, n);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) c.ended = true;
                if (n <= 0) break;
            }
        }
    };
    int refused = 0, cut = 0;
    ASSERT_TRUE(pumpSocketsUntil([&] {
        look();
        refused = cut = 0;
        for (const Client& c : clients) {
            refused += c.said.startsWith("HTTP/1.1 503");
            cut += c.ended && c.said.isEmpty();
        }
        return refused == 3 && cut == 6;
    })) << refused
        << " refused, " << cut << " closed unanswered";
    EXPECT_FALSE(clients[0].ended) << "the first client is still being waited for";
}

}  // namespace
}  // namespace pexil
