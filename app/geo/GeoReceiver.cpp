#include "app/geo/GeoReceiver.h"

#include "app/geo/ComputerName.h"
#include "app/geo/ServiceAdvertiser.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <span>
#include <utility>

namespace pexil {

namespace {

const QString serviceType = QStringLiteral("_pexil._tcp");
constexpr async::Seconds failureShown{3.0};
// After the system ran out of descriptors, how long before the listener tries again.
constexpr async::Seconds acceptRetry{1.0};
// How long a message may pause before the connection counts as broken.
constexpr async::Seconds silenceLimit{60.0};
// The whole message's deadline: a base for connecting and the header, plus the body at a rate
// far below any real network's (a phone on poor Wi-Fi still sends megabytes a second).
constexpr async::Seconds deadlineBase{30.0};
constexpr double slowestRate = 64 * 1024;  // bytes per second
// How old a connection must be before it may be cut for a newcomer: a burst of real senders
// is accepted in a moment and finishes in a moment.
constexpr async::Seconds evictionGrace{5.0};
// Connections served at once: the phone sends one message at a time, yet a busy studio
// network (and the load test) may have dozens in flight.
constexpr std::size_t connectionLimit = 64;
static_assert(GeoReceiver::bodyBudget >= 2 * std::size_t{GeoLink::maximumBody},
              "a body of the largest size must fit beside another");
// Senders the system keeps waiting while every slot is taken. Qt's default of 50 would make
// a burst beyond it fall back on SYN retries, which take seconds.
constexpr int listenBacklog = 256;
// QTcpServer's own pending-connection bound; ours is connectionLimit, so this only has to
// be above zero (zero is how the listener is held back, see updateAccepting()).
constexpr int pendingWhileAccepting = 30;
// How much of a body Qt may hold before we copy it out: bounds the second copy while a
// large body streams in.
constexpr std::uint32_t bodyChunk = 256 * 1024;

bool isJsonSpace(std::uint8_t byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

// Whitespace around a JSON document means nothing, but a body padded to a fixed size with it
// costs the JSON reader far more per byte than this loop does, on the main thread.
ByteView withoutOuterSpace(ByteView body) {
    const std::uint8_t* begin = body.data();
    const std::uint8_t* end = begin + body.size();
    while (begin != end && isJsonSpace(*begin)) ++begin;
    while (end != begin && isJsonSpace(*(end - 1))) --end;
    return {begin, end};
}

// Hands each accepted descriptor over before Qt wraps it in a socket, so that the socket's
// read limit is in place before the first byte is read.
class Listener final : public QTcpServer {
public:
    explicit Listener(std::function<void(qintptr)> accept) : accept_(std::move(accept)) {}

protected:
    void incomingConnection(qintptr descriptor) override { accept_(descriptor); }

private:
    std::function<void(qintptr)> accept_;
};

}  // namespace

GeoReceiver::ReplyChannel& GeoReceiver::ReplyChannel::operator=(ReplyChannel&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

GeoReceiver::ReplyChannel::~ReplyChannel() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool GeoReceiver::ReplyChannel::send(const char* bytes) const {
    if (descriptor_ < 0) return false;
    // A peer that has gone altogether makes this fail (EPIPE, ECONNRESET), never a signal.
    return ::send(descriptor_, bytes, 2, MSG_NOSIGNAL | MSG_DONTWAIT) == 2;
}

GeoReceiver::GeoReceiver(async::Clock& clock, LogSink log, Options options, QObject* parent)
    : QObject(parent), clock_(clock), log_(std::move(log)), options_(std::move(options)) {}

GeoReceiver::~GeoReceiver() {
    for (const async::TimerId timer : timers_) clock_.cancelTimer(timer);
    if (evictionCheck_) clock_.cancelTimer(*evictionCheck_);
    // The sockets die with this object; none of their last signals may reach it half gone.
    for (auto& entry : connections_) {
        entry.first->disconnect(this);
        stopReading(entry.second);
    }
    connections_.clear();
    if (held_) ::close(static_cast<int>(*held_));
}

void GeoReceiver::start() {
    if (listener_) return;
    auto listener = std::make_unique<Listener>([this](qintptr descriptor) { accept(descriptor); });
    listener->setListenBacklogSize(listenBacklog);
    bool listening = listener->listen(options_.address, options_.port);
    if (!listening && options_.port != 0 && options_.anyPortWhenTaken) {
        // The port of the last run keeps a phone's entry valid; taken, any port beats none.
        if (log_)
            log_(QStringLiteral("ポート %1 で待ち受けられない（%2）。空いているポートにする")
                     .arg(options_.port)
                     .arg(listener->errorString()));
        listening = listener->listen(options_.address, 0);
    }
    if (!listening) {
        const QString message =
            QStringLiteral("待ち受けを始められません（%1）").arg(listener->errorString());
        if (log_) log_(QStringLiteral("受信に失敗: ") + message);
        setState(Failed{message});
        return;
    }
    listener->setParent(this);
    listener_ = listener.release();
    connect(listener_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        // Qt stops accepting after a hard accept error (out of descriptors, typically); a
        // receiver that silently never answers again would be worse than a short pause.
        if (log_) log_(QStringLiteral("接続を受け付けられません: ") + listener_->errorString());
        acceptBroken_ = true;
        auto id = std::make_shared<async::TimerId>(0);
        *id = clock_.startTimer(acceptRetry, [this, id] {
            timers_.erase(*id);
            acceptBroken_ = false;
            updateAccepting();
        });
        timers_.insert(*id);
    });
    if (log_) log_(QStringLiteral("位置情報の受信を待ち受けます: ポート %1").arg(port()));

    const QString name = computerName();
    if (options_.advertise) {
        auto advertiser = std::make_unique<ServiceAdvertiser>(serviceType, log_);
        advertiser->setParent(this);
        advertiser_ = advertiser.release();
        connect(advertiser_, &ServiceAdvertiser::statusChanged, this, [this] { announcementChanged(); });
        advertiser_->publish(name, port());
    }
    setState(waiting());
}

quint16 GeoReceiver::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

void GeoReceiver::accept(qintptr descriptor) {
    if (connections_.size() >= connectionLimit && !evictSlowest()) {
        // Qt's accept loop stops after this one (updateAccepting()); the sender waits unread
        // for a slot, the ones after it in the system's queue.
        held_ = descriptor;
        updateAccepting();
        watchForEviction();
        return;
    }
    serve(descriptor);
}

void GeoReceiver::serve(qintptr descriptor) {
    // Qt closes its socket in both directions when the peer ends its sending side, yet a
    // sender that half-closes before its message is whole still waits for its "NG". A second
    // descriptor on the connection keeps the answering direction open after Qt let go.
    ReplyChannel replyChannel(::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0));
    auto owned = std::make_unique<QTcpSocket>();
    owned->setReadBufferSize(GeoLink::headerSize);
    if (!owned->setSocketDescriptor(descriptor)) {
        ::close(static_cast<int>(descriptor));
        if (log_) log_(QStringLiteral("接続を受け付けられません: ") + owned->errorString());
        return;
    }
    owned->setParent(this);
    QTcpSocket* socket = owned.release();
    Connection& connection = connections_.emplace(socket, Connection{}).first->second;
    connection.replyChannel = std::move(replyChannel);
    connection.accepted = clock_.monotonic();
    watchSilence(socket, connection);
    watchDeadline(socket, connection);
    setState(Receiving{});

    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readable(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        const auto it = connections_.find(socket);
        if (it != connections_.end() && it->second.closing && socket->bytesToWrite() == 0)
            close(socket);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { lost(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError) { lost(socket); });
    readable(socket);
}

bool GeoReceiver::evictSlowest() {
    const async::Seconds now = clock_.monotonic();
    QTcpSocket* slowest = nullptr;
    double lowestRate = 0;
    async::Seconds slowestAge{0};
    for (const auto& [socket, connection] : connections_) {
        const async::Seconds age = now - connection.accepted;
        if (connection.closing || age < evictionGrace) continue;
        const double rate = static_cast<double>(connection.frame.received()) / age.count();
        if (slowest == nullptr || rate < lowestRate || (rate == lowestRate && age > slowestAge)) {
            slowest = socket;
            lowestRate = rate;
            slowestAge = age;
        }
    }
    if (slowest == nullptr) return false;
    const std::size_t received = connections_.at(slowest).frame.received();
    finish(slowest, GeoLink::Failure::evicted,
           QStringLiteral(
               "%1 本すべて使用中、%2 秒で %3 バイトの送信元を切り、新しい接続を受け付けます")
               .arg(connectionLimit)
               .arg(QString::number(slowestAge.count(), 'f', 0))
               .arg(received));
    // The reply was handed over (or not) inside finish(); the slot is wanted now.
    close(slowest);
    return true;
}

void GeoReceiver::watchForEviction() {
    if (evictionCheck_ || !held_) return;
    // The next moment a connection may become old enough to be cut.
    const async::Seconds now = clock_.monotonic();
    async::Seconds wait = evictionGrace;
    for (const auto& entry : connections_)
        if (!entry.second.closing)
            wait = std::min(wait, entry.second.accepted + evictionGrace - now);
    evictionCheck_ = clock_.startTimer(std::max(wait, async::Seconds{0}), [this] {
        evictionCheck_.reset();
        if (!held_) return;
        // Cutting one frees a slot, and close() serves the held sender in it.
        if (connections_.size() < connectionLimit || evictSlowest()) {
            if (held_ && connections_.size() < connectionLimit) {
                const qintptr descriptor = *std::exchange(held_, std::nullopt);
                serve(descriptor);
                updateAccepting();
            }
            return;
        }
        watchForEviction();
    });
}

void GeoReceiver::watchSilence(QTcpSocket* socket, Connection& connection) {
    if (connection.silence) clock_.cancelTimer(*connection.silence);
    connection.silence =
        clock_.startTimer(silenceLimit, [this, socket] { overdue(socket, &Connection::silence); });
}

void GeoReceiver::watchDeadline(QTcpSocket* socket, Connection& connection) {
    if (connection.deadline) clock_.cancelTimer(*connection.deadline);
    const async::Seconds due = connection.accepted + deadlineBase +
                               async::Seconds{connection.frame.length() / slowestRate};
    connection.deadline =
        clock_.startTimer(std::max(due - clock_.monotonic(), async::Seconds{0}),
                          [this, socket] { overdue(socket, &Connection::deadline); });
}

void GeoReceiver::overdue(QTcpSocket* socket, std::optional<async::TimerId> Connection::*timer) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    (it->second.*timer).reset();
    if (!it->second.closing) finish(socket, readFailure(it->second));
}

GeoLink::Failure GeoReceiver::readFailure(const Connection& connection) {
    return connection.frame.step() == GeoFrameReader::Step::header ? GeoLink::Failure::header
                                                                   : GeoLink::Failure::body;
}

void GeoReceiver::readable(QTcpSocket* socket) {
    const auto it = connections_.find(socket);
    if (it == connections_.end() || it->second.closing) return;
    Connection& connection = it->second;
    GeoFrameReader& frame = connection.frame;
    if (socket->bytesAvailable() > 0) watchSilence(socket, connection);
    while (frame.wanted() > 0) {
        const qint64 available = socket->bytesAvailable();
        if (available <= 0) break;
        const bool inHeader = frame.step() == GeoFrameReader::Step::header;
        // One byte more than Qt holds, when the message needs it: a read that empties Qt's
        // buffer without asking past it leaves the socket's read notification off, and the
        // rest would sit in the kernel.
        const std::span<std::uint8_t> room = frame.room(static_cast<std::size_t>(available) + 1);
        const qint64 got =
            socket->read(reinterpret_cast<char*>(room.data()), static_cast<qint64>(room.size()));
        frame.commit(static_cast<std::size_t>(std::max<qint64>(got, 0)));
        if (frame.step() == GeoFrameReader::Step::failed) {
            finish(socket, *frame.failure());
            return;
        }
        if (inHeader && frame.step() != GeoFrameReader::Step::header) {
            // The header has passed: the body is admitted only if it fits the budget.
            if (frame.length() > bodyBudget - reserved_) {
                finish(socket, GeoLink::Failure::busy,
                       QStringLiteral("%1 バイトの本体、残り %2 バイト")
                           .arg(frame.length())
                           .arg(bodyBudget - reserved_));
                return;
            }
            connection.reserved = frame.length();
            reserved_ += connection.reserved;
            watchDeadline(socket, connection);
        }
        if (got <= 0) break;
    }
    if (frame.step() != GeoFrameReader::Step::complete) {
        limitReading(socket, frame.wanted());
        return;
    }
    // Zero would mean "no limit"; one byte is the least Qt can be told to hold.
    limitReading(socket, 1);
    connection.closing = true;
    auto decoded = GeoLink::decodeEnvelope(withoutOuterSpace(frame.body()));
    if (!decoded) {
        finish(socket, decoded.error());
        return;
    }
    succeed(socket, std::move(decoded).value());
}

void GeoReceiver::lost(QTcpSocket* socket) {
    // Whatever arrived before the peer left still counts.
    readable(socket);
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    if (it->second.closing) {
        // The reply may not have left; there is nobody to give it to any more.
        close(socket);
        return;
    }
    finish(socket, readFailure(it->second));
}

void GeoReceiver::limitReading(QTcpSocket* socket, std::size_t wanted) {
    // A socket whose peer has just gone has no descriptor left to limit.
    if (socket->isValid())
        socket->setReadBufferSize(static_cast<qint64>(std::min<std::size_t>(wanted, bodyChunk)));
}

void GeoReceiver::succeed(QTcpSocket* socket, GeoLink::Envelope envelope) {
    lastPayload_ = envelope.payload;
    setState(Received{envelope.sender, clock_.now()});
    if (onReceive_) onReceive_(envelope);
    if (log_) {
        // Concatenated, not arg()-chained: a sender may contain "%2".
        log_(QStringLiteral("位置情報を受信: ") + envelope.sender + QStringLiteral(" から shots ") +
             QString::number(envelope.payload.shots.size()) + QStringLiteral(" / track ") +
             QString::number(envelope.payload.track.size()));
    }
    reply(socket, "OK");
}

void GeoReceiver::finish(QTcpSocket* socket, GeoLink::Failure failure, const QString& detail) {
    const QString text = GeoLink::failureText(failure);
    if (log_)
        log_(QStringLiteral("受信に失敗: ") + text +
             (detail.isEmpty() ? QString() : QStringLiteral("（") + detail + QStringLiteral("）")));
    setState(Failed{text});
    reply(socket, "NG");
    // Every failure has its own timer; an earlier one may end a later failure's display.
    auto id = std::make_shared<async::TimerId>(0);
    *id = clock_.startTimer(failureShown, [this, id] { returnToWaiting(*id); });
    timers_.insert(*id);
}

void GeoReceiver::reply(QTcpSocket* socket, const char* bytes) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    it->second.closing = true;
    stopReading(it->second);
    // A peer that has just gone leaves the socket "connected" with no descriptor behind it.
    if (socket->isValid() && socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(bytes, 2);
        // Hand it to the kernel now: a peer that has already shut its side would otherwise
        // make Qt drop the socket, and the reply with it, before the event loop wrote it.
        socket->flush();
        if (socket->bytesToWrite() > 0) return;  // bytesWritten closes it
    } else {
        // Qt has let go (the peer ended its side, or the connection broke): the reply goes on
        // the receiver's own descriptor. Two bytes on a connection that never sent anything
        // fit the kernel's buffer at once; a peer gone altogether simply does not get them.
        it->second.replyChannel.send(bytes);
    }
    close(socket);
}

