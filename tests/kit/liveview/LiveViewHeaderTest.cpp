#include "kit/liveview/LiveViewHeader.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

// A D850-like header: 640 × 424 frames of a 6400 × 4240 whole area, all of it displayed,
// the AF area 640 × 424 around (1600, 1060).
LiveViewHeader levelHeader() {
    LiveViewHeader h;
    h.jpeg = QSize(640, 424);
    h.whole = QSize(6400, 4240);
    h.display = h.whole;
    h.displayCentre = QPoint(3200, 2120);
    h.afSize = QSize(640, 424);
    h.afCentre = QPoint(1600, 1060);
    return h;
}

TEST(LiveViewHeader, ReadsBackWhatItWritesAndRefusesWhatItCannotPlace) {
    LiveViewHeader h = levelHeader();
    h.rotation = LiveViewRotation::turnLeft;
    h.judgement = FocusJudgement::focused;
    const Bytes bytes = h.encode(384);
    ASSERT_EQ(bytes.size(), 384u);
    EXPECT_EQ(bytes[4], 0x19);  // 6400 big-endian
    EXPECT_EQ(bytes[5], 0x00);
    EXPECT_EQ(LiveViewHeader::parse(bytes), h);

    // Too short for the AF fields, or no whole area: nothing to place the AF area in.
    EXPECT_FALSE(LiveViewHeader::parse(ByteView(bytes).first(23)));
    Bytes noWhole = bytes;
    noWhole[4] = noWhole[5] = 0;
    EXPECT_FALSE(LiveViewHeader::parse(noWhole));

    // Short headers and values out of range keep the defaults; no display area is the whole.
    const auto shortOne = LiveViewHeader::parse(ByteView(bytes).first(24));
    ASSERT_TRUE(shortOne);
    EXPECT_EQ(shortOne->rotation, LiveViewRotation::level);
    EXPECT_EQ(shortOne->judgement, FocusJudgement::none);
    Bytes odd = bytes;
    odd[29] = 7;
    odd[38] = 9;
    for (std::size_t i = 8; i < 16; ++i) odd[i] = 0;
    const auto oddOne = LiveViewHeader::parse(odd);
    ASSERT_TRUE(oddOne);
    EXPECT_EQ(oddOne->rotation, LiveViewRotation::level);
    EXPECT_EQ(oddOne->judgement, FocusJudgement::none);
    EXPECT_EQ(oddOne->display, QSize(6400, 4240));
    EXPECT_EQ(oddOne->displayCentre, QPoint(3200, 2120));
}

TEST(LiveViewGeometry, MapsClicksToTheWholeAreaThroughRotationAndCrop) {
    struct Case {
        const char* name;
        LiveViewRotation rotation;
        QSize display;  // centred on (3200, 2120) unless moved
        QPoint displayCentre;
        QPointF shown;
        QPoint whole;
    };
    const QSize all(6400, 4240);
    const QPoint middle(3200, 2120);
    const Case cases[] = {
        {"level, top left", LiveViewRotation::level, all, middle, {0, 0}, {0, 0}},
        {"level, a third across", LiveViewRotation::level, all, middle, {0.25, 0.75}, {1600, 3180}},
        {"level, past the edge clamps", LiveViewRotation::level, all, middle, {1.5, -1}, {6399, 0}},
        // Turned right: the picture's top left is the JPEG's bottom left.
        {"turned right, top left", LiveViewRotation::turnRight, all, middle, {0, 0}, {0, 4239}},
        {"turned right", LiveViewRotation::turnRight, all, middle, {0.25, 0.5}, {3200, 3180}},
        // Turned left: the picture's top left is the JPEG's top right.
        {"turned left, top left", LiveViewRotation::turnLeft, all, middle, {0, 0}, {6399, 0}},
        {"turned left", LiveViewRotation::turnLeft, all, middle, {0.25, 0.5}, {3200, 1060}},
        {"upside down", LiveViewRotation::upsideDown, all, middle, {0.25, 0.25}, {4800, 3180}},
        // The body's zoom shows a quarter of the area around (4800, 1060).
        {"cropped, centre",
         LiveViewRotation::level,
         {1600, 1060},
         {4800, 1060},
         {0.5, 0.5},
         {4800, 1060}},
        {"cropped, corner",
         LiveViewRotation::level,
         {1600, 1060},
         {4800, 1060},
         {1, 1},
         {5600, 1590}},
        {"cropped and turned right",
         LiveViewRotation::turnRight,
         {1600, 1060},
         {4800, 1060},
         {0, 0},
         {4000, 1590}},
    };
    for (const Case& c : cases) {
        LiveViewHeader h = levelHeader();
        h.rotation = c.rotation;
        h.display = c.display;
        h.displayCentre = c.displayCentre;
        const LiveViewGeometry geometry(h);
        EXPECT_EQ(geometry.toWhole(c.shown), c.whole) << c.name;
        // And back: a point inside the picture lands where it was clicked.
        if (c.shown.x() >= 0 && c.shown.x() <= 1 && c.shown.y() >= 0 && c.shown.y() <= 1) {
            const QPointF back = geometry.toShown(QPointF(c.whole));
            EXPECT_NEAR(back.x(), c.shown.x(), 0.001) << c.name;
            EXPECT_NEAR(back.y(), c.shown.y(), 0.001) << c.name;
        }
    }
}

TEST(LiveViewGeometry, TheAfAreaTurnsWithThePicture) {
    LiveViewHeader h = levelHeader();
    EXPECT_EQ(LiveViewGeometry(h).afArea(), QRectF(0.2, 0.2, 0.1, 0.1));
    h.rotation = LiveViewRotation::turnRight;
    // Turned right: the JPEG's left edge becomes the top, its bottom the left.
    const QRectF turned = LiveViewGeometry(h).afArea();
    EXPECT_NEAR(turned.left(), 0.7, 1e-9);
    EXPECT_NEAR(turned.top(), 0.2, 1e-9);
    EXPECT_NEAR(turned.width(), 0.1, 1e-9);
    EXPECT_NEAR(turned.height(), 0.1, 1e-9);
    h.afSize = QSize();
    EXPECT_TRUE(LiveViewGeometry(h).afArea().isEmpty());
}

}  // namespace
}  // namespace pexil
