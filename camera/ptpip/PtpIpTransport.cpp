#include "camera/ptpip/PtpIpTransport.h"

#include "kit/ptp/Localized.h"
#include "kit/ptp/PTP.h"

#include <QCryptographicHash>
#include <QSysInfo>

#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>

namespace pexil::camera {

using namespace ptpip;

namespace {

// Host data goes out in Data packets of this size, the size libgphoto2 has long sent
// to cameras of every make.
constexpr std::size_t outChunk = 64 * 1024;
constexpr std::chrono::seconds probeAnswerTimeout{5};

QString systemText(int error) {
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

QString initFailMessage(std::uint32_t reason) {
    switch (static_cast<FailReason>(reason)) {
        case FailReason::busy:
            return localized(
                "カメラは別の機器と接続中です。その接続を終えてから、もう一度接続してください。");
        case FailReason::rejectedInitiator:
            return localized(
                "カメラがこのコンピュータからの接続を拒否しました。カメラの設定でこのコンピュータと"
                "の接続（ペアリング）を許可してください。");
        default:
            return localized(
                       "カメラが接続を受け付けませんでした（理由 "
                       "%1）。カメラの電源を入れ直してから、もう一度接続してください。")
                .arg(reason);
    }
}

QString typeText(std::uint32_t type) {
    return QStringLiteral("型 %1").arg(type);
}

}  // namespace

namespace {

// The two connections of a PtpIpTransport and what goes over them.
class PtpIpLink final : public Link {
public:
    PtpIpLink(PtpIpTransport::Options options, PtpIpTransport::LogFn log);
    ~PtpIpLink() override;

    // Both connections, each with its init handshake.
    Result<Done, TransportError> open() override;
    Result<Response, TransportError> exchange(const Operation& op, std::optional<ByteView> outData,
                                              DataSink& sink) override;
    // Events that came on the command connection first, then the event connection's.
    Result<std::optional<Bytes>, TransportError> nextEvent(
        std::chrono::milliseconds timeout) override;
    void close(bool first) override;
    TransportError turnAway(const QString& message, const QString& detail) override;
    // Progress is what LinkTransport counts: the transaction's own request, data and
    // response. A camera that answers probes or sends events while a transaction hangs is
    // alive, but that transaction is not moving, and it must still end.
    void probe() override;

    const std::optional<InitCommandAck>& camera() const { return camera_; }

private:
    struct Handshake {
        std::unique_ptr<PtpIpConnection> connection;
        Packet reply;
        Endpoint endpoint;
    };

    // A connection to the first of `endpoints` that takes one, `init` sent and the
    // camera's reply read.
    Result<Handshake, TransportError> handshake(const std::vector<Endpoint>& endpoints,
                                                const Packet& init);
    // Logs and returns a failure that leaves the link usable.
    TransportError failure(const QString& message, const QString& detail);
    // Logs the first failure that ends the link, ends it, and returns that first failure.
    TransportError fatal(const QString& message, const QString& detail);
    TransportError handshakeFailure(IoStatus status, const PtpIpConnection& connection);
    void log(const QString& line);
    TransportError ioFailure(IoStatus status, const PtpIpConnection& connection,
                             const QString& doing);
    // Wakes both threads and shuts both connections.
    void shutDown();
    QString peer() const;

    PtpIpTransport::Options options_;
    PtpIpTransport::LogFn log_;
    std::mutex logMutex_;
    Interrupter wake_;
    Doorbell bell_;  // rung by probe()
    std::atomic<bool> probeWanted_{false};

    mutable std::mutex mutex_;  // guards the members below
    std::unique_ptr<PtpIpConnection> command_;
    std::unique_ptr<PtpIpConnection> events_;
    std::deque<Bytes> strayEvents_;  // events that came on the command connection

