#pragma once

#include "app/shots/ShotMeta.h"

#include <QByteArray>
#include <QSize>

#include <optional>

namespace pexil {

// An encoded picture stored inside another file: an EXIF thumbnail, a raw file's JPEG preview.
struct EmbeddedImage {
    QSize size;  // as stored, before any orientation
    QByteArray data;
};

// What Exiv2 reads from a picture file held in memory: the facts the filmstrip shows, the
// orientation and the largest embedded image. Stateless; safe from any thread.
struct PictureMetadata {
    // Pixel size from the picture's own header or its EXIF (0 × 0 when neither says), ISO,
    // exposure, F-number and date as stored. Values are not judged here: a damaged file's
    // zero exposure time is kept and ShotMeta declines to show it.
    ShotMeta meta;
    int orientation = 1;  // EXIF/TIFF 1–8; 1 when absent or out of range
    std::optional<EmbeddedImage> largestEmbedded;

    // None when Exiv2 does not recognise the bytes as a picture it can read.
    static std::optional<PictureMetadata> read(const QByteArray& data);
};

}  // namespace pexil
