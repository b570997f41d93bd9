#include "app/geo/GeoReceiver.h"

#include "app/geo/ComputerName.h"
#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"
#include "kit/async/VirtualClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

namespace pexil {

// Readable failure messages for states (found by argument-dependent lookup).
void PrintTo(const GeoReceiver::State& state, std::ostream* out) {
    *out << GeoReceiver::displayText(state).toStdString();
}

namespace {

using namespace std::chrono_literals;
using State = GeoReceiver::State;

// Real sockets need the real event loop; the receiver's own timers run on the virtual clock,
// so only socket traffic is waited for, and never longer than this.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > limit.count()) return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QByteArray header(const QByteArray& magic, quint32 length) {
    QByteArray bytes = magic;
    bytes += static_cast<char>(length >> 24);
    bytes += static_cast<char>(length >> 16);
    bytes += static_cast<char>(length >> 8);
    bytes += static_cast<char>(length);
    return bytes;
}

QDateTime at(int hour, int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(hour, minute), Qt::UTC);
}

GeoPayload payload(int shots, int trackPoints) {
    GeoPayload p;
    p.generated = at(9, 0);
    for (int i = 0; i < shots; ++i)
        p.shots[QStringLiteral("DSC_%1.NEF").arg(i)] =
            GeoPoint{at(8, i), 35.0 + i, 139.0, 12.5, {}};
    for (int i = 0; i < trackPoints; ++i)
        p.track.push_back(GeoPoint{at(7, i % 60), 35.0, 139.0 + i / 1000.0, {}, 5.0});
    return p;
}

GeoLink::Envelope envelope(const QString& sender, int shots = 1, int trackPoints = 2) {
    return {sender, payload(shots, trackPoints)};
}

// The phone's side of one connection.
class Peer {
public:
    explicit Peer(quint16 port) {
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { reply_ += socket_.readAll(); });
        QObject::connect(&socket_, &QTcpSocket::disconnected, [this] { closed_ = true; });
        QObject::connect(&socket_, &QTcpSocket::errorOccurred, [this](auto) {
            reply_ += socket_.readAll();
            closed_ = true;
        });
        socket_.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(pumpUntil([this] { return connected(); })) << "connecting to the receiver";
    }

    bool connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray& bytes) {
        socket_.write(bytes);
        socket_.flush();
    }
    // Sends everything still buffered, then ends the sending direction only; the reply can
    // still come back.
    void endSending() {
        EXPECT_TRUE(pumpUntil([this] { return socket_.bytesToWrite() == 0; }));
        ::shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
    }
    // Sends everything still buffered, then closes both directions.
    void hangUp() {
        EXPECT_TRUE(pumpUntil([this] { return socket_.bytesToWrite() == 0; }));
        socket_.close();
    }
    bool waitUntilClosed() {
        return pumpUntil([this] { return closed_; });
    }
    const QByteArray& reply() const { return reply_; }
    bool closed() const { return closed_; }

private:
    QTcpSocket socket_;
    QByteArray reply_;
    bool closed_ = false;
};

class GeoReceiverTest : public ::testing::Test {
protected:
    GeoReceiverTest() { make(); }

    void make(GeoReceiver::Options options = {}) {
        options.address = QHostAddress::LocalHost;
        options.advertise = false;
        options.computerName = [this] { return name; };
        receiver = std::make_unique<GeoReceiver>(
            clock, [this](const QString& line) { log << line; }, options);
        QObject::connect(receiver.get(), &GeoReceiver::stateChanged,
                         [this](const State& state) { states.push_back(state); });
        receiver->setOnReceive(
            [this](const GeoLink::Envelope& received) { envelopes.push_back(received); });
    }

    quint16 start() {
        receiver->start();
        EXPECT_EQ(receiver->state(), State{GeoReceiver::Waiting{name}});
        return receiver->port();
    }

    // Sends `bytes` on a fresh connection and waits for the receiver to close it.
    QByteArray exchange(const QByteArray& bytes) {
        Peer peer(receiver->port());
        peer.send(bytes);
        EXPECT_TRUE(peer.waitUntilClosed()) << "the receiver never closed the connection";
        return peer.reply();
    }

