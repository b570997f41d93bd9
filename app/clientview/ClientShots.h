#pragma once

#include "app/shots/ShotMark.h"
#include "kit/async/Spawn.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUuid>

#include <deque>
#include <map>

namespace pexil {

namespace async {
class Executor;
class Runtime;
}  // namespace async

class ShotsModel;

// The session's shots as the client view shows them, newest first: each with its preview
// (made off the main thread when the shot arrives) and what the clients said of it (a
// favourite, a comment). A shot is published only once its preview exists, so a client never
// asks for a picture that is not there. Identifiers are the filmstrip's own shot ids, as 32
// hex digits; no path ever leaves this object.
class ClientShots final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClientShots)

public:
    static constexpr int previewPixels = 1600;
    static constexpr int maxComment = 200;  // characters
    // Previews kept in memory, newest first; an older one is made again when asked for.
    static constexpr int previewsKept = 120;

    struct Entry {
        QUuid shot;  // the filmstrip's
        QString id;
        QString path;  // for the original, when downloads are allowed
        QString name;
        QDateTime time;  // taken, once the picture's metadata is read; until then, arrived
        ShotMark mark;
        bool favourite = false;
        QString comment;
        std::uint64_t order = 0;  // as the filmstrip received them
    };

    // Follows `shots` from now on, taking the shots it already holds as well.
    ClientShots(async::Runtime& runtime, async::Executor& previews, ShotsModel& shots,
                QObject* parent = nullptr);
    ~ClientShots() override;

    // Published shots, newest first.
    const std::deque<Entry>& list() const { return list_; }
    const Entry* find(const QString& id) const;
    // The preview's JPEG; none for an unknown id or a file that can no longer be read.
    std::optional<QByteArray> preview(const QString& id);

    // What a client says; false for an unknown shot or a comment that is too long (over
    // maxComment characters, or with control characters other than line breaks).
    bool setFavourite(const QString& id, bool favourite);
    bool setComment(const QString& id, const QString& comment);

    static QJsonObject toJson(const Entry& shot);

signals:
    void published(const QString& id);
    // Its mark, favourite or comment changed.
    void changed(const QString& id);
    // A client's favourite or comment, for the filmstrip.
    void noteChanged(const QUuid& shot, bool favourite, const QString& comment);

private:
    void follow();
    async::Task<void> publish(Entry shot);
    Entry* findMutable(const QString& id);

    async::Executor& previews_;
    ShotsModel& shots_;
    std::deque<Entry> list_;
    std::map<QString, QByteArray> previewBytes_;  // by id; at most previewsKept
    std::deque<QString> previewOrder_;            // oldest first
    std::map<QUuid, bool> seen_;                  // shots taken or on their way
    std::uint64_t received_ = 0;
    async::Scope scope_;
};

}  // namespace pexil
