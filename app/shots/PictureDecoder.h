#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <optional>

namespace pexil {

// Decodes encoded picture bytes as stored, without turning them upright: JPEG through
// libjpeg-turbo at a reduced size, every other format Qt can read through QImageReader.
// Stateless; safe from any thread.
class PictureDecoder {
public:
    // The picture with its longer side at most maxPixel (0 = full size). None when the bytes
    // are not a picture Qt or libjpeg-turbo can decode.
    static std::optional<QImage> decode(const QByteArray& data, int maxPixel);
    // The stored pixel size read from the header alone; none when it cannot be read.
    static std::optional<QSize> size(const QByteArray& data);
    // True when the bytes start like a JPEG stream (SOI then a marker).
    static bool isJpeg(const QByteArray& data);
};

}  // namespace pexil