    State failed(GeoLink::Failure failure) const {
        return GeoReceiver::Failed{GeoLink::failureText(failure)};
    }

    QString name = QStringLiteral("Studio");
    async::VirtualClock clock;
    QStringList log;
    std::vector<State> states;
    std::vector<GeoLink::Envelope> envelopes;
    std::unique_ptr<GeoReceiver> receiver;
};

TEST_F(GeoReceiverTest, AcceptsOneMessageRepliesOkAndHandsTheEnvelopeOver) {
    EXPECT_EQ(receiver->state(), State{GeoReceiver::Stopped{}}) << "before start()";
    EXPECT_EQ(receiver->port(), 0);
    start();
    const GeoLink::Envelope sent = envelope(QStringLiteral("iPhone"), 3, 120);

    EXPECT_EQ(exchange(GeoLink::frame(sent)), QByteArray("OK"));

    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0], sent);
    EXPECT_EQ(receiver->lastPayload(), sent.payload);
    const std::vector<State> expected{
        GeoReceiver::Waiting{name},
        GeoReceiver::Receiving{},
        GeoReceiver::Received{QStringLiteral("iPhone"), clock.now()},
    };
    EXPECT_EQ(states, expected);
    EXPECT_EQ(log.last(), QStringLiteral("位置情報を受信: iPhone から shots 3 / track 120"));
}

TEST_F(GeoReceiverTest, EachFailedCheckRepliesNgWithItsText) {
    start();
    const QByteArray body = GeoLink::encodeEnvelope(envelope(QStringLiteral("iPhone")));
    const QByteArray withoutSender = "{\"payload\":" + GeoJson::encodePayload(payload(1, 1)) + "}";
    GeoLink::Envelope farNorth = envelope(QStringLiteral("iPhone"));
    farNorth.payload.track.back().lat = 91;
    const QByteArray outOfRange = GeoLink::encodeEnvelope(farNorth);
    struct Case {
        const char* what;
        QByteArray bytes;
        GeoLink::Failure failure;
    };
    const std::vector<Case> cases{
        {"lower-case magic", header("pexil1", body.size()) + body, GeoLink::Failure::magic},
        {"length zero", header("PEXIL1", 0), GeoLink::Failure::length},
        {"valid JSON without a sender", header("PEXIL1", withoutSender.size()) + withoutSender,
         GeoLink::Failure::decode},
        {"not JSON", header("PEXIL1", 5) + "hello", GeoLink::Failure::decode},
        {"latitude 91", header("PEXIL1", outOfRange.size()) + outOfRange,
         GeoLink::Failure::position},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        EXPECT_EQ(exchange(c.bytes), QByteArray("NG"));
        EXPECT_EQ(receiver->state(), failed(c.failure));
        EXPECT_EQ(log,
                  QStringList{QStringLiteral("受信に失敗: ") + GeoLink::failureText(c.failure)});
    }
    EXPECT_TRUE(envelopes.empty());
    EXPECT_FALSE(receiver->lastPayload().has_value()) << "nothing may be taken over from an NG";
}

TEST_F(GeoReceiverTest, LengthAboveTheLimitIsRejectedBeforeAnyBodyByte) {
    start();
    Peer peer(receiver->port());
    // Only the header goes out: the answer must not wait for a body that never comes.
    peer.send(header("PEXIL1", GeoLink::maximumBody + 1));
    ASSERT_TRUE(peer.waitUntilClosed());
    EXPECT_EQ(peer.reply(), QByteArray("NG"));
    EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::length));
}

TEST_F(GeoReceiverTest, BodyOfExactlyTheLimitIsAccepted) {
    start();
    const GeoLink::Envelope sent = envelope(QStringLiteral("iPad"));
    QByteArray body = GeoLink::encodeEnvelope(sent);
    body.append(static_cast<qsizetype>(GeoLink::maximumBody) - body.size(), ' ');
    ASSERT_EQ(body.size(), static_cast<qsizetype>(GeoLink::maximumBody));

    EXPECT_EQ(exchange(header("PEXIL1", GeoLink::maximumBody) + body), QByteArray("OK"));
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0], sent);
}

