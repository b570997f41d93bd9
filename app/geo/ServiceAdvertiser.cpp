#include "app/geo/ServiceAdvertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <QMetaObject>

#include <string>
#include <utility>

namespace pexil {

namespace {

// A DNS label holds 63 bytes; Avahi refuses longer service names outright.
constexpr qsizetype labelBytes = 63;

QByteArray labelFor(const QString& name) {
    QByteArray utf8 = name.toUtf8();
    if (utf8.size() <= labelBytes) return utf8;
    qsizetype cut = labelBytes;
    // Never split a character: step back over UTF-8 continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    utf8.truncate(cut);
    return utf8;
}

QString avahiText(int error) {
    return QString::fromUtf8(avahi_strerror(error));
}

}  // namespace

// Everything Avahi owns. Its members are touched only on Avahi's thread (every callback
// runs there with the poll's lock held), except in the destructor, which first stops that
// thread.
class ServiceAdvertiser::Avahi {
public:
    Avahi(ServiceAdvertiser* owner, QByteArray type, QByteArray name, quint16 port)
        : owner_(owner), type_(type.toStdString()), name_(name.toStdString()), port_(port) {}

    ~Avahi() {
        if (!poll_) return;
        if (started_) avahi_threaded_poll_stop(poll_);
        // Closing the client's bus connection makes the daemon withdraw our records; freeing
        // the group first would only add a blocking round trip.
        if (client_) avahi_client_free(client_);
        avahi_threaded_poll_free(poll_);
    }

    Avahi(const Avahi&) = delete;
    Avahi& operator=(const Avahi&) = delete;

    // False when Avahi's thread cannot be set up at all.
    bool start() {
        poll_ = avahi_threaded_poll_new();
        if (!poll_) return false;
        // Connecting blocks on D-Bus, so it runs as the thread's first piece of work.
        scheduleConnect();
        if (avahi_threaded_poll_start(poll_) < 0) return false;
        started_ = true;
        return true;
    }

private:
    void scheduleConnect() {
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        struct timeval now {};
        avahi_elapse_time(&now, 0, 0);
        if (reconnect_) {
            api->timeout_update(reconnect_, &now);
        } else {
            reconnect_ = api->timeout_new(api, &now, &Avahi::onReconnect, this);
        }
    }

    static void onReconnect(AvahiTimeout* timeout, void* self) {
        auto* avahi = static_cast<Avahi*>(self);
        avahi_threaded_poll_get(avahi->poll_)->timeout_update(timeout, nullptr);
        avahi->connect();
    }

    void connect() {
        if (client_) avahi_client_free(client_);
        client_ = nullptr;
        group_ = nullptr;  // freed with its client
        int error = 0;
        // NO_FAIL: without a daemon the client waits for one to appear instead of failing.
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                                   &Avahi::onClient, this, &error);
        if (!client_) {
            // A group made from inside the failed constructor's callback went with it.
            group_ = nullptr;
            // Only a missing system bus gets here; nothing would tell us when one appears.
            post(Status::unavailable, avahiText(error));
        }
    }

