#include "app/shots/OrientedImage.h"

#include "camera/virtual/PictureFactory.h"

#include <QBuffer>
#include <QColor>

#include <turbojpeg.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace pexil {
namespace {

QImage marked(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int y = 0; y < height / 4; ++y)  // the stored top-left quarter
        for (int x = 0; x < width / 4; ++x) image.setPixelColor(x, y, Qt::red);
    return image;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return bytes;
}

struct RotateCase {
    std::optional<int> orientation;
    QSize input;
    std::optional<QSize> output;  // none: no rotation
    QPoint red;                   // a point inside the red corner afterwards
};

TEST(OrientedImage, Rotate) {
    const RotateCase cases[] = {
        {6, {60, 40}, QSize(40, 60), {35, 5}},  // clockwise: top-left goes top-right
        {8, {60, 40}, QSize(40, 60), {5, 55}},  // counter-clockwise: bottom-left
        {3, {60, 40}, QSize(60, 40), {55, 35}},
        {3, {40, 60}, QSize(40, 60), {35, 55}},
        // Already at least as tall as wide: taken to be upright.
        {6, {40, 60}, std::nullopt, {}},
        {8, {40, 60}, std::nullopt, {}},
        {6, {50, 50}, std::nullopt, {}},
        // Nothing to turn, or a turn not offered here.
        {1, {60, 40}, std::nullopt, {}},
        {std::nullopt, {60, 40}, std::nullopt, {}},
        {2, {60, 40}, std::nullopt, {}},
        {5, {60, 40}, std::nullopt, {}},
        {7, {60, 40}, std::nullopt, {}},
        {0, {60, 40}, std::nullopt, {}},
        {-6, {60, 40}, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const int o = c.orientation.value_or(-1);
        const auto turned =
            OrientedImage::rotate(marked(c.input.width(), c.input.height()), c.orientation);
        ASSERT_EQ(turned.has_value(), c.output.has_value()) << o << " " << c.input.width();
        if (!turned) continue;
        EXPECT_EQ(turned->size(), *c.output) << o;
        EXPECT_EQ(turned->pixelColor(c.red), QColor(Qt::red)) << o;
    }
    EXPECT_FALSE(OrientedImage::rotate(QImage(), 6));
}

struct MakeCase {
    const char* format;
    std::optional<int> orientation;
    std::optional<int> maxPixel;
    QSize expected;
};

TEST(OrientedImage, MakeDecodesScalesAndTurns) {
    const MakeCase cases[] = {
        {"JPEG", std::nullopt, std::nullopt, {640, 480}},
        {"JPEG", 1, std::nullopt, {640, 480}},  // no turn: the image as it is
        {"JPEG", 6, std::nullopt, {480, 640}},
        {"JPEG", std::nullopt, 320, {320, 240}},   // a DCT scale of exactly 1/2
        {"JPEG", std::nullopt, 300, {300, 225}},   // decoded larger, then scaled to fit
        {"JPEG", 8, 300, {225, 300}},              // scaled first, then turned
        {"JPEG", std::nullopt, 1000, {640, 480}},  // never enlarged
        {"PNG", std::nullopt, std::nullopt, {640, 480}},
        {"PNG", 3, 200, {200, 150}},
        {"BMP", 6, 160, {120, 160}},
    };
    for (const auto& c : cases) {
        const QByteArray data = encoded(marked(640, 480), c.format);
        const auto image = OrientedImage::make(data, c.orientation, c.maxPixel);
        ASSERT_TRUE(image) << c.format;
        EXPECT_EQ(image->size(), c.expected) << c.format << " " << c.maxPixel.value_or(0);
    }
}

TEST(OrientedImage, MakeIgnoresTheOrientationTagInsideTheData) {
    // The card model passes the orientation it read itself; the file's own EXIF tag must not
    // turn the picture a second time.
    camera::PictureFactory factory;
    auto scene = factory.render(480, 320, 3, 1);
    ASSERT_TRUE(scene.ok());
    camera::PictureMeta meta;
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    meta.orientation = 6;
    const Bytes file = camera::PictureFactory::jpegFile(scene.value(), meta);
    const QByteArray data(reinterpret_cast<const char*>(file.data()),
                          static_cast<qsizetype>(file.size()));
    const auto image = OrientedImage::make(data, std::nullopt, 240);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(240, 160));
}

QByteArray cmykJpeg(int width, int height) {
    std::vector<unsigned char> cmyk(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < cmyk.size(); i += 4) {
        // Adobe's inverted CMYK as printers' JPEGs store it: full cyan, nothing else.
        cmyk[i] = 0;
        cmyk[i + 1] = 255;
        cmyk[i + 2] = 255;
        cmyk[i + 3] = 255;
    }
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), cmyk.data(), width, 0, height, TJPF_CMYK, &out, &size, TJSAMP_444,
                    90, 0) != 0)
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    return bytes;
}

TEST(OrientedImage, MakeDecodesCmykJpegsThatLibjpegTurboCannotTurnIntoRgb) {
    const QByteArray jpeg = cmykJpeg(64, 48);
    ASSERT_FALSE(jpeg.isEmpty());
    const auto image = OrientedImage::make(jpeg, 6, 32);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(24, 32));
    const QColor colour = image->pixelColor(10, 10);
    EXPECT_LT(colour.red(), 40);
    EXPECT_GT(colour.blue(), 200);
}

TEST(OrientedImage, MakeRefusesUndecodableBytes) {
    const QByteArray jpeg = encoded(marked(64, 48), "JPEG");
    EXPECT_FALSE(OrientedImage::make(QByteArray(), 6, 100));
    EXPECT_FALSE(OrientedImage::make(QByteArray(3000, '\x11'), std::nullopt, std::nullopt));
    EXPECT_FALSE(OrientedImage::make(jpeg.left(30), std::nullopt, 100));
}

}  // namespace
}  // namespace pexil
