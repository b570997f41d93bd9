#include "app/shots/JpegDecoder.h"
#include "app/shots/OrientedImage.h"
#include "app/shots/PictureMetadata.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Qt finds its image plugins through the application object, as in the program.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static const auto app = std::make_unique<QCoreApplication>(*argc, *argv);
    return 0;
}

// Any file or card preview: the first byte picks the size asked for and the orientation, the
// rest is the picture. What decodes must be a real image within the bounds asked for; what
// the metadata reader returns must be in range.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int maxPixel = (data[0] & 0x1F) * 64;  // 0 (full size) up to 1984
    const int orientation = data[0] >> 5;        // 0–7
    ++data;
    --size;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    if (const auto image = pexil::JpegDecoder::decode(data, size, maxPixel)) {
        if (image->isNull() || image->format() != QImage::Format_RGB32) std::abort();
    }

    const std::optional<int> limit = maxPixel > 0 ? std::optional<int>(maxPixel) : std::nullopt;
    if (const auto image = pexil::OrientedImage::make(bytes, orientation, limit)) {
        if (image->isNull()) std::abort();
        if (limit && std::max(image->width(), image->height()) > *limit) std::abort();
    }

    if (const auto metadata = pexil::PictureMetadata::read(bytes)) {
        if (metadata->orientation < 1 || metadata->orientation > 8) std::abort();
        if (metadata->meta.pixelWidth < 0 || metadata->meta.pixelHeight < 0) std::abort();
        if (const auto& embedded = metadata->largestEmbedded) {
            if (embedded->data.isEmpty() || embedded->size.isEmpty()) std::abort();
        }
        (void)metadata->meta.summary();
    }
    return 0;
}
