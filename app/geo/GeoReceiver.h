#pragma once

#include "app/geo/GeoFrameReader.h"
#include "app/geo/GeoLink.h"
#include "app/geo/GeoPayload.h"
#include "kit/async/Clock.h"
#include "kit/ptp/Bytes.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <variant>

class QTcpServer;
class QTcpSocket;

namespace pexil {

class ServiceAdvertiser;

// Takes in geo link messages from the phone: listens on TCP, announces itself on the local
// network as "_pexil._tcp" under the computer's name, reads each connection's one message
// with the checks of GeoLink in their order, answers "OK" or "NG", closes the connection,
// and hands every accepted envelope to onReceive.
//
// Reading discipline (GeoFrameReader): exactly 10 header bytes, then exactly the announced
// body length, never a byte more; the length is checked before any body byte is read, and a
// body is held in memory only as far as it has arrived. Bytes after the body are never read
// and go with the connection. Connections are independent: several may be in progress at
// once, and `state` shows whatever happened last. Envelopes holding a position out of range
// are refused (GeoLink::Failure::position).
//
// Any device on the network may connect, so what a sender can hold is bounded:
//
// Memory. Bodies in progress share one budget of 64 MiB (two bodies of the 32 MiB maximum),
// counted by their announced lengths from the moment their header passes: what is counted is
// what a sender may make the receiver hold, whether it sends it or not. A sender whose body
// does not fit in what is left is answered "NG" at once ("受信中のデータが多すぎます") and
// closed, before any body byte is read. It is not kept waiting: a waiting sender would hold a
// slot and its descriptor while others hold the budget, and the phone can simply send again;
// a real record is far smaller than the budget and fits beside anything but a flood. (A
// sender already pushing its body may see the connection reset before its "NG" arrives: a
// refused body is never read.) Beyond the budget, Qt holds at most 256 KiB of each
// connection's unread bytes.
//
// Time. A connection that sends nothing for 60 seconds before its message is whole fails
// like a broken read (its step's GeoLink text, "NG"): a phone that left the network
// mid-message would otherwise show "receiving" for ever. And the whole message has a
// deadline from the moment the connection is accepted: 30 seconds, plus the announced body
// length at 64 KiB/s once the header is in (a 32 MiB body gets 542 s), after which it fails
// the same way; a sender trickling a byte a minute cannot hold a slot or budget for longer.
// A sender that ends its sending side before its message is whole still gets its "NG": the
// answering direction stays open until the reply has gone.
//
// Slots. At most 64 connections are served at once. When all 64 are taken and a new sender
// arrives, the slowest sender in progress (fewest bytes per second since it was accepted; of
// equals, the oldest) is answered "NG" ("接続が混み合っているため打ち切りました") and closed, with
// one log line naming its progress, and the new one takes its slot: senders that hold slots
// without sending cannot lock the phone out. Only a connection accepted at least 5 seconds ago
// is cut, so a burst of real senders never cuts its own members. While none can be cut, one
// new sender is held unread until a slot frees or a connection becomes old enough, the
// listener stops accepting (one log line per overload) and further senders wait in the
// system's queue of 256; none is turned away.
//
// Threads: main thread only; every callback arrives there. Time: the 3-second return from
// `failed` to `waiting`, the silence, the deadlines and the ages of connections run on the
// injected clock (its monotonic time).
//
// Lifetime: the clock must outlive the receiver. Destroying the receiver closes every
// connection (and one held unread) without a reply and cancels its timers; nothing calls
// back afterwards.
class GeoReceiver final : public QObject {
    Q_OBJECT
public:
    struct Stopped {
        friend bool operator==(const Stopped&, const Stopped&) = default;
    };
    struct Waiting {
        QString name;  // the advertised computer name
        // False when the announcement could not be made (no Avahi daemon): the phone cannot
        // find the computer by itself and needs `address` ("192.168.1.20:51234") typed in.
        bool findable = true;
        QString address;
        friend bool operator==(const Waiting&, const Waiting&) = default;
    };
    struct Receiving {
        friend bool operator==(const Receiving&, const Receiving&) = default;
    };
    struct Received {
        QString sender;
        QDateTime time;  // of receipt, from the clock
        friend bool operator==(const Received&, const Received&) = default;
    };
    struct Failed {
        QString message;  // a GeoLink failure text, or why the listener could not start
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    using State = std::variant<Stopped, Waiting, Receiving, Received, Failed>;

    struct Options {
        quint16 port = 0;  // 0: any free port
        // A taken `port` is a failure, unless this allows any free port instead (the port
        // remembered from an earlier run is a wish, not a must).
        bool anyPortWhenTaken = false;
        QHostAddress address = QHostAddress::Any;
        bool advertise = true;  // tests leave the network alone
        // The advertised name, asked afresh each time it is needed; empty: ComputerName.
        std::function<QString()> computerName;
    };

    using LogSink = std::function<void(const QString&)>;
    using ReceiveHandler = std::function<void(const GeoLink::Envelope&)>;

    GeoReceiver(async::Clock& clock, LogSink log, Options options, QObject* parent = nullptr);
    ~GeoReceiver() override;
    Q_DISABLE_COPY_MOVE(GeoReceiver)