TEST_F(GeoReceiverTest, PeerLeavingEarlyFailsTheReadThatWasWaiting) {
    start();
    {
        SCOPED_TRACE("six bytes, then gone: the header read fails");
        Peer peer(receiver->port());
        peer.send("PEXIL1");
        peer.hangUp();
        ASSERT_TRUE(
            pumpUntil([&] { return receiver->state() != State{GeoReceiver::Receiving{}}; }));
        EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::header));
        EXPECT_EQ(log.last(), QStringLiteral("受信に失敗: 受信できませんでした"));
    }
    {
        SCOPED_TRACE("half the body, then gone: the body read fails");
        states.clear();
        Peer peer(receiver->port());
        peer.send(header("PEXIL1", 100) + QByteArray(50, ' '));
        peer.hangUp();
        ASSERT_TRUE(pumpUntil([&] { return states.size() >= 2; }));
        EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::body));
    }
    EXPECT_TRUE(envelopes.empty());
}

TEST_F(GeoReceiverTest, TrailingBytesNeitherFailNorDelayTheExchange) {
    start();
    const GeoLink::Envelope sent = envelope(QStringLiteral("iPhone"));
    Peer peer(receiver->port());
    // The peer keeps its side open: an exchange that waited for more would never end.
    peer.send(GeoLink::frame(sent) + QByteArray(4096, 'x'));
    ASSERT_TRUE(peer.waitUntilClosed());
    EXPECT_EQ(peer.reply(), QByteArray("OK"));
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0], sent);
}

TEST_F(GeoReceiverTest, MessageArrivingByteByByteIsAssembledExactly) {
    start();
    const GeoLink::Envelope sent = envelope(QStringLiteral("iPhone"), 2, 3);
    const QByteArray message = GeoLink::frame(sent);
    Peer peer(receiver->port());
    for (qsizetype i = 0; i < message.size(); i += 7) {
        peer.send(message.mid(i, 7));
        pumpUntil([] { return false; }, 1ms);
    }
    ASSERT_TRUE(peer.waitUntilClosed());
    EXPECT_EQ(peer.reply(), QByteArray("OK"));
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0], sent);
}

TEST_F(GeoReceiverTest, FailureShowsForThreeSecondsOnTheClock) {
    start();
    {
        SCOPED_TRACE("one failure: back to waiting after exactly 3 s, under the current name");
        exchange(header("XEXIL1", 1) + " ");
        name = QStringLiteral("Studio 2");
        clock.advance(2999ms);
        EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::magic));
        clock.advance(1ms);
        EXPECT_EQ(receiver->state(), State{GeoReceiver::Waiting{QStringLiteral("Studio 2")}});
    }
    {
        SCOPED_TRACE("two failures 1 s apart: the first timer ends the second's display");
        exchange(header("PEXIL1", 0));
        clock.advance(1s);
        exchange(header("PEXIL1", 5) + "nope!");
        EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::decode));
        clock.advance(2s);
        EXPECT_EQ(receiver->state(), State{GeoReceiver::Waiting{name}});
        clock.advance(1s);  // the second timer finds nothing to do
        EXPECT_EQ(receiver->state(), State{GeoReceiver::Waiting{name}});
    }
    {
        SCOPED_TRACE("a receipt 1 s after a failure stays when the failure's timer fires");
        exchange(header("PEXIL1", 0));
        clock.advance(1s);
        EXPECT_EQ(exchange(GeoLink::frame(envelope(QStringLiteral("iPhone")))), "OK");
        const QDateTime receivedAt = clock.now();
        clock.advance(5s);
        const State received = GeoReceiver::Received{QStringLiteral("iPhone"), receivedAt};
        EXPECT_EQ(receiver->state(), received);
    }
}