void GeoReceiver::stopReading(Connection& connection) {
    reserved_ -= std::exchange(connection.reserved, 0);
    connection.frame.releaseBody();
    if (connection.silence) clock_.cancelTimer(*connection.silence);
    if (connection.deadline) clock_.cancelTimer(*connection.deadline);
    connection.silence.reset();
    connection.deadline.reset();
}

void GeoReceiver::close(QTcpSocket* socket) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    stopReading(it->second);
    connections_.erase(it);  // closes the reply channel: the connection ends here
    socket->disconnect(this);
    socket->close();
    // Never deleted inside one of its own signals.
    socket->deleteLater();
    // The sender held unread has waited longest: it takes the free slot before the listener
    // takes anyone from the system's queue.
    if (held_ && connections_.size() < connectionLimit) {
        const qintptr descriptor = *std::exchange(held_, std::nullopt);
        if (evictionCheck_) clock_.cancelTimer(*std::exchange(evictionCheck_, std::nullopt));
        serve(descriptor);
    }
    updateAccepting();
}

void GeoReceiver::updateAccepting() {
    if (!listener_) return;
    const bool full = held_.has_value();
    if (full && !heldBack_) {
        // Pausing alone is not enough: Qt's accept loop drains the whole queue of the current
        // notification. A pending-connection bound of zero stops it before the next accept.
        listener_->setMaxPendingConnections(0);
        listener_->pauseAccepting();
        if (log_)
            log_(
                QStringLiteral("同時の接続が上限（%1）に達したため、空くまで新しい接続を待たせます")
                    .arg(connectionLimit));
    } else if (!full && heldBack_) {
        listener_->setMaxPendingConnections(pendingWhileAccepting);
    }
    heldBack_ = full;
    // An accept error holds the listener back for its own pause (see start()).
    if (!heldBack_ && !acceptBroken_) listener_->resumeAccepting();
}

