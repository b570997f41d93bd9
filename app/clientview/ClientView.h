#pragma once

#include "app/clientview/ClientViewServer.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/Result.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>

namespace pexil {

namespace async {
class Runtime;
}

class ClientShots;
class ShotsModel;

// The client view as the window and pexilctl turn it on and off. While it is on it shows the
// session's shots (those of the filmstrip, and each new one); off, it holds nothing, makes no
// preview and listens on no port. Main thread only.
class ClientView final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClientView)

public:
    ClientView(async::Runtime& runtime, ShotsModel& shots, QObject* parent = nullptr);
    ~ClientView() override;

    // See ClientViewServer::start(): the URL with its new token, or why not.
    Result<QUrl, QString> start(const QHostAddress& address, quint16 port);
    void stop();
    bool running() const;
    QUrl url() const;
    QStringList watchers() const;

    // Kept across starts.
    void setAllowDownloads(bool allow);
    void setTitle(const QString& title);
    void setLimits(const ClientViewServer::Limits& limits);
    void setLog(std::function<void(const QString&)> log) { log_ = std::move(log); }

    // The addresses worth offering: this computer's IPv4 addresses on interfaces that are up,
    // not loopback, first; the loopback address last.
    static QList<QHostAddress> addresses();

signals:
    void runningChanged();
    void watchersChanged();
    // A client's favourite and comment for a shot of the filmstrip.
    void noteChanged(const QUuid& shot, bool favourite, const QString& comment);

private:
    async::Runtime& runtime_;
    ShotsModel& shots_;
    async::WorkQueue previews_{QStringLiteral("app.pexil.clientview.previews")};
    std::unique_ptr<ClientShots> published_;
    std::unique_ptr<ClientViewServer> server_;
    bool downloads_ = false;
    QString title_;
    ClientViewServer::Limits limits_;
    std::function<void(const QString&)> log_;
};

}  // namespace pexil
