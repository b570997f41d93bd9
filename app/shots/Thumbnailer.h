#pragma once

#include "app/shots/ShotMeta.h"

#include <QImage>
#include <QString>

#include <optional>

namespace pexil {

struct Thumbnail {
    QImage image;
    ShotMeta meta;
};

// Decodes a saved picture file into an upright image whose longest side is at most maxPixel,
// together with its metadata. JPEG files are decoded at a reduced size in the DCT domain; raw
// (TIFF-based) files through their largest embedded JPEG preview; other formats through
// QImageReader. An embedded image is used only when its long side is at least minEmbedded
// (by default the size asked for), so the large preview never ends up as a 160-pixel EXIF
// thumbnail while a filmstrip cell can take one; an embedded image with other proportions
// than the picture's loses its letterbox bars.
// Stateless; safe to call from any thread at once.
class Thumbnailer {
public:
    // None when the file cannot be read or holds no decodable image. minEmbedded 0 means
    // maxPixel.
    static std::optional<Thumbnail> load(const QString& path, int maxPixel, int minEmbedded = 0);
};

}  // namespace pexil
