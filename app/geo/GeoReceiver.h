#pragma once

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
// Reading discipline: exactly 10 header bytes, then exactly the announced body length,
// never a byte more; the length is checked before any body byte is read, and a body is
// held in memory only as far as it has arrived. Bytes after the body are never read and
// go with the connection. Connections are independent: several may be in progress at
// once, and `state` shows whatever happened last.
//
// A connection that sends nothing for 60 seconds before its message is whole fails like a
// broken read (its phase's GeoLink text, "NG"): a phone that left the network mid-message
// would otherwise show "receiving" for ever. A sender that ends its sending side before its
// message is whole still gets its "NG": the answering direction stays open until the reply
// has gone.
//
// At most 64 connections are open at once. While 64 are, the listener stops accepting (one
// log line per overload) and further senders wait in the system's queue of 256 until a slot
// frees; none is turned away.
//
// Threads: main thread only; every callback arrives there. Time: the 3-second return from
// `failed` to `waiting` and the 60-second silence run on the injected clock.
//
// Lifetime: the clock must outlive the receiver. Destroying the receiver closes every
// connection without a reply and cancels its timers; nothing calls back afterwards.
class GeoReceiver final : public QObject {
    Q_OBJECT
public:
    struct Stopped {
        friend bool operator==(const Stopped&, const Stopped&) = default;
    };
    struct Waiting {
        QString name;  // the advertised computer name
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
    // The advertiser, once start() succeeded with advertising on; else null.
    ServiceAdvertiser* advertiser() const { return advertiser_; }
    // Connections accepted and not yet closed; never more than 64.
    std::size_t openConnections() const { return connections_.size(); }

    // The status bar's line for a state ("受信中…", "「名前」として待ち受け中。…").
    static QString displayText(const State& state);

signals:
    void stateChanged(const pexil::GeoReceiver::State& state);

private:
    enum class Phase { header, body, closing };
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
        Phase phase = Phase::header;
        Bytes header;
        Bytes body;  // grows as bytes arrive, never beyond `length`
        std::uint32_t length = 0;
        std::optional<async::TimerId> silence;  // until the message is whole
        ReplyChannel replyChannel;
    };

    void accept(qintptr descriptor);
    // (Re)starts the silence limit of a connection still reading its message.
    void watchSilence(QTcpSocket* socket, Connection& connection);
    void silent(QTcpSocket* socket);
    // The failure of a read that will not complete, in the phase it was in (not closing).
    static GeoLink::Failure readFailure(Phase phase);
    void readable(QTcpSocket* socket);
    // The peer went away or the connection broke before the message was whole.
    void lost(QTcpSocket* socket);
    void readHeader(QTcpSocket* socket, Connection& connection);
    void readBody(QTcpSocket* socket, Connection& connection);
    // Lets Qt take at most `wanted` bytes (and never more than a chunk) off the socket.
    void limitReading(QTcpSocket* socket, std::uint32_t wanted);
    void succeed(QTcpSocket* socket, GeoLink::Envelope envelope);
    void finish(QTcpSocket* socket, GeoLink::Failure failure);
    // Sends the reply, then closes the connection once it has left.
    void reply(QTcpSocket* socket, const char* bytes);
    void close(QTcpSocket* socket);
    // Stops the listener while every slot is taken, resumes it once one is free.
    void updateAccepting();
    void returnToWaiting(async::TimerId timer);
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
    bool full_ = false;          // the listener is held back for want of a free slot
    bool acceptBroken_ = false;  // an accept error is waiting out its pause
};

}  // namespace pexil
