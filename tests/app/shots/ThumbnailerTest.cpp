#include "app/shots/Thumbnailer.h"

#include "camera/virtual/PictureFactory.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace pexil {
namespace {

using camera::PictureFactory;
using camera::PictureMeta;
using camera::RenderedScene;

PictureMeta sampleMeta(int orientation) {
    PictureMeta meta;
    meta.make = QStringLiteral("NIKON CORPORATION");
    meta.model = QStringLiteral("NIKON D850");
    meta.software = QStringLiteral("Ver.1.10");
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    meta.orientation = orientation;
    meta.exposure.fNumber = 5.6;
    meta.exposure.timeNumerator = 1;
    meta.exposure.timeDenominator = 250;
    meta.exposure.iso = 400;
    meta.sensorWidth = 8256;
    meta.sensorHeight = 5504;
    return meta;
}

QByteArray toQt(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

class ThumbnailerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        auto rendered = factory.render(1600, 1067, 42, 7);
        ASSERT_TRUE(rendered.ok()) << rendered.error().toStdString();
        scene = std::move(rendered).value();
    }

    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }
    QString jpeg(const QString& name, const PictureMeta& meta) {
        return write(name, toQt(PictureFactory::jpegFile(scene, meta)));
    }
    QString raw(const QString& name, const PictureMeta& meta) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(PictureFactory::writeRawFile(buffer, scene, meta, 20000, 9).ok());
        return write(name, buffer.data());
    }

    QTemporaryDir dir;
    PictureFactory factory;
    RenderedScene scene;
};

struct SizeCase {
    const char* kind;
    int orientation;
    int maxPixel;
    QSize image;  // upright
    QSize pixels;
    int minEmbedded = 0;
};

TEST_F(ThumbnailerFiles, ImagesAreUprightAndBoundedByMaxPixel) {
    const SizeCase cases[] = {
        {"jpeg", 1, 1200, {1200, 801}, {1600, 1067}},  // 3/4 scale: libjpeg-turbo rounds up
        {"jpeg", 6, 1200, {801, 1200}, {1600, 1067}},
        {"jpeg", 8, 400, {267, 400}, {1600, 1067}},
        {"jpeg", 3, 1000, {1000, 667}, {1600, 1067}},
        // The large preview: the picture itself, not its 160-pixel EXIF thumbnail.
        {"jpeg", 1, 4288, {1600, 1067}, {1600, 1067}},
        {"jpeg", 6, 4288, {1067, 1600}, {1600, 1067}},
        // Raw: the embedded preview; the pixel size is the sensor's.
        {"raw", 1, 1200, {1200, 801}, {8256, 5504}},
        {"raw", 8, 1200, {801, 1200}, {8256, 5504}},
        // The largest preview even when smaller than asked, never the 160-pixel one.
        {"raw", 1, 4288, {1600, 1067}, {8256, 5504}},
        {"raw", 6, 100, {67, 100}, {8256, 5504}},
        // A filmstrip cell takes the EXIF thumbnail, upright, with the picture's pixel size;
        // one smaller than the least asked for is passed over.
        {"jpeg", 1, 1200, {160, 107}, {1600, 1067}, 160},
        {"jpeg", 6, 1200, {107, 160}, {1600, 1067}, 160},
        {"jpeg", 1, 1200, {1200, 801}, {1600, 1067}, 200},
        {"raw", 1, 1200, {1200, 801}, {8256, 5504}, 160},
    };
    for (const auto& c : cases) {
        const QString name = QStringLiteral("%1-%2-%3-%4")
                                 .arg(c.kind)
                                 .arg(c.orientation)
                                 .arg(c.maxPixel)
                                 .arg(c.minEmbedded);
        const QString path = QByteArray(c.kind) == "raw"
                                 ? raw(name + ".NEF", sampleMeta(c.orientation))
                                 : jpeg(name + ".JPG", sampleMeta(c.orientation));
        const auto thumb = Thumbnailer::load(path, c.maxPixel, c.minEmbedded);
        ASSERT_TRUE(thumb) << name.toStdString();
        EXPECT_EQ(thumb->image.size(), c.image) << name.toStdString();
        EXPECT_EQ(thumb->meta.pixelWidth, c.pixels.width()) << name.toStdString();
        EXPECT_EQ(thumb->meta.pixelHeight, c.pixels.height()) << name.toStdString();
    }
}

TEST_F(ThumbnailerFiles, ReadsTheExposureAndTheDate) {
    for (const QString& path : {jpeg(QStringLiteral("a.JPG"), sampleMeta(1)),
                                raw(QStringLiteral("a.NEF"), sampleMeta(1))}) {
        const auto thumb = Thumbnailer::load(path, 1200);
        ASSERT_TRUE(thumb) << path.toStdString();
        EXPECT_EQ(thumb->meta.iso, 400);
        ASSERT_TRUE(thumb->meta.exposureTime);
        EXPECT_DOUBLE_EQ(*thumb->meta.exposureTime, 0.004);
        ASSERT_TRUE(thumb->meta.fNumber);
        EXPECT_DOUBLE_EQ(*thumb->meta.fNumber, 5.6);
        EXPECT_EQ(thumb->meta.captured,
                  QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30), Qt::LocalTime));
        EXPECT_EQ(thumb->meta.summary(), QStringLiteral("1/250  f/5.6  ISO 400"));
    }
}