void GeoReceiver::returnToWaiting(async::TimerId timer) {
    timers_.erase(timer);
    if (std::holds_alternative<Failed>(state_)) setState(waiting());
}

GeoReceiver::Waiting GeoReceiver::waiting() const {
    Waiting out{computerName(), true, {}};
    if (!advertiser_) return out;
    const auto status = advertiser_->status();
    if (status == ServiceAdvertiser::Status::unavailable || status == ServiceAdvertiser::Status::failed) {
        out.findable = false;
        out.address = typedAddress(port());
    }
    return out;
}

void GeoReceiver::announcementChanged() {
    if (std::holds_alternative<Waiting>(state_)) setState(waiting());
}

QString GeoReceiver::typedAddress(quint16 port) {
    // The first address of this computer on a network: the one a phone on the same Wi-Fi
    // would type. Loopback and link-local addresses reach no phone.
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback() || address.isLinkLocal())
            continue;
        return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    }
    return QStringLiteral("（この PC の IP アドレス）:%1").arg(port);
}

void GeoReceiver::setState(State state) {
    if (state == state_) return;
    state_ = std::move(state);
    emit stateChanged(state_);
}

QString GeoReceiver::computerName() const {
    return options_.computerName ? options_.computerName() : ComputerName::current();
}

QString GeoReceiver::displayText(const State& state) {
    struct Text {
        QString operator()(const Stopped&) const { return QStringLiteral("待ち受けていません"); }
        QString operator()(const Waiting& waiting) const {
            if (!waiting.findable)
                return QStringLiteral("iPhone からはこの PC を自動で見つけられません（Avahi が動いていません）。"
                                      "iPhone の Pexil で %1 を入力して送信してください")
                    .arg(waiting.address);
            return QStringLiteral("「%1」として待ち受け中。iPhone の Pexil から送信してください")
                .arg(waiting.name);
        }
        QString operator()(const Receiving&) const { return QStringLiteral("受信中…"); }
        QString operator()(const Received& received) const {
            return QStringLiteral("%1 から受信しました（%2）")
                .arg(received.sender,
                     received.time.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
        }
        QString operator()(const Failed& failed) const {
            return QStringLiteral("受信に失敗: ") + failed.message;
        }
    };
    return std::visit(Text{}, state);
}

}  // namespace pexil
