#include "camera/ptpip/PtpIpServer.h"

#include "kit/ptp/Localized.h"
#include "kit/ptp/PTPCodes.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <system_error>
#include <vector>

namespace pexil::camera {

using namespace ptpip;

namespace {

constexpr std::chrono::seconds initWait{5};
constexpr std::chrono::seconds initReplyTimeout{1};
constexpr std::chrono::milliseconds eventPoll{50};
// How long a new initiator waits for the session of one that has just gone to wind down.
constexpr std::chrono::seconds handOverWait{2};
constexpr std::size_t maxPending = 16;

QString systemText(int error) {
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Operations whose host data phase some initiators announce as "no data or data in"
// (libgphoto2 always does): for these the server waits for the data all the same.
bool carriesHostData(std::uint16_t code) {
    using PTP::Op;
    switch (static_cast<Op>(code)) {
        case Op::sendObjectInfo:
        case Op::sendObject:
        case Op::setDevicePropValue:
        case Op::setObjectPropValue:
        case Op::setObjectPropList:
        case Op::sendObjectPropList:
        case Op::setObjectReferences:
            return true;
        default:
            return false;
    }
}

// The responder's data phase, sent as the responder writes it.
class StreamSink final : public DataSink {
public:
    StreamSink(PtpIpConnection& connection, std::uint32_t transactionId)
        : connection_(connection), transactionId_(transactionId) {}

    bool begin(std::optional<std::uint64_t> total) override {
        if (began_) return !broken_;
        began_ = true;
        total_ = total;
        sendOrBreak(encode(StartData{transactionId_, total.value_or(unknownTotal)}), {});
        return !broken_;
    }

    bool write(ByteView piece) override {
        if (!began_) begin(std::nullopt);
        if (broken_) return false;
        if (total_ && sent_ + piece.size() > *total_) {
            fault_ = QStringLiteral("予告した %1 バイトを超えて書きました").arg(*total_);
            broken_ = true;
            return false;
        }
        while (!piece.empty() && !broken_) {
            const auto chunk = piece.first(std::min(piece.size(), PtpIpServer::maxPacketPayload));
            sent_ += chunk.size();
            const bool last = total_ && sent_ == *total_;
            const auto head = dataHeader(last ? PacketType::endData : PacketType::data,
                                         transactionId_, chunk.size());
            sendOrBreak(*head, chunk);
            endSent_ = last;
            piece = piece.subspan(chunk.size());
        }
        return !broken_;
    }

    // Ends the data phase after handle() returned: false when the connection failed or the
    // responder wrote other than it announced (fault() tells which).
    bool finish() {
        if (broken_) return false;
        if (!began_ || endSent_) return true;
        if (total_ && sent_ != *total_) {
            fault_ = QStringLiteral("予告した %1 バイトのうち %2 バイトしか書きませんでした")
                         .arg(*total_)
                         .arg(sent_);
            return false;
        }
        sendOrBreak(encode(EndData{transactionId_, {}}), {});
        return !broken_;
    }

    const QString& fault() const { return fault_; }

private:
    void sendOrBreak(ByteView head, ByteView body) {
        if (connection_.send(head, body, std::nullopt) != IoStatus::ok) broken_ = true;
    }

    PtpIpConnection& connection_;
    std::uint32_t transactionId_;
    std::optional<std::uint64_t> total_;
    std::uint64_t sent_ = 0;
    bool began_ = false;
    bool endSent_ = false;
    bool broken_ = false;
    QString fault_;
};

}  // namespace

// One initiator's connections and the two threads that serve them.
class PtpIpServer::Session {
public:
    Session(PtpIpServer& server, std::uint32_t number, QString initiator,
            std::unique_ptr<PtpIpConnection> command)
        : server_(server),
          number_(number),
          initiator_(std::move(initiator)),
          command_(std::move(command)) {
        command_->setInterrupter(wake_);
        running_ = 1;
        commandThread_ = std::thread([this] { run(&Session::commandLoop); });
    }