    // Called once for each accepted envelope, after `state` became `received` and before the
    // "OK" reply. Set it before start(). It runs inside a socket's signal, so it must not
    // destroy the receiver outright (deleteLater() is fine).
    void setOnReceive(ReceiveHandler handler) { onReceive_ = std::move(handler); }

    // Opens the listener and starts announcing it; `state` becomes `waiting` at once, or
    // `failed` (with a Japanese description, logged) when the port cannot be opened, after
    // which start() may be tried again. Does nothing while a listener exists.
    void start();

    const State& state() const { return state_; }
    // The payload of the last accepted envelope; none before the first.
    const std::optional<GeoPayload>& lastPayload() const { return lastPayload_; }
    // The port listened on; 0 before start() succeeded.
    quint16 port() const;
    // "ADDRESS:PORT" of this computer, for a phone that cannot find it by itself.
    static QString typedAddress(quint16 port);
    // The advertiser, once start() succeeded with advertising on; else null.
    ServiceAdvertiser* advertiser() const { return advertiser_; }
    // Connections being served and not yet closed; never more than 64. A sender held unread
    // while all are taken is not one of them.
    std::size_t openConnections() const { return connections_.size(); }
    // Announced lengths of the bodies in progress; never more than bodyBudget.
    std::size_t bodiesInProgress() const { return reserved_; }

    // What the bodies in progress may hold together (see "Memory" above).
    static constexpr std::size_t bodyBudget = 64 * 1024 * 1024;

    // The status bar's line for a state ("受信中…", "「名前」として待ち受け中。…").
    static QString displayText(const State& state);

signals:
    void stateChanged(const pexil::GeoReceiver::State& state);

private:
    // A second descriptor on an accepted connection, closed with the connection.
    class ReplyChannel {
    public:
        ReplyChannel() = default;
        explicit ReplyChannel(int descriptor) : descriptor_(descriptor) {}
        ReplyChannel(ReplyChannel&& other) noexcept
            : descriptor_(std::exchange(other.descriptor_, -1)) {}
        ReplyChannel& operator=(ReplyChannel&& other) noexcept;
        ReplyChannel(const ReplyChannel&) = delete;
        ReplyChannel& operator=(const ReplyChannel&) = delete;
        ~ReplyChannel();
        // Hands two reply bytes to the kernel without waiting; whether they went.
        bool send(const char* bytes) const;

    private:
        int descriptor_ = -1;
    };
    struct Connection {
        GeoFrameReader frame;
        bool closing = false;                    // the reply is on its way; nothing more is read
        async::Seconds accepted{0};              // on the clock's monotonic time
        std::size_t reserved = 0;                // this body's share of the budget
        std::optional<async::TimerId> silence;   // until the message is whole
        std::optional<async::TimerId> deadline;  // until the message is whole
        ReplyChannel replyChannel;
    };

    void accept(qintptr descriptor);
    void serve(qintptr descriptor);
    // Cuts the slowest connection old enough to be cut; false when there is none.
    bool evictSlowest();
    // While a sender is held unread: cuts a connection as soon as one is old enough.
    void watchForEviction();
    // (Re)starts the silence limit of a connection still reading its message.
    void watchSilence(QTcpSocket* socket, Connection& connection);
    // (Re)starts the deadline of the whole message, from what is known of its length.
    void watchDeadline(QTcpSocket* socket, Connection& connection);
    void overdue(QTcpSocket* socket, std::optional<async::TimerId> Connection::*timer);
    // The failure of a read that will not complete, in the step it was in.
    static GeoLink::Failure readFailure(const Connection& connection);
    void readable(QTcpSocket* socket);
    // The peer went away or the connection broke before the message was whole.
    void lost(QTcpSocket* socket);
    // Lets Qt take at most `wanted` bytes (and never more than a chunk) off the socket.
    void limitReading(QTcpSocket* socket, std::size_t wanted);
    void succeed(QTcpSocket* socket, GeoLink::Envelope envelope);
    // `detail`, when given, follows the text in the log line only.
    void finish(QTcpSocket* socket, GeoLink::Failure failure, const QString& detail = {});
    // Sends the reply, then closes the connection once it has left.
    void reply(QTcpSocket* socket, const char* bytes);
    // Ends reading: the budget share, the body and the connection's timers go.
    void stopReading(Connection& connection);
    void close(QTcpSocket* socket);
    // Stops the listener while a sender is held unread, resumes it once none is.
    void updateAccepting();
    void returnToWaiting(async::TimerId timer);
    // The waiting state as it stands: findable or not, by the announcement's fate.
    Waiting waiting() const;
    void announcementChanged();
    void setState(State state);
    QString computerName() const;

    async::Clock& clock_;
    LogSink log_;
    Options options_;
    ReceiveHandler onReceive_;
    State state_ = Stopped{};
    std::optional<GeoPayload> lastPayload_;
    QTcpServer* listener_ = nullptr;                 // child
    ServiceAdvertiser* advertiser_ = nullptr;        // child
    std::map<QTcpSocket*, Connection> connections_;  // sockets are children
    std::set<async::TimerId> timers_;
    std::size_t reserved_ = 0;     // the budget taken by bodies in progress
    std::optional<qintptr> held_;  // a sender accepted while no slot could be had
    std::optional<async::TimerId> evictionCheck_;
    bool heldBack_ = false;      // the listener is held back for want of a free slot
    bool acceptBroken_ = false;  // an accept error is waiting out its pause
};

}  // namespace pexil