    std::optional<InitCommandAck> camera_;
};

}  // namespace

PtpIpLink::PtpIpLink(PtpIpTransport::Options options, PtpIpTransport::LogFn log)
    : Link({.closed = localized("カメラとの接続を閉じました。"),
            .notConnected = localized("カメラに接続していません。"),
            .tooManyParams = [](std::size_t) { return localized("カメラに送れない命令です。"); }}),
      options_(std::move(options)),
      log_(std::move(log)) {
    if (!log_) log_ = [](const QString&) {};
}

PtpIpLink::~PtpIpLink() {
    // Tells the camera at once that this computer is gone; nothing is logged.
    shutDown();
}

void PtpIpLink::shutDown() {
    std::lock_guard lock(mutex_);
    wake_.signal();
    if (command_) command_->shutdown();
    if (events_) events_->shutdown();
}

Guid PtpIpTransport::defaultGuid() {
    QByteArray seed = QSysInfo::machineUniqueId();
    if (seed.isEmpty()) seed = QSysInfo::machineHostName().toUtf8();
    const auto digest = QCryptographicHash::hash("pexil-ptpip:" + seed, QCryptographicHash::Md5);
    Guid guid{};
    for (std::size_t i = 0; i < guid.size(); ++i)
        guid[i] = static_cast<std::uint8_t>(digest.at(static_cast<qsizetype>(i)));
    return guid;
}

QString PtpIpTransport::defaultFriendlyName() {
    QString name = QStringLiteral("Pexil ") + QSysInfo::machineHostName();
    if (name.size() > 39) {
        qsizetype cut = 39;
        if (name.at(cut - 1).isHighSurrogate()) --cut;
        name.truncate(cut);
    }
    return name.trimmed();
}

QString PtpIpLink::peer() const {
    return QString::fromStdString(options_.host) + QLatin1Char(':') +
           QString::number(options_.port);
}

void PtpIpLink::log(const QString& line) {
    std::lock_guard lock(logMutex_);
    log_(line);
}

TransportError PtpIpLink::failure(const QString& message, const QString& detail) {
    log(QStringLiteral("PTP/IP %1: %2（%3）").arg(peer(), message, detail));
    return TransportError{message};
}

TransportError PtpIpLink::fatal(const QString& message, const QString& detail) {
    if (!end(TransportError{message})) return *ended();
    log(QStringLiteral("PTP/IP %1: %2（%3）").arg(peer(), message, detail));
    // The other thread's wait ends at once with the same error.
    shutDown();
    return TransportError{message};
}

TransportError PtpIpLink::turnAway(const QString& message, const QString& detail) {
    return failure(message, detail);
}

TransportError PtpIpLink::ioFailure(IoStatus status, const PtpIpConnection& connection,
                                    const QString& doing) {
    switch (status) {
        case IoStatus::interrupted:
            return fatal(localized("カメラとの接続を閉じました。"), doing);
        case IoStatus::timedOut:
            return fatal(
                localized("カメラが応答しません。カメラの電源と Wi-Fi の状態を確かめてください。"),
                doing + QStringLiteral(": 時間切れ"));
        case IoStatus::closed:
            return fatal(localized("カメラとの接続が切れました。"),
                         doing + QStringLiteral(": 相手が接続を閉じました"));
        case IoStatus::failed:
            return fatal(localized("カメラとの接続が切れました。"),
                         doing + QStringLiteral(": ") + systemText(connection.lastError()));
        case IoStatus::malformed:
        case IoStatus::rung:
        case IoStatus::ok:
            break;
    }
    return fatal(localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
                 doing + QStringLiteral(": 不正なパケット"));
}

TransportError PtpIpLink::handshakeFailure(IoStatus status, const PtpIpConnection& connection) {
    const auto doing = QStringLiteral("接続の初期化");
    switch (status) {
        case IoStatus::interrupted:
            return fatal(localized("カメラとの接続を閉じました。"), doing);
        case IoStatus::timedOut:
            return failure(localized("カメラが接続の初期化に応答しませんでした。カメラの電源を入れ"
                                     "直してから、もう一度接続してください。"),
                           doing + QStringLiteral(": 時間切れ"));
        case IoStatus::closed:
            return failure(localized("カメラが接続を切りました。カメラの電源を入れ直してから、もう"
                                     "一度接続してください。"),
                           doing + QStringLiteral(": 相手が接続を閉じました"));
        case IoStatus::failed:
            return failure(localized("カメラが接続を切りました。カメラの電源を入れ直してから、もう"
                                     "一度接続してください。"),
                           doing + QStringLiteral(": ") + systemText(connection.lastError()));
        case IoStatus::malformed:
        case IoStatus::rung:
        case IoStatus::ok:
            break;
    }
    return failure(
        localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
        doing + QStringLiteral(": 不正なパケット"));
}

Result<PtpIpLink::Handshake, TransportError> PtpIpLink::handshake(
    const std::vector<Endpoint>& endpoints, const Packet& init) {
    const auto connectDeadline = deadlineAfter(options_.connectTimeout);
    int lastError = ECONNREFUSED;
    for (const auto& endpoint : endpoints) {
        std::unique_ptr<PtpIpConnection> connection;
        if (options_.dial) {
            const int fd = options_.dial(endpoint);
            if (fd < 0) continue;
            connection = std::make_unique<PtpIpConnection>(fd, wake_, options_.bufferCapacity);
        } else {
            auto opened =
                PtpIpConnection::open(endpoint, wake_, connectDeadline, options_.bufferCapacity);
            if (!opened) {
                lastError = opened.error();
                if (lastError == EINTR || lastError == ETIMEDOUT) break;
                continue;
            }
            connection = std::make_unique<PtpIpConnection>(std::move(opened).value());
        }
        const auto deadline = deadlineAfter(options_.initTimeout);
        auto status = connection->send(encode(init), deadline);
        Header header;
        if (status == IoStatus::ok) status = connection->peekHeader(header, deadline);
        if (status == IoStatus::ok && header.isData()) status = IoStatus::malformed;
        Bytes bytes;
        if (status == IoStatus::ok) status = connection->takePacket(bytes, deadline);
        if (status != IoStatus::ok) return handshakeFailure(status, *connection);
        const auto reply = parse(bytes);
        if (!reply)
            return failure(
                localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
                QStringLiteral("接続の初期化: ") + typeText(header.type));
        if (const auto* fail = std::get_if<InitFail>(&*reply))
            return failure(initFailMessage(fail->reason),
                           QStringLiteral("Init Fail %1").arg(fail->reason));
        return Handshake{std::move(connection), *reply, endpoint};
    }
    const auto seconds = QString::number(options_.connectTimeout.count() / 1000.0);
    switch (lastError) {
        case EINTR:
            return fatal(localized("カメラとの接続を閉じました。"), QStringLiteral("接続中に中断"));
        case ETIMEDOUT:
            return failure(
                localized("カメラ（%1）に %2 秒以内に接続できませんでした。カメラの電源と Wi-Fi "
                          "の設定、アドレスを確かめてください。")
                    .arg(peer(), seconds),
                systemText(lastError));
        case ECONNREFUSED:
            return failure(
                localized("カメラ（%1）が接続を受け付けませんでした。カメラの Wi-Fi "
                          "接続（PTP/IP）が有効か、アドレスとポートが正しいか確かめてください。")
                    .arg(peer()),
                systemText(lastError));
        case ENETUNREACH:
        case EHOSTUNREACH:
            return failure(localized("カメラ（%"
                                     "1）に届きません。コンピュータとカメラが同じネットワークにつな"
                                     "がっているか確かめてください。")
                               .arg(peer()),
                           systemText(lastError));
        default:
            return failure(localized("カメラ（%1）に接続できませんでした。").arg(peer()),
                           systemText(lastError));
    }
}

Result<Done, TransportError> PtpIpLink::open() {
    const auto endpoints = resolve(options_.host, options_.port);
    if (!endpoints)
        return failure(
            localized("カメラのアドレス「%1」が見つかりません。アドレスを確かめてください。")
                .arg(QString::fromStdString(options_.host)),
            QString::fromStdString(endpoints.error()));

    auto command =
        handshake(endpoints.value(),
                  InitCommandRequest{options_.guid, options_.friendlyName, protocolVersion});
    if (!command) return command.error();
    const auto* ack = std::get_if<InitCommandAck>(&command.value().reply);
    if (!ack)
        return failure(
            localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
            QStringLiteral("Init Command Ack の代わりに ") +
                typeText(static_cast<std::uint32_t>(typeOf(command.value().reply))));

    // The event connection goes to the very address that took the command connection.
    auto events = handshake({command.value().endpoint}, InitEventRequest{ack->connectionNumber});
    if (!events) return events.error();
    if (!std::holds_alternative<InitEventAck>(events.value().reply))
        return failure(
            localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
            QStringLiteral("Init Event Ack の代わりに ") +
                typeText(static_cast<std::uint32_t>(typeOf(events.value().reply))));

    std::lock_guard lock(mutex_);
    // interrupt() meanwhile found no connection to shut.
    if (auto error = ended()) return *error;
    camera_ = *ack;
    command_ = std::move(command.value().connection);
    events_ = std::move(events.value().connection);
    events_->setDoorbell(&bell_);
    log(QStringLiteral("PTP/IP %1: 「%2」に接続しました").arg(peer(), camera_->name));
    return Done{};
}

Result<Response, TransportError> PtpIpLink::exchange(const Operation& operation,
                                                     std::optional<ByteView> outData,
                                                     DataSink& sink) {
    PtpIpConnection* connection = nullptr;
    {
        std::lock_guard lock(mutex_);
        connection = command_.get();
    }
    const auto op = QStringLiteral("0x%1").arg(operation.code, 4, 16, QLatin1Char('0'));

    const auto tid = operation.transactionId;
    const OperationRequest request{outData ? DataPhase::out : DataPhase::noneOrIn, operation};
    if (const auto status = connection->send(encode(request), std::nullopt); status != IoStatus::ok)
        return ioFailure(status, *connection, op + QStringLiteral(" の送信"));
    if (outData) {
        const auto start = encode(StartData{tid, outData->size()});
        auto status = connection->send(start, std::nullopt);
        std::size_t offset = 0;
        // End Data carries the last piece (and alone ends an empty data phase).
        while (status == IoStatus::ok) {
            const auto piece =
                outData->subspan(offset, std::min(outChunk, outData->size() - offset));
            offset += piece.size();
            const bool last = offset == outData->size();
            const auto head =
                dataHeader(last ? PacketType::endData : PacketType::data, tid, piece.size());
            status = connection->send(*head, piece, std::nullopt);
            if (last) break;
        }
        if (status != IoStatus::ok)
            return ioFailure(status, *connection, op + QStringLiteral(" のデータ送信"));
    }

    bool started = false;
    bool ended = false;
    bool refused = false;
    bool overrun = false;
    bool cancelled = false;
    std::optional<std::uint64_t> total;
    std::uint64_t received = 0;
    const auto begin = [&](std::optional<std::uint64_t> announced) {
        started = true;
        total = announced;
        refused = !sink.begin(announced);
    };
    const auto deliver = [&](ByteView piece) {
        received += piece.size();
        if (total && received > *total) overrun = true;
        if (!refused && !overrun && !sink.write(piece)) refused = true;
    };

    for (;;) {
        const auto doing = op + QStringLiteral(" の応答待ち");
        Header header;
        if (const auto status = connection->peekHeader(header, std::nullopt);
            status != IoStatus::ok)
            return ioFailure(status, *connection, doing);
        if (header.isData()) {
            if (ended)
                return fatal(
                    localized(
                        "カメラから解釈できないデータが届きました。もう一度接続してください。"),
                    op + QStringLiteral(": End Data の後にデータ"));
            // Some Nikon bodies put the whole payload into End Data; a few skip Start Data.
            if (!started) begin(std::nullopt);
            std::uint32_t packetTid = 0;
            if (const auto status = connection->takeData(header, packetTid, deliver, std::nullopt);
                status != IoStatus::ok)
                return ioFailure(status, *connection, op + QStringLiteral(" のデータ受信"));
            ended = header.type == static_cast<std::uint32_t>(PacketType::endData);
            continue;
        }
        Bytes bytes;
        if (const auto status = connection->takePacket(bytes, std::nullopt); status != IoStatus::ok)
            return ioFailure(status, *connection, doing);
        const auto packet = parse(bytes);
        if (!packet) {
            if (header.type >= 1 && header.type <= 14)
                return fatal(
                    localized(
                        "カメラから解釈できないデータが届きました。もう一度接続してください。"),
                    op + QStringLiteral(": 壊れたパケット ") + typeText(header.type));
            log(QStringLiteral("PTP/IP %1: 知らないパケット（%2）を読み飛ばしました")
                    .arg(peer(), typeText(header.type)));
            continue;
        }
        if (const auto* startData = std::get_if<StartData>(&*packet)) {
            if (started)
                return fatal(
                    localized(
                        "カメラから解釈できないデータが届きました。もう一度接続してください。"),
                    op + QStringLiteral(": 二度目の Start Data"));
            begin(startData->total == unknownTotal
                      ? std::nullopt
                      : std::optional<std::uint64_t>(startData->total));
        } else if (const auto* answer = std::get_if<OperationResponse>(&*packet)) {
            const bool ok = answer->response.code == PTP::Response::ok;
            if (refused)
                return failure(
                    localized("カメラからのデータの受け取りを中止しました。"),
                    op + QStringLiteral(": 受け取り側が %1 バイト目で止めました").arg(received));
            if (overrun && ok)
                return failure(
                    localized("カメラから届いたデータが予告より長く、壊れている可能性があります。"),
                    op + QStringLiteral(": %1 バイトの予告に %2 バイト").arg(*total).arg(received));
            if ((cancelled || (total && received < *total)) && ok)
                return failure(localized("カメラからのデータが途中で終わりました。"),
                               op + QStringLiteral(": %1 バイトのうち %2 バイト")
                                        .arg(total ? QString::number(*total) : QStringLiteral("?"))
                                        .arg(received));
            return answer->response;
        } else if (std::holds_alternative<ProbeRequest>(*packet)) {
            if (const auto status = connection->send(encode(ProbeResponse{}), std::nullopt);
                status != IoStatus::ok)
                return ioFailure(status, *connection, QStringLiteral("Probe への応答"));
        } else if (const auto* event = std::get_if<Event>(&*packet)) {
            std::lock_guard lock(mutex_);
            strayEvents_.push_back(eventContainer(*event));
        } else if (std::holds_alternative<Cancel>(*packet)) {
            // The camera gave up the data phase; its response follows.
            cancelled = true;
        } else if (!std::holds_alternative<ProbeResponse>(*packet)) {
            return fatal(
                localized("カメラから解釈できないデータが届きました。もう一度接続してください。"),
                op + QStringLiteral(": 思いがけないパケット ") + typeText(header.type));
        }
    }
}

Result<std::optional<Bytes>, TransportError> PtpIpLink::nextEvent(
    std::chrono::milliseconds timeout) {
    const auto deadline = deadlineAfter(timeout);
    PtpIpConnection* connection = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!strayEvents_.empty()) {
            auto event = std::move(strayEvents_.front());
            strayEvents_.pop_front();
            return std::optional<Bytes>(std::move(event));
        }
        connection = events_.get();
    }
    const auto doing = QStringLiteral("イベント待ち");
    for (;;) {
        if (probeWanted_.exchange(false)) {
            const auto status =
                connection->send(encode(ProbeRequest{}), deadlineAfter(probeAnswerTimeout));
            if (status != IoStatus::ok)
                return ioFailure(status, *connection, QStringLiteral("Probe の送信"));
        }
        Header header;
        Bytes bytes;
        auto status = connection->peekHeader(header, deadline);
        if (status == IoStatus::ok && header.isData()) status = IoStatus::malformed;
        if (status == IoStatus::ok) status = connection->takePacket(bytes, deadline);
        if (status == IoStatus::rung) {
            bell_.clear();
            continue;
        }
        // A packet cut by the deadline stays buffered for the next call.
        if (status == IoStatus::timedOut) return std::optional<Bytes>();
        if (status != IoStatus::ok) return ioFailure(status, *connection, doing);
        const auto packet = parse(bytes);
        if (!packet) {
            log(QStringLiteral("PTP/IP %1: イベント接続で知らないパケット（%2）を読み飛ばしました")
                    .arg(peer(), typeText(header.type)));
            continue;
        }
        if (const auto* event = std::get_if<Event>(&*packet))
            return std::optional<Bytes>(eventContainer(*event));
        if (std::holds_alternative<ProbeRequest>(*packet)) {
            status = connection->send(encode(ProbeResponse{}), deadlineAfter(probeAnswerTimeout));
            if (status != IoStatus::ok)
                return ioFailure(status, *connection, QStringLiteral("Probe への応答"));
        }
        // Probe Responses and Cancel carry nothing for the event stream.
    }
}

void PtpIpLink::probe() {
    probeWanted_ = true;
    bell_.ring();
}

void PtpIpLink::close(bool first) {
    if (first) log(QStringLiteral("PTP/IP %1: 接続を閉じました").arg(peer()));
    shutDown();
}

PtpIpTransport::PtpIpTransport(Options options, LogFn log)
    : LinkTransport(std::make_unique<PtpIpLink>(options, std::move(log)), options.ioTimeout) {}

PtpIpTransport::~PtpIpTransport() = default;

const std::optional<InitCommandAck>& PtpIpTransport::camera() const {
    return static_cast<const PtpIpLink&>(link()).camera();
}

}  // namespace pexil::camera