    ~Session() {
        end();
        if (commandThread_.joinable()) commandThread_.join();
        if (eventThread_.joinable()) eventThread_.join();
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Whether `number` names this session and it still waits for its event connection.
    bool acceptsEvents(std::uint32_t number) {
        std::lock_guard lock(mutex_);
        return number == number_ && !events_ && !ended_;
    }

    // Takes the event connection and starts serving events; drops it when the session has
    // ended meanwhile.
    void attachEvents(std::unique_ptr<PtpIpConnection> connection) {
        std::lock_guard lock(mutex_);
        if (events_ || ended_) return;
        events_ = std::move(connection);
        events_->setInterrupter(wake_);
        ++running_;
        eventThread_ = std::thread([this] { run(&Session::eventLoop); });
    }

    // Closes both connections; the threads end at their next wait. Any thread.
    void end() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            wake_.signal();
            command_->shutdown();
            if (events_) events_->shutdown();
        }
        // A responder holding the command thread (a stalled camera) lets go of it.
        server_.responder_->initiatorGone();
    }

    bool ended() {
        std::lock_guard lock(mutex_);
        return ended_;
    }

    // The initiator closed its side or the socket failed: it will not come back.
    bool initiatorGone() const {
        pollfd fd{command_->fd(), POLLRDHUP, 0};
        return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    bool waitFinished(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return finished_.wait_for(lock, timeout, [this] { return running_ == 0; });
    }

private:
    void run(void (Session::*loop)()) {
        (this->*loop)();
        server_.responder_->initiatorGone();
        std::lock_guard lock(mutex_);
        ended_ = true;
        wake_.signal();
        command_->shutdown();
        if (events_) events_->shutdown();
        --running_;
        finished_.notify_all();
    }

    void log(const QString& line) {
        server_.log(QStringLiteral("PTP/IP 「%1」: %2").arg(initiator_, line));
    }

    // One line for the end of a session, whichever thread notices it first.
    void logEnd(IoStatus status, const PtpIpConnection& connection) {
        if (status == IoStatus::interrupted || endLogged_.exchange(true)) return;
        switch (status) {
            case IoStatus::closed:
                log(QStringLiteral("接続が閉じられました"));
                break;
            case IoStatus::failed:
                log(QStringLiteral("接続が切れました（%1）")
                        .arg(systemText(connection.lastError())));
                break;
            case IoStatus::malformed:
                log(QStringLiteral("不正なパケットが届いたので接続を閉じます"));
                break;
            default:
                break;
        }
    }

    void commandLoop() {
        PtpIpConnection& connection = *command_;
        for (;;) {
            Header header;
            auto status = connection.peekHeader(header, std::nullopt);
            if (status == IoStatus::ok && header.isData()) {
                // The rest of a host data phase the server did not wait for.
                std::uint32_t tid = 0;
                status = connection.takeData(
                    header, tid, [](ByteView) {}, std::nullopt);
                if (status == IoStatus::ok) continue;
            }
            Bytes bytes;
            if (status == IoStatus::ok) status = connection.takePacket(bytes, std::nullopt);
            if (status != IoStatus::ok) return logEnd(status, connection);
            const auto packet = parse(bytes);
            if (!packet) {
                if (header.type < 1 || header.type > 14) continue;  // a vendor's packet
                return logEnd(IoStatus::malformed, connection);
            }
            if (const auto* request = std::get_if<OperationRequest>(&*packet)) {
                if (!serve(*request)) return;
            } else if (std::holds_alternative<ProbeRequest>(*packet)) {
                if (!server_.responder_->inReach()) continue;
                status = connection.send(encode(ProbeResponse{}), std::nullopt);
                if (status != IoStatus::ok) return logEnd(status, connection);
            } else if (!std::holds_alternative<StartData>(*packet) &&
                       !std::holds_alternative<Cancel>(*packet) &&
                       !std::holds_alternative<ProbeResponse>(*packet)) {
                log(QStringLiteral("コマンド接続に型 %1 のパケットが届いたので接続を閉じます")
                        .arg(header.type));
                return;
            }
        }
    }

    // Collects the host's data phase. Sets `refusal` to the response to send instead of
    // calling the responder when the data cannot be handed over whole; false when the
    // connection failed.
    bool receiveHostData(Bytes& data, std::optional<std::uint16_t>& refusal) {
        PtpIpConnection& connection = *command_;
        Header header;
        Bytes bytes;
        auto status = connection.peekHeader(header, std::nullopt);
        if (status == IoStatus::ok && header.isData()) status = IoStatus::malformed;
        if (status == IoStatus::ok) status = connection.takePacket(bytes, std::nullopt);
        const auto packet = status == IoStatus::ok ? parse(bytes) : std::nullopt;
        const auto* start = packet ? std::get_if<StartData>(&*packet) : nullptr;
        if (!start) {
            logEnd(status == IoStatus::ok ? IoStatus::malformed : status, connection);
            return false;
        }
        // A plain flag, not an optional: g++ 12 at -O2 wrongly warns that one is read unset.
        const bool announced = start->total != unknownTotal;
        const std::uint64_t total = announced ? start->total : 0;
        bool tooLarge = announced && total > maxHostData;
        if (announced && !tooLarge) data.reserve(total);
        std::uint64_t received = 0;
        // libgphoto2 sends no End Data at all for an empty data phase, and puts the last
        // piece into End Data otherwise: the announced total ends the phase as well.
        bool complete = announced && total == 0;
        while (!complete) {
            status = connection.peekHeader(header, std::nullopt);
            if (status == IoStatus::ok && !header.isData()) status = IoStatus::malformed;
            std::uint32_t packetTid = 0;
            if (status == IoStatus::ok) {
                status = connection.takeData(
                    header, packetTid,
                    [&](ByteView piece) {
                        received += piece.size();
                        if (tooLarge) return;
                        if (data.size() + piece.size() > maxHostData) {
                            tooLarge = true;
                            Bytes().swap(data);
                            return;
                        }
                        data.insert(data.end(), piece.begin(), piece.end());
                    },
                    std::nullopt);
            }
            if (status != IoStatus::ok) {
                logEnd(status, connection);
                return false;
            }
            complete = header.type == static_cast<std::uint32_t>(PacketType::endData) ||
                       (announced && received >= total);
        }
        if (tooLarge) {
            log(QStringLiteral("送られたデータ %1 バイトは受け取れる %2 バイトを超えています")
                    .arg(received)
                    .arg(maxHostData));
            refusal = PTP::code(PTP::Response::generalError);
        } else if (announced && received != total) {
            log(QStringLiteral("予告された %1 バイトのデータが %2 バイトで終わりました")
                    .arg(total)
                    .arg(received));
            refusal = PTP::code(PTP::Response::incompleteTransfer);
        }
        return true;
    }

    bool serve(const OperationRequest& request) {
        const Operation& operation = request.operation;
        const auto tid = operation.transactionId;
        std::optional<Bytes> outData;
        std::optional<std::uint16_t> refusal;
        if (request.dataPhase == DataPhase::out || carriesHostData(operation.code)) {
            outData.emplace();
            if (!receiveHostData(*outData, refusal)) return false;
        }
        StreamSink sink(*command_, tid);
        auto result =
            refusal
                ? Result<Response, TransportError>(Response{*refusal, tid, {}})
                : server_.responder_->handle(
                      operation, outData ? std::optional<ByteView>(*outData) : std::nullopt, sink);
        if (!result) {
            log(QStringLiteral("カメラ側が止まったので接続を閉じます（%1）")
                    .arg(result.error().message));
            return false;
        }
        if (!sink.finish()) {
            if (!sink.fault().isEmpty())
                log(QStringLiteral("0x%1: %2。接続を閉じます")
                        .arg(operation.code, 4, 16, QLatin1Char('0'))
                        .arg(sink.fault()));
            return false;
        }
        Response response = std::move(result).value();
        response.transactionId = tid;
        const auto status = command_->send(encode(OperationResponse{response}), std::nullopt);
        if (status != IoStatus::ok) logEnd(status, *command_);
        return status == IoStatus::ok;
    }

    void eventLoop() {
        PtpIpConnection& connection = *events_;
        for (;;) {
            // What the initiator sent on the event connection: probes, or its going away.
            for (;;) {
                Header header;
                Bytes bytes;
                const auto now = SteadyClock::now();
                auto status = connection.peekHeader(header, now);
                if (status == IoStatus::ok && header.isData()) status = IoStatus::malformed;
                if (status == IoStatus::ok) status = connection.takePacket(bytes, now);
                if (status == IoStatus::timedOut) break;
                if (status != IoStatus::ok) return logEnd(status, connection);
                const auto packet = parse(bytes);
                // A camera out of reach hears nothing: the probe goes unanswered.
                if (packet && std::holds_alternative<ProbeRequest>(*packet) &&
                    server_.responder_->inReach()) {
                    status = connection.send(encode(ProbeResponse{}), std::nullopt);
                    if (status != IoStatus::ok) return logEnd(status, connection);
                }
            }
            auto event = server_.responder_->waitEvent(eventPoll);
            if (!event) {
                log(QStringLiteral("カメラ側が止まったので接続を閉じます（%1）")
                        .arg(event.error().message));
                return;
            }
            if (!event.value()) continue;
            const auto parsed = fromEventContainer(*event.value());
            if (!parsed) {
                log(QStringLiteral("送れないイベント（%1 バイト）を捨てました")
                        .arg(event.value()->size()));
                continue;
            }
            const auto status = connection.send(encode(*parsed), std::nullopt);
            if (status != IoStatus::ok) return logEnd(status, connection);
        }
    }

    PtpIpServer& server_;
    const std::uint32_t number_;
    const QString initiator_;
    Interrupter wake_;

    std::mutex mutex_;  // guards ended_, events_ (the pointer), running_
    std::condition_variable finished_;
    bool ended_ = false;
    int running_ = 0;
    std::atomic<bool> endLogged_{false};
    std::unique_ptr<PtpIpConnection> command_;
    std::unique_ptr<PtpIpConnection> events_;
    std::thread commandThread_;
    std::thread eventThread_;
};

struct PtpIpServer::Pending {
    std::unique_ptr<PtpIpConnection> connection;
    SteadyClock::time_point deadline;
};

PtpIpServer::PtpIpServer(std::shared_ptr<Responder> responder, std::string address,
                         std::uint16_t port, LogFn log)
    : responder_(std::move(responder)),
      address_(std::move(address)),
      port_(port),
      log_(std::move(log)) {}

PtpIpServer::~PtpIpServer() {
    stop();
}

void PtpIpServer::log(const QString& line) const {
    std::lock_guard lock(logMutex_);
    if (log_) log_(line);
}

Result<Done, TransportError> PtpIpServer::start() {
    if (acceptThread_.joinable()) return Done{};
    const auto endpoints = resolve(address_, port_, true);
    if (!endpoints) {
        const auto message = localized("待ち受けるアドレス「%1」が見つかりません。")
                                 .arg(QString::fromStdString(address_));
        log(QStringLiteral("PTP/IP: %1（%2）")
                .arg(message, QString::fromStdString(endpoints.error())));
        return TransportError{message};
    }
    int error = 0;
    for (const auto& endpoint : endpoints.value()) {
        const int fd = ::socket(endpoint.address.ss_family,
                                SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) !=
                0 ||
            ::listen(fd, 8) != 0) {
            error = errno;
            ::close(fd);
            continue;
        }
        listenFd_ = fd;
        break;
    }
    if (listenFd_ < 0) {
        QString message;
        if (error == EADDRINUSE)
            message = localized(
                          "ポート %1 "
                          "はほかのプログラムが使っています。別のポートを指定するか、そのプログラム"
                          "を終了してください。")
                          .arg(port_);
        else if (error == EACCES)
            message =
                localized(
                    "ポート %1 で待ち受ける権限がありません。1024 以上のポートを指定してください。")
                    .arg(port_);
        else
            message = localized("%1 で待ち受けを始められませんでした。")
                          .arg(QString::fromStdString(address_));
        log(QStringLiteral("PTP/IP: %1（%2）").arg(message, systemText(error)));
        return TransportError{message};
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    if (bound.ss_family == AF_INET)
        port_ = ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    else if (bound.ss_family == AF_INET6)
        port_ = ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    const auto host = address_.empty() ? std::string("0.0.0.0") : address_;
    endpoint_ = host + ":" + std::to_string(port_);
    wake_ = std::make_unique<Interrupter>();
    acceptThread_ = std::thread([this] { acceptLoop(); });
    log(QStringLiteral("PTP/IP: %1 で待ち受けています").arg(QString::fromStdString(endpoint_)));
    return Done{};
}

void PtpIpServer::stop() {
    if (!acceptThread_.joinable()) return;
    wake_->signal();
    acceptThread_.join();
    session_.reset();
    ::close(listenFd_);
    listenFd_ = -1;
    log(QStringLiteral("PTP/IP: 待ち受けを終えました"));
}

bool PtpIpServer::reclaimResponder() {
    if (!session_) return true;
    if (!session_->ended() && session_->initiatorGone()) session_->end();
    if (!session_->ended() || !session_->waitFinished(handOverWait)) return false;
    session_.reset();
    return true;
}

void PtpIpServer::admit(std::unique_ptr<PtpIpConnection> connection, const Packet& init) {
    const auto reply = [&](const Packet& packet) {
        return connection->send(encode(packet), deadlineAfter(initReplyTimeout)) == IoStatus::ok;
    };
    if (const auto* request = std::get_if<InitCommandRequest>(&init)) {
        const auto who = request->name.isEmpty() ? QStringLiteral("?") : request->name;
        if (!reclaimResponder()) {
            reply(InitFail{static_cast<std::uint32_t>(FailReason::busy)});
            log(QStringLiteral("PTP/IP 「%1」: 別の機器と接続中なので断りました").arg(who));
            return;
        }
        const auto number = ++lastConnectionNumber_;
        if (!reply(InitCommandAck{number, guid, name(), protocolVersion})) return;
        log(QStringLiteral("PTP/IP 「%1」: 接続しました").arg(who));
        session_ = std::make_unique<Session>(*this, number, who, std::move(connection));
    } else if (const auto* request = std::get_if<InitEventRequest>(&init)) {
        if (session_ && session_->acceptsEvents(request->connectionNumber)) {
            // The ack goes out before the event thread may send its first event.
            if (reply(InitEventAck{})) session_->attachEvents(std::move(connection));
            return;
        }
        reply(InitFail{static_cast<std::uint32_t>(FailReason::unspecified)});
        log(QStringLiteral("PTP/IP: 接続番号 %1 のイベント接続を断りました")
                .arg(request->connectionNumber));
    }
}

void PtpIpServer::acceptLoop() {
    std::vector<Pending> pending;
    for (;;) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {wake_->fd(), POLLIN, 0}};
        auto next = SteadyClock::time_point::max();
        for (const auto& p : pending) {
            fds.push_back({p.connection->fd(), POLLIN, 0});
            next = std::min(next, p.deadline);
        }
        int timeout = -1;
        if (!pending.empty()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            log(QStringLiteral("PTP/IP: 待ち受けが止まりました（%1）").arg(systemText(errno)));
            return;
        }
        if (wake_->signalled()) return;

