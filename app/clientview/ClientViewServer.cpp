#include "app/clientview/ClientViewServer.h"

#include "app/clientview/ClientShots.h"
#include "app/clientview/HttpHead.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace pexil {

namespace {

// How long a refused client may go on sending before its connection is cut.
constexpr std::chrono::milliseconds lingerTime{2000};
// How many times the connection limit may be open, refusals lingering included.
constexpr int floodFactor = 4;

using Kind = ClientRequest::Kind;
using Status = QHttpServerResponder::StatusCode;

// 32 random bytes from the system's generator, URL-safe: what a guess would have to hit.
QByteArray newToken() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray reason(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

QByteArray pageFile(const QString& name) {
    QFile file(QStringLiteral(":/clientview/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray messageOf(const char* type, const ClientShots::Entry* shot) {
    QJsonObject message;
    message.insert(QStringLiteral("type"), QString::fromLatin1(type));
    if (shot) message.insert(QStringLiteral("shot"), ClientShots::toJson(*shot));
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

}  // namespace

// Takes connections for the view and gives them to it to judge first; Qt's HTTP server is
// given a connection only once its request has passed.
class ClientViewServer::Gate final : public QTcpServer {
public:
    explicit Gate(ClientViewServer& view) : view_(view) {}
    // A judged connection, for Qt's HTTP server, which takes pending connections as they are
    // announced.
    void pass(QTcpSocket* socket) {
        addPendingConnection(socket);
        emit newConnection();
    }

protected:
    void incomingConnection(qintptr descriptor) override { view_.accept(descriptor); }

private:
    ClientViewServer& view_;
};

ClientViewServer::ClientViewServer(ClientShots& shots, QObject* parent)
    : QObject(parent), shots_(shots) {
    connect(&shots_, &ClientShots::published, this,
            [this](const QString& id) { broadcast(messageOf("shot", shots_.find(id))); });
    connect(&shots_, &ClientShots::changed, this,
            [this](const QString& id) { broadcast(messageOf("update", shots_.find(id))); });
}

ClientViewServer::~ClientViewServer() {
    log_ = nullptr;  // whoever logs may be going too
    stop();
}

Result<QUrl, QString> ClientViewServer::start(const QHostAddress& address, quint16 port) {
    stop();
    if (address.isNull() || address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
        address == QHostAddress::AnyIPv6)
        return QString::fromUtf8(
            "クライアントビューを開くネットワークのアドレスを選んでください。");
    auto http = std::make_unique<QHttpServer>();
    auto gate = std::make_unique<Gate>(*this);
    if (!gate->listen(address, port))
        return QString::fromUtf8("クライアントビューを %1 で開けません（%2）。")
            .arg(address.toString(), gate->errorString());
    gate_ = gate.get();
    http->bind(gate.release());  // the HTTP server owns it from here
    http_ = std::move(http);
    live_ = std::make_unique<QWebSocketServer>(QStringLiteral("Pexil"),
                                               QWebSocketServer::NonSecureMode);
    connect(live_.get(), &QWebSocketServer::newConnection, this, [this] {
        while (live_ && live_->hasPendingConnections())
            watch(std::unique_ptr<QWebSocket>(live_->nextPendingConnection()));
    });
    routes();
    token_ = newToken();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(address.toString());
    url.setPort(gate_->serverPort());
    url.setPath(QStringLiteral("/"));
    url.setQuery(QStringLiteral("t=") + QString::fromLatin1(token_));
    url_ = url;
    write(QString::fromUtf8("クライアントビューを開きました: %1:%2")
              .arg(address.toString())
              .arg(gate_->serverPort()));
    emit runningChanged();
    return url_;
}

void ClientViewServer::stop() {
    if (!http_) return;
    const QByteArray bye = messageOf("bye", nullptr);
    for (QWebSocket* socket : std::exchange(watchers_, {})) {
        socket->sendTextMessage(QString::fromUtf8(bye));
        socket->flush();
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        socket->deleteLater();
    }
    for (QTcpSocket* socket : std::exchange(judging_, {})) socket->abort();
    live_.reset();
    http_.reset();  // closes the listening socket and what Qt's server holds
    gate_ = nullptr;
    token_.clear();
    url_.clear();
    buckets_.clear();
    write(QString::fromUtf8("クライアントビューを終了しました"));
    emit watchersChanged();
    emit runningChanged();
}

QStringList ClientViewServer::watchers() const {
    QStringList out;
    for (const QWebSocket* socket : watchers_) out << socket->peerAddress().toString();
    return out;
}

void ClientViewServer::accept(qintptr descriptor) {
    // A refusal keeps its connection open for a while (see refuse()); in a flood that would
    // take every descriptor, and the downloads need them. Far beyond the limit a connection
    // is closed unanswered.
    if (open_ >= limits_.connections * floodFactor) {
        ::close(static_cast<int>(descriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Nothing of a request is read beyond what judging it needs.
    socket->setReadBufferSize(HttpHead::maxBytes + maxClientBody);
    ++open_;
    connect(socket, &QObject::destroyed, this, [this] { --open_; });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (open_ > limits_.connections) {
        refuse(socket, 503);
        return;
    }
    judging_.insert(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { judge(socket); });
    // A client that sends its request slowly, or never, does not keep a connection.
    QTimer::singleShot(limits_.requestTime, socket, [this, socket] {
        if (judging_.contains(socket)) refuse(socket, 408);
    });
}

void ClientViewServer::judge(QTcpSocket* socket) {
    if (!judging_.contains(socket)) return;
    // Peeked, not read: the servers it is handed to read the request from its start.
    const QByteArray seen = socket->peek(HttpHead::maxBytes + maxClientBody);
    const auto head = HttpHead::parse(seen);
    if (!head) {
        if (head.error() == HttpHead::Problem::incomplete) return;
        refuse(socket, head.error() == HttpHead::Problem::tooLarge ? 431 : 400);
        return;
    }
    const ClientRoute route = routeClient(head.value(), token_);
    if (const auto* refusal = std::get_if<ClientRefusal>(&route)) {
        refuse(socket, refusal->status);
        return;
    }
    if (seen.size() < head.value().size + head.value().contentLength().value_or(0)) return;
    if (!allowRequest(socket->peerAddress())) {
        refuse(socket, 429);
        return;
    }
    judging_.erase(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    if (std::get<ClientRequest>(route).kind == Kind::live)
        handToLive(socket);
    else
        handToHttp(socket);
}

void ClientViewServer::refuse(QTcpSocket* socket, int status) {
    judging_.erase(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) +
                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->flush();
    // Closed for writing only, and what the client still sends is read and dropped for a
    // while: closing with unread bytes would reset the connection, and a browser still
    // sending a large body would lose the answer that says why.
    ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    connect(socket, &QTcpSocket::readyRead, socket,
            [socket] { socket->skip(socket->bytesAvailable()); });
    QTimer::singleShot(lingerTime, socket, [socket] { socket->abort(); });
}

void ClientViewServer::handToHttp(QTcpSocket* socket) {
    gate_->pass(socket);
    // Qt's server reads on readyRead only; the request is already here. It answers at once
    // (every answer is ready in memory), and the connection ends with that one answer, so a
    // second request on it could not pass around the judgement.
    emit socket->readyRead();
    socket->disconnectFromHost();
}

void ClientViewServer::handToLive(QTcpSocket* socket) {
    if (static_cast<int>(watchers_.size()) >= limits_.watchers) {
        refuse(socket, 503);
        return;
    }
    // The WebSocket keeps the connection, so it takes its reading limit off.
    socket->setReadBufferSize(0);
    live_->handleConnection(socket);
    emit socket->readyRead();
}

void ClientViewServer::watch(std::unique_ptr<QWebSocket> owned) {
    QWebSocket* socket = owned.release();
    socket->setParent(this);
    watchers_.push_back(socket);
    // A client sends nothing: a large message is not read into memory.
    socket->setMaxAllowedIncomingMessageSize(1024);
    socket->setMaxAllowedIncomingFrameSize(1024);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        const auto it = std::find(watchers_.begin(), watchers_.end(), socket);
        if (it == watchers_.end()) return;
        watchers_.erase(it);
        socket->deleteLater();
        emit watchersChanged();
    });
    write(QString::fromUtf8("クライアントビュー: %1 が見ています")
              .arg(socket->peerAddress().toString()));
    emit watchersChanged();
}

bool ClientViewServer::allowRequest(const QHostAddress& from) {
    const auto now = std::chrono::steady_clock::now();
    auto [it, fresh] = buckets_.try_emplace(from.toString());
    Bucket& bucket = it->second;
    if (fresh) {
        bucket.tokens = limits_.burst;
    } else {
        const double seconds = std::chrono::duration<double>(now - bucket.at).count();
        bucket.tokens =
            std::min<double>(limits_.burst, bucket.tokens + seconds * limits_.requestsPerSecond);
    }
    bucket.at = now;
    if (bucket.tokens < 1) return false;
    bucket.tokens -= 1;
    return true;
}

void ClientViewServer::broadcast(const QByteArray& message) {
    const QString text = QString::fromUtf8(message);
    for (QWebSocket* socket : watchers_) socket->sendTextMessage(text);
}

bool ClientViewServer::carriesToken(const QHttpServerRequest& http) const {
    // Judged at the gate already; asked again so that no route answers without it.
    return !token_.isEmpty() &&
           http.query().queryItemValue(QStringLiteral("t")).toLatin1() == token_;
}

void ClientViewServer::routes() {
    using Method = QHttpServerRequest::Method;
    const auto on = [this](Kind kind) {
        return [this, kind](const QHttpServerRequest& http) {
            return answer(ClientRequest{kind, {}}, http);
        };
    };
    const auto onShot = [this](Kind kind) {
        return [this, kind](const QString& id, const QHttpServerRequest& http) {
            return answer(ClientRequest{kind, id}, http);
        };
    };
    http_->route(QStringLiteral("/"), Method::Get, on(Kind::page));
    http_->route(QStringLiteral("/client.js"), Method::Get, on(Kind::script));
    http_->route(QStringLiteral("/client.css"), Method::Get, on(Kind::style));
    http_->route(QStringLiteral("/api/shots"), Method::Get, on(Kind::shots));
    http_->route(QStringLiteral("/api/preview/<arg>"), Method::Get, onShot(Kind::preview));
    http_->route(QStringLiteral("/api/original/<arg>"), Method::Get, onShot(Kind::original));
    http_->route(QStringLiteral("/api/favourite/<arg>"), Method::Post, onShot(Kind::favourite));
    http_->route(QStringLiteral("/api/comment/<arg>"), Method::Post, onShot(Kind::comment));
    http_->afterRequest([](QHttpServerResponse&& response) {
        // The token is in the URL: no other site may learn it from a referrer.
        response.setHeader("Referrer-Policy", "no-referrer");
        response.setHeader("X-Content-Type-Options", "nosniff");
        response.setHeader("Cache-Control", "no-store");
        response.setHeader("Connection", "close");
        return std::move(response);
    });
}

QHttpServerResponse ClientViewServer::answer(const ClientRequest& request,
                                             const QHttpServerRequest& http) {
    if (!carriesToken(http)) return QHttpServerResponse(Status::Unauthorized);
    switch (request.kind) {
        case Kind::page: {
            QByteArray page = pageFile(QStringLiteral("index.html"));
            page.replace("%TOKEN%", token_);
            QHttpServerResponse response("text/html; charset=utf-8", page);
            response.setHeader(
                "Content-Security-Policy",
                "default-src 'self'; img-src 'self' data:; connect-src 'self' ws: wss:; "
                "style-src 'self'; script-src 'self'");
            return response;
        }
        case Kind::script:
            return QHttpServerResponse("text/javascript; charset=utf-8",
                                       pageFile(QStringLiteral("client.js")));
        case Kind::style:
            return QHttpServerResponse("text/css; charset=utf-8",
                                       pageFile(QStringLiteral("client.css")));
        case Kind::shots: {
            QJsonArray list;
            for (const auto& shot : shots_.list()) list.append(ClientShots::toJson(shot));
            QJsonObject out;
            out.insert(QStringLiteral("title"), title_);
            out.insert(QStringLiteral("downloads"), downloads_);
            out.insert(QStringLiteral("shots"), list);
            return QHttpServerResponse(out);
        }
        case Kind::preview: {
            auto jpeg = shots_.preview(request.id);
            if (!jpeg) return QHttpServerResponse(Status::NotFound);
            return QHttpServerResponse("image/jpeg", std::move(*jpeg));
        }
        case Kind::original: {
            const ClientShots::Entry* shot = shots_.find(request.id);
            if (!downloads_ || !shot) return QHttpServerResponse(Status::NotFound);
            QHttpServerResponse response = QHttpServerResponse::fromFile(shot->path);
            response.setHeader("Content-Disposition", "attachment; filename*=UTF-8''" +
                                                          QUrl::toPercentEncoding(shot->name));
            return response;
        }
        case Kind::favourite:
        case Kind::comment: {
            const QJsonDocument body = QJsonDocument::fromJson(http.body());
            const QString key = request.kind == Kind::favourite ? QStringLiteral("favourite")
                                                                : QStringLiteral("comment");
            const QJsonValue value = body.object().value(key);
            if (!body.isObject() ||
                (request.kind == Kind::favourite ? !value.isBool() : !value.isString()))
                return QHttpServerResponse(Status::BadRequest);
            if (!shots_.find(request.id)) return QHttpServerResponse(Status::NotFound);
            const bool taken = request.kind == Kind::favourite
                                   ? shots_.setFavourite(request.id, value.toBool())
                                   : shots_.setComment(request.id, value.toString());
            return QHttpServerResponse(taken ? Status::NoContent : Status::BadRequest);
        }
        case Kind::live:
            break;
    }
    return QHttpServerResponse(Status::NotFound);
}

void ClientViewServer::write(const QString& line) const {
    if (log_) log_(line);
}

}  // namespace pexil
