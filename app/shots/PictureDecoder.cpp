#include "app/shots/PictureDecoder.h"

#include "app/shots/ImageFit.h"
#include "app/shots/JpegDecoder.h"

#include <QBuffer>
#include <QImageReader>

#include <turbojpeg.h>

#include <memory>

namespace pexil {

namespace {

const std::uint8_t* bytes(const QByteArray& data) {
    return reinterpret_cast<const std::uint8_t*>(data.constData());
}

struct JpegHeader {
    QSize size;
    int colorspace = 0;
};

std::optional<JpegHeader> jpegHeader(const QByteArray& data) {
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (!handle ||
        tjDecompressHeader3(handle.get(), bytes(data), static_cast<unsigned long>(data.size()),
                            &width, &height, &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return JpegHeader{QSize(width, height), colorspace};
}

std::optional<QImage> decodeWithQt(const QByteArray& data, int maxPixel) {
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    // The orientation is the caller's business: it may already be turned.
    reader.setAutoTransform(false);
    const QSize stored = reader.size();
    if (stored.isValid()) {
        const QSize target = ImageFit::fitted(stored, maxPixel);
        if (static_cast<qint64>(target.width()) * target.height() > maxDecodedPixels) {
            return std::nullopt;
        }
        if (target != stored) reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    // Readers without scaled decoding ignore setScaledSize; scale what they gave.
    return ImageFit::shrunk(image, maxPixel);
}

}  // namespace

bool PictureDecoder::isJpeg(const QByteArray& data) {
    return data.size() >= 3 && static_cast<unsigned char>(data[0]) == 0xFF &&
           static_cast<unsigned char>(data[1]) == 0xD8 &&
           static_cast<unsigned char>(data[2]) == 0xFF;
}

std::optional<QImage> PictureDecoder::decode(const QByteArray& data, int maxPixel) {
    if (isJpeg(data)) {
        if (auto image =
                JpegDecoder::decode(bytes(data), static_cast<std::size_t>(data.size()), maxPixel)) {
            return ImageFit::shrunk(*image, maxPixel);
        }
        // libjpeg-turbo cannot turn CMYK or YCCK into RGB; Qt's reader can. Any other JPEG it
        // refused is broken, and a second decoder would only fail again more slowly.
        const auto header = jpegHeader(data);
        if (!header || (header->colorspace != TJCS_CMYK && header->colorspace != TJCS_YCCK)) {
            return std::nullopt;
        }
    }
    return decodeWithQt(data, maxPixel);
}

std::optional<QSize> PictureDecoder::size(const QByteArray& data) {
    if (isJpeg(data)) {
        if (auto header = jpegHeader(data)) return header->size;
        return std::nullopt;
    }
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty()) return std::nullopt;
    return stored;
}

}  // namespace pexil
