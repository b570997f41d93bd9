#include "app/geo/GeoStore.h"

#include "app/geo/GeoJson.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>

#include <nlohmann/json.hpp>

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

// Finds the top-level "receivedAt" without building the document: the record beside it may
// be tens of megabytes. A repeated member counts as its last occurrence.
class ReceivedAtReader {
public:
    using Json = nlohmann::json;

    bool null() { return other(); }
    bool boolean(bool) { return other(); }
    bool number_integer(Json::number_integer_t) { return other(); }
    bool number_unsigned(Json::number_unsigned_t) { return other(); }
    bool number_float(Json::number_float_t, const Json::string_t&) { return other(); }
    bool binary(Json::binary_t&) { return other(); }
    bool string(Json::string_t& text) {
        if (depth_ == 1 && wanted_) value_ = text;
        wanted_ = false;
        return true;
    }
    bool start_object(std::size_t) {
        if (depth_ == 0) rootIsObject_ = true;
        other();
        ++depth_;
        return true;
    }
    bool start_array(std::size_t) {
        other();
        ++depth_;
        return true;
    }
    bool end_object() {
        --depth_;
        return true;
    }
    bool end_array() {
        --depth_;
        return true;
    }
    bool key(Json::string_t& name) {
        if (depth_ == 1) wanted_ = name == "receivedAt";
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    // The member's text, if the document is an object whose last "receivedAt" is a string.
    std::optional<std::string> value() const {
        if (!rootIsObject_) return std::nullopt;
        return value_;
    }

private:
    // Any value but a string under the name makes the member the wrong type.
    bool other() {
        if (depth_ == 1 && wanted_) value_.reset();
        wanted_ = false;
        return true;
    }

    int depth_ = 0;
    bool rootIsObject_ = false;
    bool wanted_ = false;
    std::optional<std::string> value_;
};

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

QByteArray GeoStore::encodeSaved(const Saved& saved) {
    const std::string sender = nlohmann::json(saved.sender.toStdString())
                                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    QByteArray json = QByteArrayLiteral("{\"sender\":");
    json += QByteArray::fromStdString(sender);
    json += QByteArrayLiteral(",\"receivedAt\":\"");
    json += GeoJson::formatTime(saved.receivedAt).toUtf8();
    json += QByteArrayLiteral("\",\"payload\":");
    json += GeoJson::encodePayload(saved.payload);
    json += '}';
    return json;
}

std::optional<GeoStore::Saved> GeoStore::decodeSaved(ByteView json) {
    ReceivedAtReader reader;
    if (!nlohmann::json::sax_parse(json.begin(), json.end(), &reader)) return std::nullopt;
    const auto text = reader.value();
    if (!text) return std::nullopt;
    auto receivedAt = GeoJson::parseTime(QString::fromStdString(*text));
    if (!receivedAt) return std::nullopt;
    // The copy has the envelope's two members, plus "receivedAt", which the envelope reader
    // skips like any member it does not know.
    auto envelope = GeoLink::decodeEnvelope(json);
    if (!envelope) return std::nullopt;
    return Saved{std::move(envelope.value().sender), *receivedAt,
                 std::move(envelope.value().payload)};
}

}  // namespace pexil
