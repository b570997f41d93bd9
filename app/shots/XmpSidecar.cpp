#include "app/shots/XmpSidecar.h"

#include "app/shots/Exiv2Setup.h"

#include <QFile>
#include <QSaveFile>

#include <exiv2/exiv2.hpp>

#include <string>

namespace pexil::XmpSidecar {

namespace {

constexpr const char* ratingKey = "Xmp.xmp.Rating";
constexpr const char* labelKey = "Xmp.xmp.Label";

// The sidecar's metadata; none when it exists and cannot be read (then it is not ours to
// overwrite), empty when there is none.
std::optional<Exiv2::XmpData> load(const QString& path) {
    Exiv2::XmpData data;
    QFile file(path);
    if (!file.exists()) return data;
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray packet = file.readAll();
    try {
        if (Exiv2::XmpParser::decode(
                data, std::string(packet.constData(), static_cast<std::size_t>(packet.size()))) !=
            0)
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return data;
}

std::optional<std::string> text(const Exiv2::XmpData& data, const char* key) {
    const auto it = data.findKey(Exiv2::XmpKey(key));
    if (it == data.end()) return std::nullopt;
    return it->toString();
}

}  // namespace

QString pathFor(const QString& picture) {
    return picture + QStringLiteral(".xmp");
}

std::optional<QString> write(const QString& picture, const ShotMark& mark,
                             std::optional<bool> clientFavourite) {
    prepareExiv2();
    const QString path = pathFor(picture);
    auto data = load(path);
    if (!data) return QString::fromUtf8("サイドカーを読めないため、評価を書き込みません: ") + path;
    std::string packet;
    try {
        (*data)[ratingKey] = std::to_string(mark.rating);
        const auto label = data->findKey(Exiv2::XmpKey(labelKey));
        const std::string current = label != data->end() ? label->toString() : std::string();
        const bool ours =
            current.empty() || current == pickLabel || current == clientFavouriteLabel;
        if (mark.picked) {
            (*data)[labelKey] = std::string(pickLabel);
        } else if (ours && clientFavourite.value_or(current == clientFavouriteLabel)) {
            (*data)[labelKey] = std::string(clientFavouriteLabel);
        } else if (!current.empty() && ours) {
            // Our label taken back; a label of another program stays.
            data->erase(label);
        }
        if (Exiv2::XmpParser::encode(packet, *data, Exiv2::XmpParser::useCompactFormat) != 0)
            return QString::fromUtf8("評価を XMP にできません: ") + path;
    } catch (const std::exception&) {
        return QString::fromUtf8("評価を XMP にできません: ") + path;
    }
    // Whole or not at all: a raw editor may read it at any moment.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(packet.data(), static_cast<qint64>(packet.size())) !=
            static_cast<qint64>(packet.size()) ||
        !file.commit())
        return QString::fromUtf8("評価を書き込めません: ") + path + QStringLiteral("（") +
               file.errorString() + QStringLiteral("）");
    return std::nullopt;
}

std::optional<ShotMark> read(const QString& picture) {
    prepareExiv2();
    const QString path = pathFor(picture);
    if (!QFile::exists(path)) return std::nullopt;
    const auto data = load(path);
    if (!data) return std::nullopt;
    ShotMark mark;
    if (const auto rating = text(*data, ratingKey)) {
        bool ok = false;
        const int value = QString::fromStdString(*rating).toInt(&ok);
        if (ok) mark.rating = std::clamp(value, -1, 5);
    }
    mark.picked = !mark.rejected() && text(*data, labelKey) == std::string(pickLabel);
    return mark;
}

}  // namespace pexil::XmpSidecar
