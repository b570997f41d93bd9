#pragma once

#include "app/geo/GeoLink.h"
#include "app/geo/GeoPayload.h"
#include "app/geo/GeoReceiver.h"
#include "app/geo/GeoSavedRecord.h"
#include "kit/async/Clock.h"
#include "kit/ptp/Bytes.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace pexil {

// The last geo record received, for the whole application: owns and starts the receiver,
// takes over every envelope it accepts, and keeps a copy in <folder>/geo-latest.json so
// that the record survives a restart.
//
// The copy is {"sender": …, "receivedAt": "…Z", "payload": {…}}, written compactly and
// atomically (a reader sees the old record or the new one, never a mixture); a copy that
// is missing, unreadable or undecodable is ignored without a word and left untouched.
//
// Threads: main thread only. Failures: a copy that cannot be written costs one log line;
// the record received stays in use for this run.
class GeoStore final : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Where geo-latest.json lives; empty: the per-user application-support folder
        // (defaultFolder()). Created, with its parents, at construction if missing.
        QString folder;
        GeoReceiver::Options receiver;
    };

    // The persisted record.
    using Saved = GeoSavedRecord;

    using LogSink = std::function<void(const QString&)>;

    // Loads the saved copy, wires the receiver to adopt() and starts it.
    GeoStore(async::Clock& clock, LogSink log, Options options, QObject* parent = nullptr);
    ~GeoStore() override;
    Q_DISABLE_COPY_MOVE(GeoStore)

    // None until a record was received or loaded; the three change together.
    const std::optional<GeoPayload>& payload() const { return payload_; }
    const std::optional<QString>& sender() const { return sender_; }
    const std::optional<QDateTime>& receivedAt() const { return receivedAt_; }

    GeoReceiver& receiver() { return *receiver_; }
    QString path() const { return path_; }

    // Takes over an accepted envelope: publishes it with the time of receipt, then saves.
    void adopt(const GeoLink::Envelope& envelope);

    // QStandardPaths' generic data location + "/Pexil" (normally ~/.local/share/Pexil).
    static QString defaultFolder();

    // The saved copy's JSON form (see GeoSavedRecord).
    static QByteArray encodeSaved(const Saved& saved) { return GeoSavedRecord::encode(saved); }
    static std::optional<Saved> decodeSaved(ByteView json) { return GeoSavedRecord::decode(json); }

signals:
    // payload, sender and receivedAt changed (after a load or a receipt).
    void recordChanged();

private:
    void load();

    async::Clock& clock_;
    LogSink log_;
    QString path_;
    std::optional<GeoPayload> payload_;
    std::optional<QString> sender_;
    std::optional<QDateTime> receivedAt_;
    GeoReceiver* receiver_ = nullptr;  // child
};

}  // namespace pexil
