#include "ui/preparing/ApertureIris.h"
#include "ui/preparing/FilmFrames.h"
#include "ui/preparing/PreparingOverlay.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace pexil::ui {
namespace {

using test::distance;

// Pixels of the iris that differ from the backdrop.
int visiblePixels(ApertureIris& iris) {
    const QImage image = test::render(iris, Theme::background());
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (distance(image.pixelColor(x, y), Theme::background()) > 2) ++n;
    return n;
}

class PreparingOverlayTest : public ::testing::Test {
protected:
    PreparingOverlayTest() {
        overlay.setFrameClock(&clock);
        overlay.setAttribute(Qt::WA_DontShowOnScreen);
        overlay.resize(400, 400);
    }
    FrameClock clock{FrameClock::Mode::Manual};
    PreparingOverlay overlay;
};

TEST_F(PreparingOverlayTest, IrisIsFullyOpenAndTransparentHalfASecondAfterReveal) {
    overlay.show();
    clock.advance(3.0);
    ApertureIris& iris = *overlay.iris();
    EXPECT_DOUBLE_EQ(iris.time(), 3.0);  // driven by the frame clock
    const int before = visiblePixels(iris);
    EXPECT_GT(before, 148 * 148 * 3 / 4);  // the disc of blades

    QSignalSpy finished(&overlay, &PreparingOverlay::revealFinished);
    overlay.reveal();
    clock.advance(0.25);
    const auto midway = ApertureIris::stateAt(iris.time(), overlay.revealTime());
    EXPECT_GT(midway.opacity, 0.5);
    EXPECT_GT(visiblePixels(iris), 0);
    EXPECT_EQ(finished.count(), 0);

    clock.advance(0.25);
    const auto open = ApertureIris::stateAt(iris.time(), overlay.revealTime());
    EXPECT_DOUBLE_EQ(open.opening, 0.995);
    EXPECT_DOUBLE_EQ(open.opacity, 0.0);
    EXPECT_EQ(visiblePixels(iris), 0);
    EXPECT_EQ(finished.count(), 1);
    clock.advance(0.1);
    EXPECT_EQ(finished.count(), 1);  // once
}

TEST_F(PreparingOverlayTest, BreathesBetweenItsLimitsBeforeReveal) {
    // Period 2.6 s: widest a quarter in, narrowest three quarters in.
    EXPECT_NEAR(ApertureIris::stateAt(0.65, std::nullopt).opening, 0.46, 1e-9);
    EXPECT_NEAR(ApertureIris::stateAt(1.95, std::nullopt).opening, 0.22, 1e-9);
    EXPECT_DOUBLE_EQ(ApertureIris::stateAt(1.95, std::nullopt).opacity, 1.0);
    // A reveal time still ahead changes nothing yet.
    EXPECT_DOUBLE_EQ(ApertureIris::stateAt(1.0, 2.0).opening, ApertureIris::stateAt(1.0, std::nullopt).opening);
}

TEST_F(PreparingOverlayTest, AsksForFramesOnlyWhileShown) {
    EXPECT_EQ(clock.demand(), 0);
    overlay.show();
    EXPECT_EQ(clock.demand(), 1);
    overlay.hide();
    EXPECT_EQ(clock.demand(), 0);
    clock.advance(1.0);
    EXPECT_DOUBLE_EQ(overlay.iris()->time(), 0.0);  // hidden: not driven

    // A real clock runs its frame timer only while the overlay is shown.
    FrameClock real;
    overlay.setFrameClock(&real);
    EXPECT_FALSE(real.isTicking());
    overlay.show();
    EXPECT_TRUE(real.isTicking());
    overlay.hide();
    EXPECT_FALSE(real.isTicking());
}

TEST_F(PreparingOverlayTest, CardCheckTextsAndEmptyDetailKeepsItsLine) {
    overlay.setCardCount(248);
    EXPECT_EQ(overlay.title(), QStringLiteral("カードを確認中"));
    EXPECT_EQ(overlay.detail(), QStringLiteral("カード内 248 件"));
    EXPECT_FALSE(overlay.footer());
    overlay.setCardCount(std::nullopt);
    EXPECT_EQ(overlay.detail(), QStringLiteral(" "));
    overlay.setFooter(QStringLiteral("接続から 3 秒"));
    EXPECT_EQ(overlay.footer(), QStringLiteral("接続から 3 秒"));
}

TEST(FilmFrames, HeadRunsAtSevenFramesASecondWithAFadingTailAndAPause) {
    const struct {
        double t;
        std::vector<double> lit;  // opacities of frames 0…5 of 12
    } cases[] = {
        {0.0, {1, 0, 0, 0, 0, 0}},
        {0.5 / 7, {0.875, 0, 0, 0, 0, 0}},
        {1.5 / 7, {0.625, 0.875, 0, 0, 0, 0}},
        {3.5 / 7, {0.125, 0.375, 0.625, 0.875, 0, 0}},
        {4.5 / 7, {0, 0.125, 0.375, 0.625, 0.875, 0}},
        {15.5 / 7, {0, 0, 0, 0, 0, 0}},   // the pause after the head left the row
        {-0.5 / 7, {0, 0, 0, 0, 0, 0}},   // the same moment of the previous cycle
        {16.5 / 7, {0.875, 0, 0, 0, 0, 0}},  // the next cycle
    };
    for (const auto& c : cases)
        for (int i = 0; i < int(c.lit.size()); ++i)
            EXPECT_NEAR(FilmFrames::litOpacity(c.t, i, 12), c.lit[i], 1e-9) << c.t << " frame " << i;
    EXPECT_NEAR(FilmFrames::litOpacity(14.5 / 7, 11, 12), 0.125, 1e-9);
    EXPECT_NEAR(FilmFrames::litOpacity(15.5 / 7, 11, 12), 0, 1e-9);
}

}  // namespace
}  // namespace pexil::ui
