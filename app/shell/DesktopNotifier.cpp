#include "app/shell/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace pexil::shell {

const QString DesktopNotifier::service = QStringLiteral("org.freedesktop.Notifications");
const QString DesktopNotifier::path = QStringLiteral("/org/freedesktop/Notifications");

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifier::show(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    // The icon by the desktop file's name, so the notification carries Pexil's own; the
    // desktop-entry hint lets the desktop group it with the application.
    call << QStringLiteral("Pexil") << shown_ << QStringLiteral("app.pexil.Pexil") << summary << body
         << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("app.pexil.Pexil")},
                                         {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}}
         << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (!reply.isError()) shown_ = reply.value();
        finished->deleteLater();
    });
}

void DesktopNotifier::withdraw() {
    if (shown_ == 0 || !bus_.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("CloseNotification"));
    call << shown_;
    shown_ = 0;
    bus_.asyncCall(call);
}

}  // namespace pexil::shell