TEST_F(GeoReceiverTest, SilenceAndTheMessageDeadlineFailLikeABrokenRead) {
    // The deadline is 30 s from the accept plus the announced body at 64 KiB/s; silence is
    // 60 s since the last byte. Whichever comes first ends the connection, never before.
    start();
    constexpr quint32 eightMiB = 8 * 1024 * 1024;  // 30 + 128 s
    struct Send {
        double at;  // seconds after the accept
        QByteArray bytes;
    };
    struct Case {
        const char* what;
        std::vector<Send> sends;
        double endsAt;
        GeoLink::Failure failure;
    };
    const QByteArray small = header("PEXIL1", 100);
    const QByteArray big = header("PEXIL1", eightMiB);
    const std::vector<Case> cases{
        {"nothing at all", {}, 30, GeoLink::Failure::header},
        {"a header byte every 20 s", {{0, "P"}, {20, "E"}}, 30, GeoLink::Failure::header},
        {"a small body trickling",
         {{0, small + " "}, {20, " "}, {29, " "}},
         30.0015,
         GeoLink::Failure::body},
        {"a large body, then silence",
         {{0, big + QByteArray(50, ' ')}},
         60,
         GeoLink::Failure::body},
        {"a large body trickling past its deadline",
         {{0, big}, {50, " "}, {100, " "}, {150, " "}},
         158,
         GeoLink::Failure::body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Peer peer(receiver->port());
        ASSERT_TRUE(pumpUntil([&] { return receiver->openConnections() == 1; }));
        double now = 0;
        const auto until = [&](double at) {
            clock.advance(async::Seconds{at - now});
            now = at;
        };
        for (const Send& send : c.sends) {
            until(send.at);
            peer.send(send.bytes);
            pumpUntil([] { return false; }, 20ms);  // the bytes are in before time moves
        }
        until(c.endsAt - 0.5);
        pumpUntil([] { return false; }, 20ms);
        EXPECT_FALSE(peer.closed()) << "cut before its time";
        until(c.endsAt + 0.5);
        ASSERT_TRUE(peer.waitUntilClosed());
        EXPECT_EQ(peer.reply(), QByteArray("NG"));
        EXPECT_EQ(receiver->state(), failed(c.failure));
        EXPECT_EQ(receiver->bodiesInProgress(), 0u);
    }
}

TEST_F(GeoReceiverTest, ASlowMessageWithinItsDeadlineIsNotCut) {
    start();
    const GeoLink::Envelope sent = envelope(QStringLiteral("slow"));
    const QByteArray bytes = GeoLink::frame(sent);
    Peer peer(receiver->port());
    for (int i = 0; i < 4; ++i) {
        peer.send(bytes.mid(i, 1));
        pumpUntil([] { return false; }, 20ms);
        clock.advance(7s);  // 28 s in all, within the 30 s and never a minute of silence
    }
    EXPECT_FALSE(peer.closed());
    peer.send(bytes.mid(4));
    ASSERT_TRUE(peer.waitUntilClosed());
    EXPECT_EQ(peer.reply(), QByteArray("OK"));
    ASSERT_EQ(envelopes.size(), 1u);
    clock.advance(600s);  // the finished connection's limits are gone with it
    EXPECT_TRUE(std::holds_alternative<GeoReceiver::Received>(receiver->state()));
    EXPECT_EQ(log.filter(QStringLiteral("受信に失敗")).size(), 0);
}

TEST_F(GeoReceiverTest, BodiesInProgressShareOneBudgetAndASenderBeyondItIsRefusedAtOnce) {
    start();
    constexpr quint32 mib = 1024 * 1024;
    // Three senders announce 20 MiB each and send a little: 60 of the 64 MiB are taken.
    std::vector<std::unique_ptr<Peer>> large;
    for (int i = 0; i < 3; ++i) {
        large.push_back(std::make_unique<Peer>(receiver->port()));
        large.back()->send(header("PEXIL1", 20 * mib) + QByteArray(1024, ' '));
    }
    ASSERT_TRUE(pumpUntil([&] { return receiver->bodiesInProgress() == 60u * mib; }));

    {
        SCOPED_TRACE("5 MiB more does not fit: NG before any body byte");
        log.clear();
        Peer peer(receiver->port());
        peer.send(header("PEXIL1", 5 * mib));
        ASSERT_TRUE(peer.waitUntilClosed());
        EXPECT_EQ(peer.reply(), QByteArray("NG"));
        EXPECT_EQ(receiver->state(), failed(GeoLink::Failure::busy));
        EXPECT_EQ(log, QStringList{QStringLiteral("受信に失敗: 受信中のデータが多すぎます（5242880 "
                                                  "バイトの本体、残り 4194304 バイト）")});
    }
    {
        SCOPED_TRACE("a real record fits in what is left");
        EXPECT_EQ(exchange(GeoLink::frame(envelope(QStringLiteral("iPhone")))), "OK");
        EXPECT_EQ(envelopes.size(), 1u);
    }
    for (const auto& peer : large) EXPECT_FALSE(peer->closed());

    {
        SCOPED_TRACE("a sender that leaves gives its share back");
        large.front()->hangUp();
        ASSERT_TRUE(pumpUntil([&] { return receiver->bodiesInProgress() == 40u * mib; }));
        Peer peer(receiver->port());
        peer.send(header("PEXIL1", 20 * mib));
        ASSERT_TRUE(pumpUntil([&] { return receiver->bodiesInProgress() == 60u * mib; }));
        EXPECT_FALSE(peer.closed());
    }
}

TEST_F(GeoReceiverTest, ASenderThatEndsItsSideEarlyStillHearsNgWithItsFailure) {
    // The phone's side half-closed (shutdown of its sending direction), still reading: it must
    // be told "NG", not left with a connection that just ends.
    start();
    const QByteArray whole = GeoLink::frame(envelope(QStringLiteral("iPhone")));
    struct Case {
        const char* what;
        QByteArray sent;
        GeoLink::Failure failure;
    };
    const std::vector<Case> cases{
        {"nothing at all", {}, GeoLink::Failure::header},
        {"six bytes of header", "PEXIL1", GeoLink::Failure::header},
        {"nine bytes of header", whole.left(9), GeoLink::Failure::header},
        {"a body shorter than announced", header("PEXIL1", 100) + QByteArray(50, ' '),
         GeoLink::Failure::body},
        {"all but the last body byte", whole.left(whole.size() - 1), GeoLink::Failure::body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        Peer peer(receiver->port());
        if (!c.sent.isEmpty()) peer.send(c.sent);
        peer.endSending();
        ASSERT_TRUE(peer.waitUntilClosed());
        EXPECT_EQ(peer.reply(), QByteArray("NG"));
        EXPECT_EQ(receiver->state(), failed(c.failure));
        EXPECT_EQ(log,
                  QStringList{QStringLiteral("受信に失敗: ") + GeoLink::failureText(c.failure)});
    }
    {
        SCOPED_TRACE("a whole message, then the end of the sending side");
        const GeoLink::Envelope sent = envelope(QStringLiteral("iPad"));
        Peer peer(receiver->port());
        peer.send(GeoLink::frame(sent));
        peer.endSending();
        ASSERT_TRUE(peer.waitUntilClosed());
        EXPECT_EQ(peer.reply(), QByteArray("OK"));
        ASSERT_EQ(envelopes.size(), 1u);
        EXPECT_EQ(envelopes[0], sent);
    }
    pumpUntil([this] { return receiver->openConnections() == 0; });
    EXPECT_EQ(receiver->openConnections(), 0u) << "every connection is let go after its reply";
}

TEST_F(GeoReceiverTest, WhileSixtyFourAreOpenFurtherSendersWaitForASlotAndAreAnswered) {
    start();
    std::vector<std::unique_ptr<Peer>> idle;
    for (int i = 0; i < 64; ++i) idle.push_back(std::make_unique<Peer>(receiver->port()));
    ASSERT_TRUE(pumpUntil([this] { return receiver->openConnections() == 64; }));

    // These send whole messages at once; the system holds them until a slot frees.
    std::vector<std::unique_ptr<Peer>> waiting;
    for (int i = 0; i < 136; ++i) {
        waiting.push_back(std::make_unique<Peer>(receiver->port()));
        waiting.back()->send(GeoLink::frame(envelope(QStringLiteral("w%1").arg(i))));
    }
    pumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(receiver->openConnections(), 64u);
    for (const auto& peer : waiting) {
        EXPECT_FALSE(peer->closed()) << "a sender over the limit must wait, not be turned away";
        EXPECT_TRUE(peer->reply().isEmpty());
    }
    EXPECT_TRUE(envelopes.empty());
    EXPECT_EQ(log.filter(QStringLiteral("上限")).size(), 1) << "one line per overload";

    // The idle ones give up; each freed slot lets a waiting sender in.
    for (const auto& peer : idle) peer->send(header("PEXIL1", 0));
    std::size_t most = 0;
    const bool answered = pumpUntil([&] {
        most = std::max(most, receiver->openConnections());
        return std::all_of(waiting.begin(), waiting.end(),
                           [](const auto& peer) { return peer->closed(); });
    });
    ASSERT_TRUE(answered);
    EXPECT_LE(most, 64u);
    for (const auto& peer : idle) EXPECT_EQ(peer->reply(), QByteArray("NG"));
    for (const auto& peer : waiting) EXPECT_EQ(peer->reply(), QByteArray("OK"));
    EXPECT_EQ(envelopes.size(), 136u);
}

TEST_F(GeoReceiverTest, WithEverySlotHeldByTricklersANewSenderIsStillServed) {
    start();
    std::vector<std::unique_ptr<Peer>> tricklers;
    for (int i = 0; i < 64; ++i) {
        tricklers.push_back(std::make_unique<Peer>(receiver->port()));
        tricklers.back()->send("P");
    }
    ASSERT_TRUE(pumpUntil([this] { return receiver->openConnections() == 64; }));
    // One trickler sends more than the others: it is not the slowest.
    tricklers.front()->send("EXIL1");
    pumpUntil([] { return false; }, 20ms);
    clock.advance(10s);
    for (const auto& peer : tricklers) peer->send("E");
    pumpUntil([] { return false; }, 20ms);
    log.clear();

    const GeoLink::Envelope sent = envelope(QStringLiteral("iPhone"));
    EXPECT_EQ(exchange(GeoLink::frame(sent)), QByteArray("OK"));
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0], sent);

    const auto cut = std::count_if(tricklers.begin(), tricklers.end(),
                                   [](const auto& peer) { return peer->closed(); });
    EXPECT_EQ(cut, 1) << "one slot was wanted, one sender cut";
    EXPECT_FALSE(tricklers.front()->closed());
    for (const auto& peer : tricklers) {
        if (peer->closed()) {
            EXPECT_EQ(peer->reply(), QByteArray("NG"));
        }
    }
    const QStringList evictions = log.filter(GeoLink::failureText(GeoLink::Failure::evicted));
    ASSERT_EQ(evictions.size(), 1) << log.join(u'\n').toStdString();
    EXPECT_TRUE(evictions[0].contains(QStringLiteral("10 秒で 2 バイト")))
        << evictions[0].toStdString();
}

