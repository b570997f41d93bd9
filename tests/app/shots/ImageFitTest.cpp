#include "app/shots/ImageFit.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace pexil {
namespace {

// An image of `size` with black bars of `bar` pixels above and below (or left and right),
// grey in between: the letterboxed EXIF thumbnail cameras write.
QImage letterboxed(QSize size, int bar, bool aboveAndBelow) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect picture = aboveAndBelow ? QRect(0, bar, size.width(), size.height() - 2 * bar)
                                        : QRect(bar, 0, size.width() - 2 * bar, size.height());
    QPainter(&image).fillRect(picture, QColor(128, 128, 128));
    return image;
}

TEST(ImageFit, AnEmbeddedThumbnailLosesItsBarsAndKeepsThePicturesProportions) {
    struct Case {
        const char* what;
        QSize stored;
        int bar;
        bool aboveAndBelow;
        QSize picture;
        QSize expected;
    };
    const Case cases[] = {
        {"3:2 picture in a 160 × 120 thumbnail", {160, 120}, 7, true, {6048, 4024}, {160, 106}},
        {"1:1 in 4:3", {160, 120}, 20, false, {4000, 4000}, {120, 120}},
        {"16:9 in 4:3", {160, 120}, 15, true, {3840, 2160}, {160, 90}},
        {"4:3 in 16:9", {320, 180}, 40, false, {4000, 3000}, {240, 180}},
        {"same proportions", {160, 107}, 0, true, {6048, 4024}, {160, 107}},
        {"within 2 %", {160, 108}, 0, true, {6048, 4024}, {160, 108}},
        {"picture size unknown", {160, 120}, 7, true, {}, {160, 120}},
    };
    for (const Case& c : cases) {
        const QImage cropped =
            ImageFit::matchedAspect(letterboxed(c.stored, c.bar, c.aboveAndBelow), c.picture);
        EXPECT_EQ(cropped.size(), c.expected) << c.what;
        if (c.bar == 0 || c.picture.isEmpty()) continue;
        // What is left is the picture: no black row or column at its edges.
        EXPECT_NE(cropped.pixel(0, 0), qRgb(0, 0, 0)) << c.what;
        EXPECT_NE(cropped.pixel(cropped.width() - 1, cropped.height() - 1), qRgb(0, 0, 0))
            << c.what;
    }
    EXPECT_TRUE(ImageFit::matchedAspect(QImage(), {6048, 4024}).isNull());
}

}  // namespace
}  // namespace pexil
