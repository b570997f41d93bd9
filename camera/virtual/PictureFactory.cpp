#include "camera/virtual/PictureFactory.h"

#include "camera/virtual/TiffWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pexil::camera {

namespace {

enum Tag : std::uint16_t {
    kNewSubfileType = 254,
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kMake = 271,
    kModel = 272,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kXResolution = 282,
    kYResolution = 283,
    kResolutionUnit = 296,
    kSoftware = 305,
    kDateTime = 306,
    kSubIFDs = 330,
    kJpegOffset = 513,
    kJpegLength = 514,
    kExposureTime = 33434,
    kFNumber = 33437,
    kExifIFD = 34665,
    kGpsIFD = 34853,
    kIso = 34855,
    kExifVersion = 36864,
    kDateTimeOriginal = 36867,
    kDateTimeDigitized = 36868,
    kFocalLength = 37386,
    kPixelXDimension = 40962,
    kPixelYDimension = 40963,
};

constexpr std::uint16_t kCompressionJpeg = 6;
constexpr std::uint16_t kCompressionNikon = 34713;
constexpr std::uint16_t kPhotometricCfa = 32803;
// An APP1 segment holds at most 65533 bytes after its length field.
constexpr std::size_t kMaxApp1Body = 65533;

std::vector<TiffWriter::Field> exifFields(const TiffWriter& w, const PictureMeta& meta, int width,
                                          int height) {
    std::vector<TiffWriter::Field> fields;
    const auto& e = meta.exposure;
    if (e.timeNumerator > 0 && e.timeDenominator > 0)
        fields.push_back(w.fraction(kExposureTime, e.timeNumerator, e.timeDenominator));
    if (e.fNumber > 0)
        fields.push_back(
            w.fraction(kFNumber, static_cast<std::uint32_t>(std::lround(e.fNumber * 10)), 10));
    if (e.iso > 0)
        fields.push_back(w.shortValue(kIso, static_cast<std::uint16_t>(std::min(e.iso, 65535))));
    fields.push_back(w.bytes(kExifVersion, Bytes{'0', '2', '3', '0'}));
    const QString date = PictureFactory::exifDate(meta.taken);
    fields.push_back(w.text(kDateTimeOriginal, date));
    fields.push_back(w.text(kDateTimeDigitized, date));
    if (e.focalLength > 0)
        fields.push_back(w.fraction(
            kFocalLength, static_cast<std::uint32_t>(std::lround(e.focalLength * 10)), 10));
    fields.push_back(w.longValue(kPixelXDimension, static_cast<std::uint32_t>(width)));
    fields.push_back(w.longValue(kPixelYDimension, static_cast<std::uint32_t>(height)));
    return fields;
}

std::vector<TiffWriter::Field> identityFields(const TiffWriter& w, const PictureMeta& meta) {
    return {
        w.text(kMake, meta.make),
        w.text(kModel, meta.model),
        w.shortValue(kOrientation, static_cast<std::uint16_t>(std::clamp(meta.orientation, 1, 8))),
        w.fraction(kXResolution, 300, 1),
        w.fraction(kYResolution, 300, 1),
        w.shortValue(kResolutionUnit, 2),
        w.text(kSoftware, meta.software),
        w.text(kDateTime, PictureFactory::exifDate(meta.taken))};
}

enum GpsTag : std::uint16_t {
    kGpsVersion = 0,
    kGpsLatitudeRef = 1,
    kGpsLatitude = 2,
    kGpsLongitudeRef = 3,
    kGpsLongitude = 4,
    kGpsAltitudeRef = 5,
    kGpsAltitude = 6,
};

// Degrees as EXIF writes them: whole degrees, whole minutes, seconds in hundredths.
std::vector<std::pair<std::uint32_t, std::uint32_t>> degreesMinutesSeconds(double value) {
    const double magnitude = std::min(std::fabs(value), 180.0);
    const auto hundredths = static_cast<std::uint64_t>(std::llround(magnitude * 360000.0));
    return {{static_cast<std::uint32_t>(hundredths / 360000), 1},
            {static_cast<std::uint32_t>(hundredths / 6000 % 60), 1},
            {static_cast<std::uint32_t>(hundredths % 6000), 100}};
}

std::vector<TiffWriter::Field> gpsFields(const TiffWriter& w, const PictureGps& gps) {
    return {
        w.byteValues(kGpsVersion, Bytes{2, 3, 0, 0}),
        w.text(kGpsLatitudeRef, gps.latitude < 0 ? QStringLiteral("S") : QStringLiteral("N")),
        w.fractions(kGpsLatitude, degreesMinutesSeconds(gps.latitude)),
        w.text(kGpsLongitudeRef, gps.longitude < 0 ? QStringLiteral("W") : QStringLiteral("E")),
        w.fractions(kGpsLongitude, degreesMinutesSeconds(gps.longitude)),
        w.byteValues(kGpsAltitudeRef, Bytes{static_cast<std::uint8_t>(gps.altitude < 0 ? 1 : 0)}),
        w.fraction(
            kGpsAltitude,
            static_cast<std::uint32_t>(std::llround(std::min(std::fabs(gps.altitude), 1e6) * 10)),
            10)};
}

// Appends the GPS IFD when the picture has a position and points IFD0's GPSInfo at it.
void appendGps(TiffWriter& w, const PictureMeta& meta, const TiffWriter::Written& ifd0) {
    if (!meta.gps) return;
    const auto gps = w.appendIfd(gpsFields(w, *meta.gps));
    w.patch32(ifd0.at.at(kGpsIFD), static_cast<std::uint32_t>(gps.start));
}

// The EXIF TIFF block of a JPEG; with the thumbnail when `withThumbnail`.
Bytes exifBlock(const RenderedScene& scene, const PictureMeta& meta, bool withThumbnail) {
    TiffWriter w(true);
    auto ifd0 = identityFields(w, meta);
    ifd0.push_back(w.longValue(kExifIFD, 0));
    if (meta.gps) ifd0.push_back(w.longValue(kGpsIFD, 0));
    const auto written0 = w.appendIfd(ifd0);
    w.patchFirstIfd(static_cast<std::uint32_t>(written0.start));
    const auto exif = w.appendIfd(exifFields(w, meta, scene.width, scene.height));
    w.patch32(written0.at.at(kExifIFD), static_cast<std::uint32_t>(exif.start));
    appendGps(w, meta, written0);
    if (withThumbnail && !scene.thumbnail.empty()) {
        const auto ifd1 = w.appendIfd(
            {w.shortValue(kCompression, kCompressionJpeg), w.fraction(kXResolution, 300, 1),
             w.fraction(kYResolution, 300, 1), w.shortValue(kResolutionUnit, 2),
             w.longValue(kJpegOffset, 0),
             w.longValue(kJpegLength, static_cast<std::uint32_t>(scene.thumbnail.size()))});
        w.patch32(written0.nextPointer, static_cast<std::uint32_t>(ifd1.start));
        const std::size_t at = w.appendBlob(scene.thumbnail);
        w.patch32(ifd1.at.at(kJpegOffset), static_cast<std::uint32_t>(at));
    }
    return w.take();
}

// The encoder's output after SOI and its JFIF APP0: the rest of the stream.
ByteView afterApp0(const Bytes& jpeg) {
    std::size_t pos = 2;
    if (jpeg.size() >= 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
        const std::size_t length = (static_cast<std::size_t>(jpeg[4]) << 8) | jpeg[5];
        if (4 + length <= jpeg.size()) pos = 4 + length;
    }
    return ByteView(jpeg).subspan(std::min(pos, jpeg.size()));
}

// Noise that does not compress, made once and shared by every raw file: writing it costs
// no more than copying, so a card of thousands of raw files is made in seconds.
const Bytes& noiseBlock() {
    static const Bytes block = [] {
        Bytes out(1 << 20);
        std::uint64_t state = 0x9E3779B97F4A7C15ULL;
        for (std::size_t i = 0; i + 8 <= out.size(); i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(out.data() + i, &state, 8);
        }
        return out;
    }();
    return block;
}

// The EXIF block of a JPEG file in its APP1 segment: everything before the picture's own
// segments.
Bytes jpegHead(const RenderedScene& scene, const PictureMeta& meta) {
    Bytes exif = exifBlock(scene, meta, true);
    if (exif.size() + 6 > kMaxApp1Body) exif = exifBlock(scene, meta, false);
    Bytes out;
    out.reserve(10 + exif.size());
    out.insert(out.end(), {0xFF, 0xD8, 0xFF, 0xE1});
    const std::size_t length = 2 + 6 + exif.size();
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
    out.insert(out.end(), exif.begin(), exif.end());
    return out;
}

bool writeAll(QIODevice& out, ByteView bytes) {
    return out.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

}  // namespace

QString PictureFactory::exifDate(const QDateTime& date) {
    return date.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
}

Result<RenderedScene, QString> PictureFactory::render(int width, int height, std::uint64_t seed,
                                                      int number) {
    RenderedScene scene;
    scene.width = width;
    scene.height = height;
    auto picture = encoder_.encode(paintScene(width, height, seed, 0.0, number), 85);
    if (!picture) return picture.error();
    scene.picture = std::move(picture).value();
    scene.thumbWidth = 160;
    scene.thumbHeight =
        std::max(1, static_cast<int>(std::lround(160.0 * height / std::max(1, width))));
    auto thumbnail =
        encoder_.encode(paintScene(scene.thumbWidth, scene.thumbHeight, seed, 0.0, number), 75);
    if (!thumbnail) return thumbnail.error();
    scene.thumbnail = std::move(thumbnail).value();
    return scene;
}

Bytes PictureFactory::jpegFile(const RenderedScene& scene, const PictureMeta& meta) {
    Bytes out = jpegHead(scene, meta);
    const ByteView rest = afterApp0(scene.picture);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

Result<Done, QString> PictureFactory::writeJpegFile(QIODevice& out, const RenderedScene& scene,
                                                    const PictureMeta& meta) {
    if (!writeAll(out, jpegHead(scene, meta)) || !writeAll(out, afterApp0(scene.picture)))
        return QString::fromUtf8("カードに書けません: ") + out.errorString();
    return Done{};
}

Bytes PictureFactory::rawHead(const RenderedScene& scene, const PictureMeta& meta,
                              std::uint32_t rawBytes) {
    TiffWriter w(true);
    auto ifd0 = identityFields(w, meta);
    ifd0.push_back(w.longValue(kNewSubfileType, 1));
    ifd0.push_back(w.longValue(kImageWidth, static_cast<std::uint32_t>(scene.thumbWidth)));
    ifd0.push_back(w.longValue(kImageLength, static_cast<std::uint32_t>(scene.thumbHeight)));
    ifd0.push_back(w.shortValue(kCompression, kCompressionJpeg));
    ifd0.push_back(w.longs(kSubIFDs, {0, 0}));
    ifd0.push_back(w.longValue(kJpegOffset, 0));
    ifd0.push_back(w.longValue(kJpegLength, static_cast<std::uint32_t>(scene.thumbnail.size())));
    ifd0.push_back(w.longValue(kExifIFD, 0));
    if (meta.gps) ifd0.push_back(w.longValue(kGpsIFD, 0));
    const auto written0 = w.appendIfd(ifd0);
    w.patchFirstIfd(static_cast<std::uint32_t>(written0.start));

    const auto preview =
        w.appendIfd({w.longValue(kNewSubfileType, 1),
                     w.longValue(kImageWidth, static_cast<std::uint32_t>(scene.width)),
                     w.longValue(kImageLength, static_cast<std::uint32_t>(scene.height)),
                     w.shortValue(kCompression, kCompressionJpeg), w.longValue(kJpegOffset, 0),
                     w.longValue(kJpegLength, static_cast<std::uint32_t>(scene.picture.size()))});
    const auto sensorWidth = static_cast<std::uint32_t>(std::max(1, meta.sensorWidth));
    const auto sensorHeight = static_cast<std::uint32_t>(std::max(1, meta.sensorHeight));
    const auto raw = w.appendIfd(
        {w.longValue(kNewSubfileType, 0), w.longValue(kImageWidth, sensorWidth),
         w.longValue(kImageLength, sensorHeight),
         w.shortValue(kBitsPerSample, static_cast<std::uint16_t>(meta.rawBitDepth)),
         w.shortValue(kCompression, kCompressionNikon), w.shortValue(kPhotometric, kPhotometricCfa),
         w.longValue(kStripOffsets, 0), w.shortValue(kSamplesPerPixel, 1),
         w.longValue(kRowsPerStrip, sensorHeight), w.longValue(kStripByteCounts, rawBytes)});
    const auto exif = w.appendIfd(
        exifFields(w, meta, static_cast<int>(sensorWidth), static_cast<int>(sensorHeight)));

    const std::size_t subIfds = written0.at.at(kSubIFDs);
    w.patch32(subIfds, static_cast<std::uint32_t>(preview.start));
    w.patch32(subIfds + 4, static_cast<std::uint32_t>(raw.start));
    w.patch32(written0.at.at(kExifIFD), static_cast<std::uint32_t>(exif.start));
    appendGps(w, meta, written0);
    const std::size_t thumbAt = w.appendBlob(scene.thumbnail);
    w.patch32(written0.at.at(kJpegOffset), static_cast<std::uint32_t>(thumbAt));
    const std::size_t previewAt = w.appendBlob(scene.picture);
    w.patch32(preview.at.at(kJpegOffset), static_cast<std::uint32_t>(previewAt));
    // The raw strip starts right after the head, which must therefore end word-aligned.
    w.appendBlob({});
    w.patch32(raw.at.at(kStripOffsets), static_cast<std::uint32_t>(w.size()));
    return w.take();
}

Result<Done, QString> PictureFactory::writeRawFile(QIODevice& out, const RenderedScene& scene,
                                                   const PictureMeta& meta, std::uint32_t rawBytes,
                                                   std::uint64_t seed) {
    if (!writeAll(out, rawHead(scene, meta, rawBytes)))
        return QString::fromUtf8("カードに書けません: ") + out.errorString();
    const Bytes& noise = noiseBlock();
    std::size_t offset = static_cast<std::size_t>(seed % noise.size());
    for (std::uint64_t left = rawBytes; left > 0;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, noise.size() - offset));
        if (!writeAll(out, ByteView(noise).subspan(offset, n)))
            return QString::fromUtf8("カードに書けません: ") + out.errorString();
        left -= n;
        offset = 0;
    }
    return Done{};
}

}  // namespace pexil::camera