TEST_F(ThumbnailerFiles, TheImageIsThePictureNotItsThumbnail) {
    // The thumbnail of a rendered scene is painted at its own size; a decode that took it
    // would be enlarged and blurred. Compare one pixel region with the picture's own decode.
    const auto thumb = Thumbnailer::load(jpeg(QStringLiteral("b.JPG"), sampleMeta(1)), 4288);
    ASSERT_TRUE(thumb);
    QImage reference;
    ASSERT_TRUE(reference.loadFromData(toQt(scene.picture)));
    reference = reference.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < reference.height(); y += 37)
        for (int x = 0; x < reference.width(); x += 41) {
            const QRgb a = thumb->image.pixel(x, y);
            const QRgb b = reference.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                    std::abs(qBlue(a) - qBlue(b)) >
                24)
                ++differing;
        }
    EXPECT_LT(differing, 10);
}

TEST_F(ThumbnailerFiles, DamagedExposureValuesAreLeftOut) {
    // Exposure 1/250 written, then its numerator (or denominator) zeroed as in a damaged file.
    PictureMeta meta = sampleMeta(1);
    meta.exposure.timeNumerator = 0x1F2E3D4C;
    meta.exposure.timeDenominator = 0x0A0B0C0D;
    const QByteArray good = toQt(PictureFactory::jpegFile(scene, meta));
    const QByteArray rational("\x1F\x2E\x3D\x4C\x0A\x0B\x0C\x0D", 8);
    const qsizetype at = good.indexOf(rational);
    ASSERT_GT(at, 0);
    struct Case {
        QByteArray replacement;
        QString summary;
    };
    const Case cases[] = {
        {QByteArray("\x00\x00\x00\x00\x00\x00\x00\xFA", 8), QStringLiteral("f/5.6  ISO 400")},
        {QByteArray("\x00\x00\x00\x01\x00\x00\x00\x00", 8), QStringLiteral("f/5.6  ISO 400")},
        {QByteArray("\x00\x00\x00\x01\x00\x00\x00\xFA", 8),
         QStringLiteral("1/250  f/5.6  ISO 400")},
    };
    int n = 0;
    for (const auto& c : cases) {
        QByteArray damaged = good;
        damaged.replace(at, 8, c.replacement);
        const auto thumb =
            Thumbnailer::load(write(QStringLiteral("d%1.JPG").arg(n++), damaged), 400);
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->meta.summary(), c.summary);
    }
}

TEST_F(ThumbnailerFiles, APictureWithoutExifStillGetsItsPixelSize) {
    QImage png(300, 500, QImage::Format_RGB32);
    png.fill(QColor(10, 120, 200));
    QByteArray pngBytes;
    QBuffer buffer(&pngBytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(png.save(&buffer, "PNG"));

    struct Case {
        QString name;
        QByteArray bytes;
        int maxPixel;
        QSize image;
        QSize pixels;
    };
    const Case cases[] = {
        {QStringLiteral("bare.jpg"), toQt(scene.picture), 1200, {1200, 801}, {1600, 1067}},
        {QStringLiteral("bare-small.jpg"), toQt(scene.thumbnail), 1200, {160, 107}, {160, 107}},
        {QStringLiteral("plain.png"), pngBytes, 250, {150, 250}, {300, 500}},
    };
    for (const auto& c : cases) {
        const auto thumb = Thumbnailer::load(write(c.name, c.bytes), c.maxPixel);
        ASSERT_TRUE(thumb) << c.name.toStdString();
        EXPECT_EQ(thumb->image.size(), c.image) << c.name.toStdString();
        EXPECT_EQ(thumb->meta.pixelWidth, c.pixels.width()) << c.name.toStdString();
        EXPECT_EQ(thumb->meta.pixelHeight, c.pixels.height()) << c.name.toStdString();
        EXPECT_EQ(thumb->meta.summary(), QString());
        EXPECT_FALSE(thumb->meta.captured);
    }
}

TEST_F(ThumbnailerFiles, UndecodableFilesGiveNothing) {
    const QByteArray picture = toQt(PictureFactory::jpegFile(scene, sampleMeta(1)));
    const QByteArray noise(200000, '\x3C');
    const QString cases[] = {
        write(QStringLiteral("noise.JPG"), noise),
        write(QStringLiteral("empty.JPG"), QByteArray()),
        write(QStringLiteral("head.JPG"), picture.left(64)),
        dir.filePath(QStringLiteral("missing.JPG")),
        dir.path(),
    };
    for (const auto& path : cases)
        EXPECT_FALSE(Thumbnailer::load(path, 1200)) << path.toStdString();
}

TEST_F(ThumbnailerFiles, SafeFromSeveralThreadsAtOnce) {
    const QString pictures[] = {jpeg(QStringLiteral("t.JPG"), sampleMeta(6)),
                                raw(QStringLiteral("t.NEF"), sampleMeta(8))};
    std::vector<std::optional<Thumbnail>> results(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Thumbnailer::load(pictures[i % 2], 400); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) {
        ASSERT_TRUE(r);
        EXPECT_EQ(r->image.size(), QSize(267, 400));
        EXPECT_EQ(r->meta.iso, 400);
    }
}

}  // namespace
}  // namespace pexil
