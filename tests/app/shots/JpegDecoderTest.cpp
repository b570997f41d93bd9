#include "app/shots/JpegDecoder.h"

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

namespace pexil {
namespace {

QByteArray encoded(const QImage& image, const char* format = "JPEG", int quality = 90) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QByteArray jpegOfSize(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    return encoded(image);
}

std::optional<QImage> decode(const QByteArray& bytes, int maxPixel = 0) {
    return JpegDecoder::decode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()), maxPixel);
}

struct ScaleCase {
    int maxPixel;
    QSize expected;  // libjpeg-turbo rounds scaled sides up
};

TEST(JpegDecoder, PicksTheSmallestScaleThatStillCoversMaxPixel) {
    const QByteArray jpeg = jpegOfSize(1600, 1067);
    const ScaleCase cases[] = {
        {0, {1600, 1067}},     // full size
        {1600, {1600, 1067}},  // exactly the picture
        {2000, {1600, 1067}},  // never enlarged
        {1500, {1600, 1067}},  // 15/16 is not offered, 7/8 would give 1400
        {1400, {1400, 934}},   // 7/8
        {1200, {1200, 801}},   // 3/4
        {1000, {1000, 667}},   // 5/8
        {401, {600, 401}},     // 3/8: 1/4 would fall one short
        {400, {400, 267}},     // 1/4
        {100, {200, 134}},     // 1/8 is the smallest there is
    };
    for (const auto& c : cases) {
        const auto image = decode(jpeg, c.maxPixel);
        ASSERT_TRUE(image) << c.maxPixel;
        EXPECT_EQ(image->size(), c.expected) << c.maxPixel;
    }
}

TEST(JpegDecoder, PixelsArrivePaintableInTheirColours) {
    const auto image = decode(jpegOfSize(64, 48), 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format(), QImage::Format_RGB32);
    const QRgb pixel = image->pixel(32, 24);
    // Opaque, or painting would blend it with what lies beneath.
    EXPECT_EQ(qAlpha(pixel), 255);
    EXPECT_NEAR(qRed(pixel), 200, 4);
    EXPECT_NEAR(qGreen(pixel), 40, 4);
    EXPECT_NEAR(qBlue(pixel), 90, 4);
}

TEST(JpegDecoder, GreyscalePicturesDecodeToo) {
    QImage grey(40, 30, QImage::Format_Grayscale8);
    grey.fill(128);
    const auto image = decode(encoded(grey));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(40, 30));
    EXPECT_NEAR(qGreen(image->pixel(5, 5)), 128, 3);
}

TEST(JpegDecoder, ATruncatedPictureStillGivesItsWholeFrame) {
    // A picture cut short in its scan: the rest is filled, as every viewer shows it.
    QImage noisy(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x) noisy.setPixel(x, y, qRgb(x * 7, y * 13, x ^ y));
    const QByteArray jpeg = encoded(noisy);
    const auto image = decode(jpeg.left(jpeg.size() * 2 / 3));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(320, 240));
}

TEST(JpegDecoder, RefusesWhatIsNoJpeg) {
    const QByteArray jpeg = jpegOfSize(64, 48);
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::white);
    const QByteArray cases[] = {
        QByteArray(),
        QByteArray("\xFF\xD8", 2),
        jpeg.left(20),  // SOI and part of a header
        QByteArray(4096, '\x5A'),
        encoded(small, "PNG"),
    };
    for (const auto& bytes : cases) EXPECT_FALSE(decode(bytes)) << bytes.size();
    EXPECT_FALSE(JpegDecoder::decode(nullptr, 100, 0));
}

TEST(JpegDecoder, RefusesAHeaderClaimingAnAbsurdSize) {
    QByteArray jpeg = jpegOfSize(64, 48);
    // SOF0: FF C0, length, precision, height, width.
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    for (int i = 5; i <= 8; ++i) jpeg[sof + i] = '\xFF';  // 65535 × 65535
    EXPECT_FALSE(decode(jpeg));
}

}  // namespace
}  // namespace pexil