TEST_F(GeoReceiverTest, ANewSenderHeldForASlotIsServedOnceAConnectionIsOldEnoughToCut) {
    start();
    std::vector<std::unique_ptr<Peer>> idle;
    for (int i = 0; i < 64; ++i) idle.push_back(std::make_unique<Peer>(receiver->port()));
    ASSERT_TRUE(pumpUntil([this] { return receiver->openConnections() == 64; }));
    clock.advance(3s);

    // All 64 are younger than the 5 s a connection is spared: the newcomer waits.
    Peer late(receiver->port());
    late.send(GeoLink::frame(envelope(QStringLiteral("late"))));
    pumpUntil([] { return false; }, 100ms);
    EXPECT_FALSE(late.closed());
    EXPECT_TRUE(envelopes.empty());

    clock.advance(2s);
    ASSERT_TRUE(late.waitUntilClosed());
    EXPECT_EQ(late.reply(), QByteArray("OK"));
    EXPECT_EQ(
        std::count_if(idle.begin(), idle.end(), [](const auto& peer) { return peer->closed(); }),
        1);
}

TEST_F(GeoReceiverTest, TwoHundredSendersAtOnceAllGetTheirAnswer) {
    start();
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 200; ++i) {
        peers.push_back(std::make_unique<Peer>(receiver->port()));
        peers.back()->send(GeoLink::frame(envelope(QStringLiteral("s%1").arg(i))));
    }
    std::size_t most = 0;
    ASSERT_TRUE(pumpUntil([&] {
        most = std::max(most, receiver->openConnections());
        return std::all_of(peers.begin(), peers.end(),
                           [](const auto& peer) { return peer->closed(); });
    }));
    EXPECT_LE(most, 64u);
    for (const auto& peer : peers) EXPECT_EQ(peer->reply(), QByteArray("OK"));
    EXPECT_EQ(envelopes.size(), 200u);
}

