#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace pexil {

// Announces one TCP service on the local network by DNS service discovery, through the
// Avahi daemon (D-Bus system bus), so that the phone finds this computer by name.
//
// Threads: the object lives on the main thread; Avahi's own thread talks to the daemon
// (connecting may block on D-Bus for many seconds, which the main thread never waits for)
// and posts every outcome back, so status(), the log lines and statusChanged() are only
// ever seen on the main thread.
//
// Failures never reach the caller: the service simply is not announced, and the log says
// why, once per change (a machine without a running Avahi daemon gets one line and keeps
// running; should the daemon start later, the service is announced then). A name already
// taken on the network is replaced by Avahi's alternative ("Name #2") and logged.
class ServiceAdvertiser final : public QObject {
    Q_OBJECT
public:
    enum class Status {
        idle,         // publish() not called yet
        connecting,   // talking to the daemon, or announcing and waiting for confirmation
        unavailable,  // no daemon (or no system bus); waiting for one to appear
        published,    // the network has accepted the name: publishedName()
        failed,       // the daemon refused; nothing is retried
    };

    using LogSink = std::function<void(const QString&)>;

    // `type` as DNS-SD writes it, e.g. "_pexil._tcp".
    ServiceAdvertiser(QString type, LogSink log, QObject* parent = nullptr);
    // Withdraws the announcement and stops Avahi's thread before returning.
    ~ServiceAdvertiser() override;
    Q_DISABLE_COPY_MOVE(ServiceAdvertiser)

    // Starts announcing `name` (cut to the 63 bytes a DNS-SD label holds) for `port` on
    // every interface, in the default domain, without TXT record. Only the first call
    // counts. Returns at once.
    void publish(const QString& name, quint16 port);

    Status status() const { return status_; }
    // The name the network knows the service by (an alternative after a clash); empty
    // until published.
    QString publishedName() const { return publishedName_; }

signals:
    void statusChanged(pexil::ServiceAdvertiser::Status status);

private:
    class Avahi;
    // Called (queued) from Avahi's thread.
    void report(Status status, const QString& name, const QString& detail);
    void renamed(const QString& before, const QString& after);

    QString type_;
    LogSink log_;
    quint16 port_ = 0;
    Status status_ = Status::idle;
    QString publishedName_;
    std::unique_ptr<Avahi> avahi_;
};

}  // namespace pexil
