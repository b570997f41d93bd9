#include "app/clientview/ClientView.h"

#include "app/clientview/ClientShots.h"
#include "app/clientview/ClientViewServer.h"

#include <QNetworkInterface>

namespace pexil {

ClientView::ClientView(async::Runtime& runtime, ShotsModel& shots, QObject* parent)
    : QObject(parent), runtime_(runtime), shots_(shots) {}

ClientView::~ClientView() {
    log_ = nullptr;
    server_.reset();
    published_.reset();
}

Result<QUrl, QString> ClientView::start(const QHostAddress& address, quint16 port) {
    stop();
    published_ = std::make_unique<ClientShots>(runtime_, previews_, shots_);
    server_ = std::make_unique<ClientViewServer>(*published_);
    server_->setAllowDownloads(downloads_);
    server_->setTitle(title_);
    server_->setLimits(limits_);
    server_->setLog([this](const QString& line) {
        if (log_) log_(line);
    });
    connect(server_.get(), &ClientViewServer::watchersChanged, this, &ClientView::watchersChanged);
    connect(published_.get(), &ClientShots::noteChanged, this, &ClientView::noteChanged);
    auto started = server_->start(address, port);
    if (!started) {
        server_.reset();
        published_.reset();
    }
    emit runningChanged();
    emit watchersChanged();
    return started;
}

void ClientView::stop() {
    if (!server_) return;
    server_->stop();
    server_.reset();
    published_.reset();
    emit runningChanged();
    emit watchersChanged();
}

bool ClientView::running() const {
    return server_ && server_->running();
}

QUrl ClientView::url() const {
    return server_ ? server_->url() : QUrl();
}

QStringList ClientView::watchers() const {
    return server_ ? server_->watchers() : QStringList();
}

void ClientView::setAllowDownloads(bool allow) {
    downloads_ = allow;
    if (server_) server_->setAllowDownloads(allow);
}

void ClientView::setLimits(const ClientViewServer::Limits& limits) {
    limits_ = limits;
    if (server_) server_->setLimits(limits);
}

void ClientView::setTitle(const QString& title) {
    title_ = title;
    if (server_) server_->setTitle(title);
}

QList<QHostAddress> ClientView::addresses() {
    QList<QHostAddress> out;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) out << entry.ip();
    }
    out << QHostAddress(QHostAddress::LocalHost);
    return out;
}

}  // namespace pexil