TEST_F(GeoReceiverTest, ConnectionsInProgressTogetherAreHandledIndependently) {
    start();
    const auto first = envelope(QStringLiteral("first"), 1, 1);
    const auto second = envelope(QStringLiteral("second"), 2, 2);
    const QByteArray one = GeoLink::frame(first);
    const QByteArray two = GeoLink::frame(second);
    Peer a(receiver->port());
    Peer b(receiver->port());
    Peer c(receiver->port());
    a.send(one.left(20));
    b.send(two.left(5));
    c.send("PEXIL1");
    pumpUntil([] { return false; }, 20ms);

    b.send(two.mid(5));
    ASSERT_TRUE(b.waitUntilClosed());
    EXPECT_EQ(b.reply(), QByteArray("OK"));
    EXPECT_FALSE(a.closed()) << "one connection's end must not end another";
    EXPECT_FALSE(c.closed());

    c.send(header("XX", 0).right(4));  // finishes c's header with a zero length
    ASSERT_TRUE(c.waitUntilClosed());
    EXPECT_EQ(c.reply(), QByteArray("NG"));

    a.send(one.mid(20));
    ASSERT_TRUE(a.waitUntilClosed());
    EXPECT_EQ(a.reply(), QByteArray("OK"));

    ASSERT_EQ(envelopes.size(), 2u);
    EXPECT_EQ(envelopes[0], second);
    EXPECT_EQ(envelopes[1], first);
    EXPECT_EQ(receiver->lastPayload(), first.payload);
}

