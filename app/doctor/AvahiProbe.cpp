#include "app/doctor/AvahiProbe.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <QFileInfo>

#include <memory>

namespace pexil {

namespace {

struct PollFree {
    void operator()(AvahiSimplePoll* poll) const { avahi_simple_poll_free(poll); }
};
struct ClientFree {
    void operator()(AvahiClient* client) const { avahi_client_free(client); }
};

}  // namespace

DoctorFinding AvahiProbe::examine() {
    const QString topic = QStringLiteral("avahi");
    const std::unique_ptr<AvahiSimplePoll, PollFree> poll(avahi_simple_poll_new());
    if (!poll)
        return DoctorFinding::warn(topic, QStringLiteral("Avahi のクライアントを用意できない"));
    int error = 0;
    const std::unique_ptr<AvahiClient, ClientFree> client(avahi_client_new(
        avahi_simple_poll_get(poll.get()), AvahiClientFlags(0),
        [](AvahiClient*, AvahiClientState, void*) {}, nullptr, &error));
    if (client) {
        const char* version = avahi_client_get_version_string(client.get());
        return DoctorFinding::ok(topic,
                                 QStringLiteral("%1 に届く（位置情報リンクの告知に使う）")
                                     .arg(QString::fromUtf8(version ? version : "avahi-daemon")));
    }
    const QString why =
        QStringLiteral(
            "Avahi デーモンに届かない（%1）。スマートフォンがこの PC を名前で見つけられない")
            .arg(QString::fromUtf8(avahi_strerror(error)));
    const bool installed = QFileInfo::exists(QStringLiteral("/usr/sbin/avahi-daemon"));
    return DoctorFinding::warn(topic, why,
                               installed
                                   ? QStringLiteral("sudo systemctl enable --now avahi-daemon")
                                   : QStringLiteral("sudo apt-get install avahi-daemon"));
}

}  // namespace pexil
