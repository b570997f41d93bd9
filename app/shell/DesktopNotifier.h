#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace pexil::shell {

// Notifications through the desktop's notification service (org.freedesktop.Notifications on
// the session bus). Calls never wait: without a service nothing is shown and nothing stops.
// One notification at a time: a new one replaces the last, and withdraw() takes it away.
class DesktopNotifier final : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    void show(const QString& summary, const QString& body);
    // Takes the last notification away, if the service ever showed it.
    void withdraw();
    // The bus's connection for the tests' private bus.
    void setBus(const QDBusConnection& bus) { bus_ = bus; }

    static const QString service;
    static const QString path;

private:
    QDBusConnection bus_;
    uint shown_ = 0;  // the service's id of the notification shown, 0 for none
};

}  // namespace pexil::shell