TEST_F(GeoReceiverTest, StartingTwiceChangesNothing) {
    const quint16 port = start();
    states.clear();
    receiver->start();
    EXPECT_EQ(receiver->port(), port);
    EXPECT_TRUE(states.empty());
}

TEST_F(GeoReceiverTest, PortInUseFailsTheListenerWithAReasonAndALogLine) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost));
    GeoReceiver::Options options;
    options.port = occupant.serverPort();
    make(options);
    receiver->start();

    ASSERT_TRUE(std::holds_alternative<GeoReceiver::Failed>(receiver->state()));
    const QString message = std::get<GeoReceiver::Failed>(receiver->state()).message;
    EXPECT_TRUE(message.startsWith(QStringLiteral("待ち受けを始められません")))
        << message.toStdString();
    EXPECT_EQ(log, QStringList{QStringLiteral("受信に失敗: ") + message});
    EXPECT_EQ(receiver->port(), 0);
    clock.advance(10s);
    EXPECT_TRUE(std::holds_alternative<GeoReceiver::Failed>(receiver->state()))
        << "a listener failure has no return timer";
}

// The port remembered from an earlier run is kept when free, and given up when taken.
TEST_F(GeoReceiverTest, ARememberedPortIsKeptWhenFreeAndAnyPortTakenWhenNot) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost));
    GeoReceiver::Options options;
    options.port = occupant.serverPort();
    options.anyPortWhenTaken = true;
    make(options);
    receiver->start();
    EXPECT_TRUE(std::holds_alternative<GeoReceiver::Waiting>(receiver->state()));
    EXPECT_NE(receiver->port(), 0);
    EXPECT_NE(receiver->port(), occupant.serverPort());
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.front().startsWith(QStringLiteral("ポート %1 で待ち受けられない").arg(occupant.serverPort())));

    const quint16 free = occupant.serverPort();
    occupant.close();
    options.port = free;
    make(options);
    receiver->start();
    EXPECT_EQ(receiver->port(), free);
}

