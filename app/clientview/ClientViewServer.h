#pragma once

#include "app/clientview/ClientRoute.h"
#include "kit/ptp/Result.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace pexil {

class ClientShots;

// The client view: a small web server that shows the session's shots, live, to browsers on
// the local network (the art director's tablet). Off until start(); each start makes a new
// random access token that every request and the live socket must carry (401 otherwise).
//
// Every connection is judged by its request head before Qt's HTTP server or WebSocket server
// sees a byte of it (routeClient): the token, the route, the method, the body's size. So no
// path from a request reaches the file system (pictures are named by the ids ClientShots
// gave), a body over a few kilobytes is refused before it is read, and a connection serves
// one request and is closed. Limits: connections open at once, live watchers, requests per
// second from one address, and the time to send a request. Refused clients are answered why,
// except in a flood: beyond four times the connection limit, connections are closed unanswered.
//
// Read-only but for a favourite and a short comment per shot. Main thread only.
class ClientViewServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClientViewServer)

public:
    struct Limits {
        int connections = 64;        // open at once, watchers included; beyond: 503
        int watchers = 32;           // live sockets; beyond: 503
        int requestsPerSecond = 20;  // from one address, on average...
        int burst = 80;              // ...after a first burst; beyond: 429
        std::chrono::milliseconds requestTime{10000};  // to send one request, head and body
    };

    explicit ClientViewServer(ClientShots& shots, QObject* parent = nullptr);
    ~ClientViewServer() override;

    // Serves on one interface's address (never on all of them: the unspecified addresses are
    // refused) and `port` (0: a free one). The view's URL with its token, or why not, in the
    // program's words.
    Result<QUrl, QString> start(const QHostAddress& address, quint16 port);
    // Ends the view at once: watchers are told and every connection is closed.
    void stop();
    bool running() const { return http_ != nullptr; }
    QUrl url() const { return url_; }

    // Whether clients may download the original files (off by default).
    void setAllowDownloads(bool allow) { downloads_ = allow; }
    void setTitle(const QString& title) { title_ = title; }
    void setLimits(const Limits& limits) { limits_ = limits; }
    // One line per client that starts watching, and per view started or ended.
    void setLog(std::function<void(const QString&)> log) { log_ = std::move(log); }

    // The addresses of the clients watching live, one per socket, in the order they came.
    QStringList watchers() const;

signals:
    void watchersChanged();
    void runningChanged();

private:
    class Gate;
    friend class Gate;

    void accept(qintptr descriptor);
    void judge(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, int status);
    void handToHttp(QTcpSocket* socket);
    void handToLive(QTcpSocket* socket);
    void watch(std::unique_ptr<QWebSocket> socket);
    bool allowRequest(const QHostAddress& from);
    void broadcast(const QByteArray& message);
    void routes();
    QHttpServerResponse answer(const ClientRequest& request, const QHttpServerRequest& http);
    bool carriesToken(const QHttpServerRequest& http) const;
    void write(const QString& line) const;

    ClientShots& shots_;
    std::unique_ptr<QHttpServer> http_;
    std::unique_ptr<QWebSocketServer> live_;
    Gate* gate_ = nullptr;  // owned by http_
    QByteArray token_;
    QUrl url_;
    QString title_;
    bool downloads_ = false;
    Limits limits_;
    std::function<void(const QString&)> log_;
    int open_ = 0;                       // connections open, watchers included
    std::set<QTcpSocket*> judging_;      // connections whose request is not judged yet
    std::vector<QWebSocket*> watchers_;  // owned (parented) by this
    struct Bucket {
        double tokens = 0;
        std::chrono::steady_clock::time_point at;
    };
    std::map<QString, Bucket> buckets_;  // requests allowed per address
};

}  // namespace pexil
