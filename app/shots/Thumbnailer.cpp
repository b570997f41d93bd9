#include "app/shots/Thumbnailer.h"

#include "app/shots/ExifOrientation.h"
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
                    int maxPixel) {
    if (!picture) return true;
    if (maxPixel > 0 && longSide(embedded.size) >= maxPixel) return true;
    return longSide(embedded.size) >= longSide(*picture);
}

}  // namespace

std::optional<Thumbnail> Thumbnailer::load(const QString& path, int maxPixel) {
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

    std::optional<QImage> image;
    if (embedded && preferEmbedded(*embedded, pictureSize, maxPixel)) {
        image = PictureDecoder::decode(embedded->data, maxPixel);
    }
    if (!image && pictureSize) image = PictureDecoder::decode(data, maxPixel);
    if (!image && embedded) image = PictureDecoder::decode(embedded->data, maxPixel);
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
