#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace pexil {

// Decodes an image held in memory (the card browser's previews) and turns it upright.
// Stateless; safe to call from any thread at once.
class OrientedImage {
public:
    // Decodes `data` (embedded thumbnails ignored), scaled so that its longest side is at most
    // maxPixel when one is given, then rotated by `orientation` when rotate() gives an image.
    // None when the bytes are not a decodable image.
    static std::optional<QImage> make(const QByteArray& data, std::optional<int> orientation,
                                      std::optional<int> maxPixel);

    // The image turned upright for an EXIF/TIFF orientation: 3 turns it by 180°, 6 by 90°
    // clockwise, 8 by 90° counter-clockwise. None when no turn is needed or possible: any other
    // orientation, a null image, or 6/8 on an image already at least as tall as wide (taken to
    // be upright already).
    static std::optional<QImage> rotate(const QImage& image, std::optional<int> orientation);
};

}  // namespace pexil