    static void onClient(AvahiClient* client, AvahiClientState state, void* self) {
        auto* avahi = static_cast<Avahi*>(self);
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                avahi->announce(client);
                break;
            case AVAHI_CLIENT_S_REGISTERING:
            case AVAHI_CLIENT_S_COLLISION:
                // The daemon is (re)establishing its host name; our records go out again
                // once it is running.
                if (avahi->group_) avahi_entry_group_reset(avahi->group_);
                avahi->post(Status::connecting, {});
                break;
            case AVAHI_CLIENT_CONNECTING:
                avahi->post(Status::unavailable, avahiText(AVAHI_ERR_NO_DAEMON));
                break;
            case AVAHI_CLIENT_FAILURE: {
                const int error = avahi_client_errno(client);
                if (error == AVAHI_ERR_DISCONNECTED) {
                    // The daemon or the bus went away. A new client (freeing this one outside
                    // its own callback) waits for the daemon to come back.
                    avahi->post(Status::unavailable, avahiText(error));
                    avahi->scheduleConnect();
                } else {
                    avahi->post(Status::failed, avahiText(error));
                }
                break;
            }
        }
    }

    void announce(AvahiClient* client) {
        if (!group_) {
            group_ = avahi_entry_group_new(client, &Avahi::onGroup, this);
            if (!group_) {
                post(Status::failed, avahiText(avahi_client_errno(client)));
                return;
            }
        }
        if (!avahi_entry_group_is_empty(group_)) return;
        post(Status::connecting, {});
        // A clash inside this daemon is reported here rather than through the group.
        constexpr int attempts = 100;
        for (int attempt = 0;; ++attempt) {
            const int result = avahi_entry_group_add_service_strlst(
                group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name_.c_str(),
                type_.c_str(), nullptr, nullptr, port_, nullptr);
            if (result == AVAHI_OK) break;
            if (result != AVAHI_ERR_COLLISION || attempt == attempts) {
                post(Status::failed, avahiText(result));
                return;
            }
            rename();
        }
        const int result = avahi_entry_group_commit(group_);
        if (result < 0) post(Status::failed, avahiText(result));
    }

    static void onGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
        auto* avahi = static_cast<Avahi*>(self);
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                avahi->post(Status::published, {});
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                avahi->rename();
                avahi_entry_group_reset(group);
                avahi->announce(avahi_entry_group_get_client(group));
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                avahi->post(Status::failed,
                            avahiText(avahi_client_errno(avahi_entry_group_get_client(group))));
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(name_.c_str());
        const QString before = QString::fromStdString(name_);
        name_ = alternative;
        avahi_free(alternative);
        const QString after = QString::fromStdString(name_);
        QMetaObject::invokeMethod(
            owner_, [owner = owner_, before, after] { owner->renamed(before, after); },
            Qt::QueuedConnection);
    }

    // The owner outlives this object's thread (its destructor stops the thread first), and
    // Qt drops calls queued for an object that is gone.
    void post(Status status, const QString& detail) {
        const QString name = QString::fromStdString(name_);
        QMetaObject::invokeMethod(
            owner_, [owner = owner_, status, name, detail] { owner->report(status, name, detail); },
            Qt::QueuedConnection);
    }

    ServiceAdvertiser* owner_;
    std::string type_;
    std::string name_;
    quint16 port_;
    AvahiThreadedPoll* poll_ = nullptr;
    bool started_ = false;
    AvahiTimeout* reconnect_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
};

ServiceAdvertiser::ServiceAdvertiser(QString type, LogSink log, QObject* parent)
    : QObject(parent), type_(std::move(type)), log_(std::move(log)) {}

ServiceAdvertiser::~ServiceAdvertiser() = default;

void ServiceAdvertiser::publish(const QString& name, quint16 port) {
    if (avahi_) return;
    port_ = port;
    const QByteArray label = labelFor(name);
    avahi_ = std::make_unique<Avahi>(this, type_.toUtf8(), label, port);
    if (!avahi_->start()) {
        report(Status::failed, QString::fromUtf8(label),
               QStringLiteral("Avahi の処理スレッドを始められません"));
        return;
    }
    report(Status::connecting, QString::fromUtf8(label), {});
}

void ServiceAdvertiser::report(Status status, const QString& name, const QString& detail) {
    if (status == status_ && (status != Status::published || name == publishedName_)) return;
    status_ = status;
    publishedName_ = status == Status::published ? name : QString();
    const QString service = QStringLiteral("「%1」（%2、ポート %3）").arg(name, type_).arg(port_);
    switch (status) {
        case Status::published:
            log_(QStringLiteral("ネットワークに公開しました: ") + service);
            break;
        case Status::unavailable:
            log_(QStringLiteral("Avahi デーモンにつながらないため、") + service +
                 QStringLiteral("はネットワークに公開されていません。受信は続けますが、相手からは"
                                "自動では見つかりません（") +
                 detail + QStringLiteral("）"));
            break;
        case Status::failed:
            log_(QStringLiteral("ネットワークに公開できません: ") + service + QStringLiteral("（") +
                 detail + QStringLiteral("）"));
            break;
        case Status::idle:
        case Status::connecting:
            break;
    }
    emit statusChanged(status);
}

void ServiceAdvertiser::renamed(const QString& before, const QString& after) {
    log_(QStringLiteral("「%1」はネットワーク上で既に使われているため「%2」として公開します")
             .arg(before, after));
}

}  // namespace pexil
