#include "app/shots/ExifOrientation.h"

#include <QColor>

#include <gtest/gtest.h>

namespace pexil {
namespace {

// A 3 × 2 image, black but for a red top-left and a blue top-right pixel, so that every turn
// and mirror puts the two in a different pair of corners.
QImage marked() {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::black);
    image.setPixelColor(0, 0, Qt::red);
    image.setPixelColor(2, 0, Qt::blue);
    return image;
}

struct Case {
    int orientation;
    QSize size;
    QPoint red;   // where the stored top-left pixel ends up
    QPoint blue;  // where the stored top-right pixel ends up
};

TEST(ExifOrientation, EveryOrientationPutsTheCornersWhereTheyBelong) {
    // Stored top-left/top-right corners as seen after the turn of each orientation.
    const Case cases[] = {
        {1, {3, 2}, {0, 0}, {2, 0}}, {2, {3, 2}, {2, 0}, {0, 0}}, {3, {3, 2}, {2, 1}, {0, 1}},
        {4, {3, 2}, {0, 1}, {2, 1}}, {5, {2, 3}, {0, 0}, {0, 2}}, {6, {2, 3}, {1, 0}, {1, 2}},
        {7, {2, 3}, {1, 2}, {1, 0}}, {8, {2, 3}, {0, 2}, {0, 0}}, {0, {3, 2}, {0, 0}, {2, 0}},
        {9, {3, 2}, {0, 0}, {2, 0}},
    };
    for (const auto& c : cases) {
        const QImage upright = ExifOrientation::upright(marked(), c.orientation);
        ASSERT_EQ(upright.size(), c.size) << c.orientation;
        EXPECT_EQ(upright.pixelColor(c.red), QColor(Qt::red)) << c.orientation;
        EXPECT_EQ(upright.pixelColor(c.blue), QColor(Qt::blue)) << c.orientation;
    }
}

}  // namespace
}  // namespace pexil
