// Zoom and pan of the preview: the double-click target, clamping, limits, and the pane's
// geometry. Animations run on a manual frame clock.
#include "app/shell/main/PreviewPane.h"
#include "app/shell/main/PreviewZoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace pexil::shell {
namespace {

class Zoom : public ::testing::Test {
protected:
    Zoom() {
        zoom.setFrameClock(&clock);
        zoom.setFit(fit);
    }
    void settle() { clock.advance(1); }

    // A 6000 × 4000 picture in a 900 × 600 pane: fit 0.15, 1:1 is zoom 6.67.
    const QSizeF image{6000, 4000};
    const QSizeF pane{900, 600};
    const double fit = 0.15;
    ui::FrameClock clock{ui::FrameClock::Mode::Manual};
    PreviewZoom zoom;
};

TEST_F(Zoom, doubleClickBringsTheClickedPointToTheCentreAtOneToOne) {
    const auto target = PreviewZoom::doubleClickTarget(image, pane, fit, 1, {}, {600, 400});
    ASSERT_TRUE(target);
    EXPECT_NEAR(target->zoom, 1 / fit, 1e-9);
    // 150 points right of centre at fit is 1000 picture pixels: 1000 points at 1:1.
    EXPECT_NEAR(target->offset.x(), -1000, 1e-6);
    EXPECT_NEAR(target->offset.y(), -(100 / fit), 1e-6);
}

TEST_F(Zoom, doubleClickNearAnEdgeIsClampedToThePicture) {
    const auto target = PreviewZoom::doubleClickTarget(image, pane, fit, 1, {}, {0, 0});
    ASSERT_TRUE(target);
    // At 1:1 the picture is 6000 × 4000 in a 900 × 600 pane.
    EXPECT_NEAR(target->offset.x(), (6000 - 900) / 2.0, 1e-6);
    EXPECT_NEAR(target->offset.y(), (4000 - 600) / 2.0, 1e-6);
}

TEST_F(Zoom, doubleClickWhenZoomedInReturnsToFitAndAnEmptyPictureGivesUp) {
    const auto back = PreviewZoom::doubleClickTarget(image, pane, fit, 3, {50, 50}, {10, 10});
    ASSERT_TRUE(back);
    EXPECT_EQ(back->zoom, 1);
    EXPECT_EQ(back->offset, QPointF());
    EXPECT_FALSE(PreviewZoom::doubleClickTarget({0, 0}, pane, fit, 1, {}, {10, 10}));
    EXPECT_FALSE(PreviewZoom::doubleClickTarget(image, pane, 0, 1, {}, {10, 10}));
}

TEST_F(Zoom, doubleClickTogglesThroughTheAnimation) {
    zoom.doubleClick({450, 300}, image, pane);
    EXPECT_NEAR(zoom.targetZoom(), 1 / fit, 1e-9);
    EXPECT_LT(zoom.zoom(), zoom.targetZoom());  // still animating
    settle();
    EXPECT_NEAR(zoom.zoom(), 1 / fit, 1e-9);
    EXPECT_EQ(zoom.percent(), 100);
    zoom.doubleClick({100, 100}, image, pane);
    settle();
    EXPECT_EQ(zoom.zoom(), 1);
    EXPECT_EQ(zoom.offset(), QPointF());
    EXPECT_EQ(zoom.offsetAtDragStart(), QPointF());
}

// The AF-area magnifier without the body's own zoom: 100 % then 200 % of the frame's pixels
// around a point, skipping what would not enlarge, and saying when no step is left.
TEST(PreviewZoomSteps, oneToOneThenTwoToOneAroundThePointThenNoMore) {
    struct Case {
        const char* name;
        QSizeF image;
        QSizeF pane;
        std::vector<int> percents;  // after each step that was taken
    };
    const std::vector<Case> cases{
        {"live frame in a small pane", {1024, 680}, {700, 465}, {100, 200}},
        {"small picture: fit is past 1:1", {400, 300}, {600, 450}, {200}},
        {"tiny picture: fit is past 2:1", {400, 300}, {900, 600}, {}},
        {"2:1 past the zoom limit", {6000, 4000}, {900, 600}, {100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui::FrameClock clock{ui::FrameClock::Mode::Manual};
        PreviewZoom zoom;
        zoom.setFrameClock(&clock);
        zoom.setFit(std::min(c.pane.width() / c.image.width(), c.pane.height() / c.image.height()));
        // A point right of and above the centre, well inside the picture.
        const QPointF at(c.pane.width() * 0.6, c.pane.height() * 0.4);
        std::vector<int> seen;
        while (zoom.stepInAt(at, c.image, c.pane)) {
            clock.advance(1);
            seen.push_back(zoom.percent());
            ASSERT_LE(seen.size(), 3u);
        }
        EXPECT_EQ(seen, c.percents);
    }
}

TEST_F(Zoom, theMagnifierBringsThePointToTheCentre) {
    // 135 points right of centre at fit (0.15) is 900 picture pixels: 900 points at 1:1.
    ASSERT_TRUE(zoom.stepInAt({585, 300}, image, pane));
    settle();
    EXPECT_EQ(zoom.percent(), 100);
    EXPECT_NEAR(zoom.offset().x(), -900, 1e-6);
    EXPECT_NEAR(zoom.offset().y(), 0, 1e-6);
}

TEST_F(Zoom, actualSizeAndLimits) {
    EXPECT_EQ(PreviewZoom::actualSizeTarget(0), 12);
    EXPECT_EQ(PreviewZoom::actualSizeTarget(0.00005), 12);
    EXPECT_EQ(PreviewZoom::actualSizeTarget(2), 1);  // a small picture is already past 1:1
    EXPECT_NEAR(PreviewZoom::actualSizeTarget(0.25), 4, 1e-9);
    for (int i = 0; i < 10; ++i) zoom.zoomIn();
    settle();
    EXPECT_EQ(zoom.zoom(), 12);
    for (int i = 0; i < 10; ++i) zoom.zoomOut();
    settle();
    EXPECT_EQ(zoom.zoom(), 1);
}

TEST_F(Zoom, pinchBelowFitGivesExactlyFitAndClearsThePan) {
    zoom.set(4);
    zoom.drag({100, 40});
    zoom.endDrag(image, pane);
    ASSERT_NE(zoom.offsetAtDragStart(), QPointF());
    zoom.magnify(0.1);
    settle();
    EXPECT_EQ(zoom.zoom(), 1);
    EXPECT_EQ(zoom.offset(), QPointF());
    EXPECT_EQ(zoom.offsetAtDragStart(), QPointF());
}

TEST_F(Zoom, dragMovesOnlyWhenZoomedInAndEndsClamped) {
    zoom.drag({80, 80});
    EXPECT_EQ(zoom.offset(), QPointF());  // at fit the picture stays put
    zoom.set(2);  // the picture is 1800 × 1200: it may move 450 × 300
    zoom.drag({80, -30});
    EXPECT_EQ(zoom.offset(), QPointF(80, -30));
    zoom.endDrag(image, pane);
    zoom.drag({1000, -1000});  // continues from where the last drag ended
    EXPECT_EQ(zoom.offset(), QPointF(1080, -1030));
    zoom.endDrag(image, pane);
    EXPECT_EQ(zoom.offset(), QPointF(450, -300));
    EXPECT_EQ(zoom.offsetAtDragStart(), QPointF(450, -300));
    zoom.fitToPane();
    settle();
    EXPECT_EQ(zoom.offset(), QPointF());
}

TEST(PreviewGeometry, fitRectAndWheelSteps) {
    EXPECT_DOUBLE_EQ(PreviewPane::fitScale({900, 600}, {6000, 4000}), 0.15);
    EXPECT_DOUBLE_EQ(PreviewPane::fitScale({900, 900}, {6000, 4000}), 0.15);
    EXPECT_DOUBLE_EQ(PreviewPane::fitScale({900, 300}, {6000, 4000}), 0.075);
    EXPECT_EQ(PreviewPane::fitScale({900, 600}, {0, 0}), 0);
    EXPECT_EQ(PreviewPane::pictureRect({900, 600}, {6000, 4000}, 1, {}), QRectF(0, 0, 900, 600));
    EXPECT_EQ(PreviewPane::pictureRect({900, 600}, {6000, 4000}, 2, {10, 0}), QRectF(-440, -300, 1800, 1200));
    EXPECT_EQ(PreviewPane::wheelSteps({0, 25}, {0, 0}), 2);
    EXPECT_EQ(PreviewPane::wheelSteps({0, 9}, {0, 120}), 0);  // pixel deltas win, under the threshold
    EXPECT_EQ(PreviewPane::wheelSteps({}, {0, -240}), -2);
    EXPECT_EQ(PreviewPane::wheelSteps({}, {0, 60}), 0);
}

}  // namespace
}  // namespace pexil::shell
