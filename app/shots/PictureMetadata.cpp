#include "app/shots/PictureMetadata.h"

#include "app/shots/Exiv2Setup.h"
#include "app/shots/PictureDecoder.h"

#include <QDateTime>

#include <exiv2/exiv2.hpp>

#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>

namespace pexil {

// Exiv2 sets up its XMP toolkit lazily on the first packet it decodes, which is not safe from
// two threads at once, and thumbnails are decoded on several threads. Setting it up once
// before any file is read is the library's documented remedy. Its warnings about odd maker
// notes say nothing a user can act on; a damaged tag here just leaves a field empty.
void prepareExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

namespace {

const Exiv2::Exifdatum* find(const Exiv2::ExifData& exif, const char* key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0) return nullptr;
    return &*it;
}

bool isInteger(Exiv2::TypeId type) {
    switch (type) {
        case Exiv2::unsignedByte:
        case Exiv2::unsignedShort:
        case Exiv2::unsignedLong:
        case Exiv2::signedByte:
        case Exiv2::signedShort:
        case Exiv2::signedLong:
        case Exiv2::tiffIfd:
            return true;
        default:
            return false;
    }
}

std::optional<double> real(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = find(exif, key);
    if (!datum) return std::nullopt;
    const Exiv2::TypeId type = datum->typeId();
    if (type == Exiv2::unsignedRational || type == Exiv2::signedRational) {
        const Exiv2::Rational r = datum->toRational(0);
        if (r.second == 0) return std::nullopt;
        return static_cast<double>(r.first) / r.second;
    }
    if (type == Exiv2::tiffFloat || type == Exiv2::tiffDouble || isInteger(type)) {
        const double value = datum->toFloat(0);
        if (!std::isfinite(value)) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<long> integer(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = find(exif, key);
    if (!datum || !isInteger(datum->typeId())) return std::nullopt;
    return datum->toLong(0);
}

std::optional<QDateTime> date(const Exiv2::ExifData& exif, const char* key) {
    const Exiv2::Exifdatum* datum = find(exif, key);
    if (!datum || datum->typeId() != Exiv2::asciiString) return std::nullopt;
    // Cameras pad the field with NULs or blanks up to its declared length.
    QString text = QString::fromStdString(datum->toString());
    while (!text.isEmpty() && (text.back() == QChar(0) || text.back().isSpace())) text.chop(1);
    QDateTime parsed = QDateTime::fromString(text, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    if (!parsed.isValid()) return std::nullopt;
    return parsed;
}

int dimension(long fromImage, const std::optional<long>& fromExif) {
    if (fromImage > 0 && fromImage <= INT_MAX) return static_cast<int>(fromImage);
    if (fromExif && *fromExif > 0 && *fromExif <= INT_MAX) return static_cast<int>(*fromExif);
    return 0;
}

std::optional<EmbeddedImage> largestPreview(const Exiv2::Image& image) {
    const Exiv2::PreviewManager previews(image);
    std::optional<EmbeddedImage> best;
    qint64 bestArea = -1;
    for (const Exiv2::PreviewProperties& properties : previews.getPreviewProperties()) {
        // Only previews whose size is stated can be compared without copying them all out.
        QSize size(static_cast<int>(std::min<uint32_t>(properties.width_, INT_MAX)),
                   static_cast<int>(std::min<uint32_t>(properties.height_, INT_MAX)));
        const qint64 area = static_cast<qint64>(size.width()) * size.height();
        if (!size.isEmpty() && area <= bestArea) continue;
        const Exiv2::PreviewImage preview = previews.getPreviewImage(properties);
        if (preview.size() == 0) continue;
        QByteArray data(reinterpret_cast<const char*>(preview.pData()),
                        static_cast<qsizetype>(preview.size()));
        if (size.isEmpty()) {
            const auto stored = PictureDecoder::size(data);
            if (!stored) continue;
            size = *stored;
        }
        const qint64 storedArea = static_cast<qint64>(size.width()) * size.height();
        if (storedArea <= bestArea) continue;
        bestArea = storedArea;
        best = EmbeddedImage{size, std::move(data)};
    }
    return best;
}

}  // namespace

std::optional<PictureMetadata> PictureMetadata::read(const QByteArray& data) {
    if (data.isEmpty()) return std::nullopt;
    prepareExiv2();
    try {
        // This Exiv2 hands out a std::auto_ptr; own the image the modern way at once.
        const std::unique_ptr<Exiv2::Image> image(
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(data.constData()),
                                      static_cast<long>(data.size()))
                .release());
        if (image.get() == nullptr) return std::nullopt;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();

        PictureMetadata result;
        ShotMeta& meta = result.meta;
        meta.pixelWidth =
            dimension(image->pixelWidth(), integer(exif, "Exif.Photo.PixelXDimension"));
        meta.pixelHeight =
            dimension(image->pixelHeight(), integer(exif, "Exif.Photo.PixelYDimension"));
        meta.exposureTime = real(exif, "Exif.Photo.ExposureTime");
        meta.fNumber = real(exif, "Exif.Photo.FNumber");
        if (const auto iso = integer(exif, "Exif.Photo.ISOSpeedRatings");
            iso && *iso >= 0 && *iso <= INT_MAX) {
            meta.iso = static_cast<int>(*iso);
        }
        meta.captured = date(exif, "Exif.Photo.DateTimeOriginal");
        if (const auto orientation = integer(exif, "Exif.Image.Orientation");
            orientation && *orientation >= 1 && *orientation <= 8) {
            result.orientation = static_cast<int>(*orientation);
        }
        result.largestEmbedded = largestPreview(*image);
        return result;
    } catch (const std::exception&) {
        // Exiv2::AnyError for bytes it cannot read, std::bad_alloc for absurd sizes in a
        // broken file: either way there is no metadata to use.
        return std::nullopt;
    }
}

}  // namespace pexil
