#include "app/geo/GeoStore.h"

#include "app/geo/GeoJson.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace pexil {

namespace {

const QString fileName = QStringLiteral("geo-latest.json");
// A copy of a record that came in one 32 MiB message stays well below this once re-encoded;
// anything larger is not a file this program wrote, and is not worth reading into memory.
constexpr qint64 savedLimit = 256LL * 1024 * 1024;


}  // namespace

GeoStore::GeoStore(async::Clock& clock, LogSink log, Options options, QObject* parent)
    : QObject(parent), clock_(clock), log_(std::move(log)) {
    const QString folder = options.folder.isEmpty() ? defaultFolder() : options.folder;
    // A folder that cannot be made shows up as a failed save, with its reason, when the
    // first record arrives.
    QDir().mkpath(folder);
    path_ = QDir(folder).filePath(fileName);

    auto receiver = std::make_unique<GeoReceiver>(clock_, log_, std::move(options.receiver));
    receiver->setParent(this);
    receiver_ = receiver.release();
    load();
    receiver_->setOnReceive([store = QPointer<GeoStore>(this)](const GeoLink::Envelope& envelope) {
        if (store) store->adopt(envelope);
    });
    receiver_->start();
}

GeoStore::~GeoStore() = default;

QString GeoStore::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Pexil");
}

void GeoStore::load() {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return;
    if (file.size() > savedLimit) return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return;
    auto saved = decodeSaved(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())));
    if (!saved) return;
    payload_ = std::move(saved->payload);
    sender_ = std::move(saved->sender);
    receivedAt_ = saved->receivedAt;
    emit recordChanged();
}

void GeoStore::adopt(const GeoLink::Envelope& envelope) {
    payload_ = envelope.payload;
    sender_ = envelope.sender;
    receivedAt_ = clock_.now();

    const QByteArray json = encodeSaved({envelope.sender, clock_.now(), envelope.payload});
    QSaveFile file(path_);
    QString problem;
    if (!file.open(QIODevice::WriteOnly)) {
        problem = file.errorString();
    } else if (file.write(json) != json.size()) {
        problem = file.errorString();
        file.cancelWriting();
    } else if (!file.commit()) {
        problem = file.errorString();
    }
    if (!problem.isEmpty() && log_) {
        log_(QStringLiteral("受け取った位置情報を保存できない: ") + path_ + QStringLiteral(": ") +
             problem);
    }
    emit recordChanged();
}

}  // namespace pexil