// Without an announcement the phone cannot find the computer: the bar says what to type.
TEST(GeoReceiverText, WithoutAnAnnouncementTheAddressToTypeIsShown) {
    const QString typed = GeoReceiver::typedAddress(51234);
    EXPECT_TRUE(typed.endsWith(QStringLiteral(":51234")));
    EXPECT_FALSE(typed.startsWith(QStringLiteral("127.")));
    const QString text = GeoReceiver::displayText(GeoReceiver::Waiting{QStringLiteral("vm"), false, typed});
    EXPECT_TRUE(text.contains(typed)) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("「vm」"))) << text.toStdString();
    EXPECT_EQ(GeoReceiver::displayText(GeoReceiver::Waiting{QStringLiteral("vm")}),
              QStringLiteral("「vm」として待ち受け中。iPhone の Pexil から送信してください"));
}

TEST_F(GeoReceiverTest, DestroyingTheReceiverMidMessageClosesWithoutReply) {
    start();
    Peer peer(receiver->port());
    peer.send(QByteArray("PEXIL1\0\0", 8));
    pumpUntil([] { return false; }, 20ms);
    exchange(header("PEXIL1", 0));  // leaves a 3-second timer pending
    receiver.reset();
    ASSERT_TRUE(peer.waitUntilClosed());
    EXPECT_TRUE(peer.reply().isEmpty());
    clock.advance(10s);  // the pending timer must not reach the dead receiver
}

// The name the receiver is announced and shown under.
TEST(ComputerName, PrettyHostNameAsSystemdWritesIt) {
    using ComputerName::prettyHostName;
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"Studio \\\"A\\\"\"\n"),
              QStringLiteral("Studio \"A\""));
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME='It'\\''s $HOME'\n"), QStringLiteral("It's $HOME"))
        << "single quotes taken literally, quoted parts run together";
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"C:\\path\\x\"\n"), QStringLiteral("C:\\path\\x"));
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"a\\qb\""), QStringLiteral("a\\qb"))
        << "inside double quotes a backslash escapes only what the shell lets it";
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=Bare\\ Name  \n"), QStringLiteral("Bare Name"));
    EXPECT_EQ(prettyHostName("# PRETTY_HOSTNAME=\"Commented\"\nICON_NAME=computer\n"), QString());
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"First\"\nPRETTY_HOSTNAME=\"Second\"\n"),
              QStringLiteral("Second"));
    EXPECT_EQ(prettyHostName("  PRETTY_HOSTNAME = \"  Spaced  \"\r\n"), QStringLiteral("Spaced"));
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAMEX=\"Other\"\nXPRETTY_HOSTNAME=y\n"), QString());
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"Unclosed"), QStringLiteral("Unclosed"));
    EXPECT_EQ(prettyHostName("PRETTY_HOSTNAME=\"スタジオの Mac\""),
              QStringLiteral("スタジオの Mac"));
}

TEST(ComputerName, PrettyNameThenHostNameThenMac) {
    EXPECT_EQ(ComputerName::choose(QStringLiteral("Studio"), QStringLiteral("vm")),
              QStringLiteral("Studio"));
    EXPECT_EQ(ComputerName::choose(QStringLiteral("  "), QStringLiteral("vm")),
              QStringLiteral("vm"));
    EXPECT_EQ(ComputerName::choose(QString(), QString()), QStringLiteral("Mac"));

    QTemporaryDir dir;
    const QString info = dir.filePath(QStringLiteral("machine-info"));
    QFile file(info);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_HOSTNAME=\"Studio A\"\n");
    file.close();
    EXPECT_EQ(ComputerName::current(info), QStringLiteral("Studio A"));
    EXPECT_EQ(ComputerName::current(dir.filePath(QStringLiteral("missing"))),
              ComputerName::choose(QString(), QSysInfo::machineHostName()));
}

}  // namespace
}  // namespace pexil
