#pragma once

#include "camera/virtual/JpegEncoder.h"
#include "camera/virtual/VirtualProperties.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <optional>

namespace pexil::camera {

// A rendered scene in two sizes, compressed: the picture and its thumbnail.
struct RenderedScene {
    Bytes picture;  // JPEG as the encoder made it (SOI, JFIF APP0, …)
    int width = 0;
    int height = 0;
    Bytes thumbnail;  // about 160 pixels wide
    int thumbWidth = 0;
    int thumbHeight = 0;
};

// A position the camera recorded itself (a body with a GPS unit).
struct PictureGps {
    double latitude = 0;   // degrees, north positive
    double longitude = 0;  // degrees, east positive
    double altitude = 0;   // metres above sea level
};

// What a picture file says of itself: who made it, when (in the camera's clock) and how.
struct PictureMeta {
    QString make;
    QString model;
    QString software;
    QDateTime taken;
    int orientation = 1;  // TIFF Orientation, 1–8
    VirtualProperties::Exposure exposure;
    int sensorWidth = 0;
    int sensorHeight = 0;
    int rawBitDepth = 14;
    std::optional<PictureGps> gps;  // written as a GPS IFD when present
};

// Makes the files the virtual camera writes to its card:
// - JPEG: SOI, an EXIF APP1 (big-endian TIFF: Make, Model, Orientation, Software, DateTime,
//   and a GPS IFD when the meta has a position;
//   Exif IFD with ExposureTime, FNumber, ISO, DateTimeOriginal, DateTimeDigitized,
//   FocalLength, pixel size; IFD1 with the JPEG thumbnail), then the compressed picture.
// - NEF-like raw (big-endian TIFF as Nikon writes it): IFD0 with the thumbnail as its JPEG
//   (JPEGInterchangeFormat) and Orientation, SubIFD 0 with the larger JPEG preview, SubIFD 1
//   with a single raw strip of noise at the sensor's size, an Exif IFD with the dates, and
//   a GPS IFD when the meta has a position.
//   The previews lie near the start of the file and the raw data after them, as in a real
//   NEF, so a partial read of the head finds the preview.
// Stateless apart from the encoder: one factory per thread.
class PictureFactory {
public:
    // Paints and compresses a scene (see paintScene) and its thumbnail.
    Result<RenderedScene, QString> render(int width, int height, std::uint64_t seed, int number);

    // The bytes of a JPEG file. A thumbnail too large for the EXIF block is left out.
    static Bytes jpegFile(const RenderedScene& scene, const PictureMeta& meta);
    // The same file written straight to `out`. Fails with the device's error.
    static Result<Done, QString> writeJpegFile(QIODevice& out, const RenderedScene& scene,
                                               const PictureMeta& meta);

    // The head of a raw file: everything before the raw strip, whose length is `rawBytes`.
    static Bytes rawHead(const RenderedScene& scene, const PictureMeta& meta,
                         std::uint32_t rawBytes);
    // Writes a whole raw file: the head, then `rawBytes` of noise (where it starts follows
    // from `seed`), in pieces so that a full-size raw never sits in memory. Fails with the
    // device's error.
    static Result<Done, QString> writeRawFile(QIODevice& out, const RenderedScene& scene,
                                              const PictureMeta& meta, std::uint32_t rawBytes,
                                              std::uint64_t seed);

    // "YYYY:MM:DD HH:MM:SS", the EXIF form of a date.
    static QString exifDate(const QDateTime& date);

private:
    JpegEncoder encoder_;
};

}  // namespace pexil::camera
