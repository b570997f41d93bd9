#include "app/shots/Thumbnailer.h"

#include "app/shots/ExifOrientation.h"
#include "app/shots/ImageFit.h"
#include "app/shots/PictureDecoder.h"
#include "app/shots/PictureMetadata.h"

#include <QFile>

#include <algorithm>

namespace pexil {

namespace {

int longSide(QSize size) {
    return std::max(size.width(), size.height());
}

// An embedded image is cheaper to decode than the picture, but an EXIF thumbnail of 160 pixels
// is no large preview: take it only when it is big enough for what was asked, at least as big
// as the picture itself, or all there is (a raw file that nothing here can develop).
bool preferEmbedded(const EmbeddedImage& embedded, const std::optional<QSize>& picture,
                    int minEmbedded) {
    if (!picture) return true;
    if (minEmbedded > 0 && longSide(embedded.size) >= minEmbedded) return true;
    return longSide(embedded.size) >= longSide(*picture);
}

}  // namespace

std::optional<Thumbnail> Thumbnailer::load(const QString& path, int maxPixel, int minEmbedded) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // Mapped rather than read: a raw file is tens of megabytes of which only the preview near
    // its start is needed. Pictures are only read here once they have been placed under their
    // final name, so nothing truncates the file while it is mapped.
    const qint64 fileSize = file.size();
    QByteArray data;
    if (uchar* mapped = fileSize > 0 ? file.map(0, fileSize) : nullptr) {
        data = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped),
                                       static_cast<qsizetype>(fileSize));
    } else {
        data = file.readAll();
    }
    if (data.isEmpty()) return std::nullopt;

    const std::optional<PictureMetadata> metadata = PictureMetadata::read(data);
    const std::optional<QSize> pictureSize = PictureDecoder::size(data);
    const EmbeddedImage* embedded =
        metadata && metadata->largestEmbedded ? &*metadata->largestEmbedded : nullptr;

    // The metadata's size is the picture's even for a raw file, whose first image as a TIFF
    // reader sees it is the small thumbnail.
    const QSize stated =
        metadata ? QSize(metadata->meta.pixelWidth, metadata->meta.pixelHeight) : QSize();
    const QSize picture = stated.isEmpty() ? pictureSize.value_or(QSize()) : stated;
    const auto decodeEmbedded = [&]() -> std::optional<QImage> {
        auto decoded = PictureDecoder::decode(embedded->data, maxPixel);
        if (decoded) *decoded = ImageFit::matchedAspect(*decoded, picture);
        return decoded;
    };
    std::optional<QImage> image;
    if (embedded &&
        preferEmbedded(*embedded, pictureSize, minEmbedded > 0 ? minEmbedded : maxPixel))
        image = decodeEmbedded();
    if (!image && pictureSize) image = PictureDecoder::decode(data, maxPixel);
    if (!image && embedded) image = decodeEmbedded();
    if (!image) return std::nullopt;

    Thumbnail result;
    result.image = ExifOrientation::upright(*image, metadata ? metadata->orientation : 1);
    if (metadata) result.meta = metadata->meta;
    // Without a size in the file's metadata, the picture's own header says it; failing that,
    // the decoded image is all there is.
    if (result.meta.pixelWidth <= 0 || result.meta.pixelHeight <= 0) {
        const QSize size = pictureSize.value_or(result.image.size());
        result.meta.pixelWidth = size.width();
        result.meta.pixelHeight = size.height();
    }
    return result;
}

}  // namespace pexil