        if (fds[0].revents != 0) {
            for (;;) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                        // The connection stays queued and the listener readable: pause
                        // instead of spinning until descriptors free up.
                        log(QStringLiteral("PTP/IP: 接続を受けられません（%1）")
                                .arg(systemText(errno)));
                        std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    }
                    break;
                }
                PtpIpConnection::configure(fd);
                auto connection = std::make_unique<PtpIpConnection>(fd, *wake_);
                if (pending.size() < maxPending)
                    pending.push_back({std::move(connection), SteadyClock::now() + initWait});
            }
        }

        const auto now = SteadyClock::now();
        std::vector<Pending> waiting;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto& p = pending[i];
            const bool readable = i + 2 < fds.size() && fds[i + 2].revents != 0;
            Header header;
            Bytes bytes;
            auto status = readable ? p.connection->peekHeader(header, now) : IoStatus::timedOut;
            if (status == IoStatus::ok && header.isData()) status = IoStatus::malformed;
            if (status == IoStatus::ok) status = p.connection->takePacket(bytes, now);
            if (status == IoStatus::timedOut) {
                if (p.deadline > now) waiting.push_back(std::move(p));
                continue;
            }
            if (status != IoStatus::ok) continue;  // closed or garbage: dropped
            const auto packet = parse(bytes);
            if (packet) admit(std::move(p.connection), *packet);
        }
        pending = std::move(waiting);
    }
}

}  // namespace pexil::camera
