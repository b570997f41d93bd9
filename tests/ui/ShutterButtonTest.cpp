#include "ui/components/ShutterButton.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace pexil::ui {
namespace {

using test::blend;
using test::distance;

class ShutterButtonTest : public ::testing::Test {
protected:
    ShutterButtonTest() { button.setFrameClock(&clock); }

    QColor discCentre() {
        return test::render(button, Theme::background()).pixelColor(button.width() / 2, button.height() / 2);
    }
    // The ring's middle at `degrees` clockwise from twelve o'clock.
    QColor ringAt(const QImage& image, double degrees) {
        const double a = degrees * std::numbers::pi / 180;
        const QRectF face = button.faceRect();
        const double r = face.width() / 2 - ShutterFace::lineWidth / 2;
        return image.pixelColor(int(face.center().x() + r * std::sin(a)), int(face.center().y() - r * std::cos(a)));
    }
    int clicks(QEvent::Type last = QEvent::MouseButtonRelease) {
        QSignalSpy spy(&button, &QAbstractButton::clicked);
        test::mouse(button, QEvent::MouseButtonPress, 32, 32);
        test::mouse(button, last, 32, 32);
        button.click();
        return int(spy.count());
    }

    FrameClock clock{FrameClock::Mode::Manual};
    ShutterButton button{64};
};

TEST_F(ShutterButtonTest, DisabledIsDimmedBusyIsNotAndNeitherCanBePressed) {
    EXPECT_LT(distance(discCentre(), Theme::text()), 3);
    EXPECT_EQ(clicks(), 2);  // the mouse and click(): an idle button works

    button.setShutterEnabled(false);
    EXPECT_DOUBLE_EQ(button.faceOpacity(), 0.35);
    EXPECT_LT(distance(discCentre(), blend(Theme::background(), Theme::text(), 0.35)), 3);
    EXPECT_EQ(clicks(), 0);

    button.setShutterEnabled(true);
    button.setBusy(true);
    clock.advance(1.0);  // the disc's spring has settled
    EXPECT_DOUBLE_EQ(button.faceOpacity(), 1.0);
    // Only the disc's own busy dimming (0.8), not the disabled 0.35 on top of it.
    EXPECT_LT(distance(discCentre(), blend(Theme::background(), Theme::text(), 0.8)), 3);
    EXPECT_FALSE(button.isEnabled());
    EXPECT_EQ(clicks(), 0);
    EXPECT_EQ(button.accessibleName(), QStringLiteral("シャッター"));
    EXPECT_EQ(button.accessibleDescription(), QStringLiteral("撮影中"));

    button.setBusy(false);
    EXPECT_TRUE(button.isEnabled());
    EXPECT_TRUE(button.accessibleDescription().isEmpty());
}

TEST_F(ShutterButtonTest, EndingBusyEarlyStillCompletesTheCircleAndFadesIt) {
    button.setBusy(true);
    clock.advance(0.1);  // the start animation (to 0.28 in 0.25 s) is under way
    const auto starting = button.look();
    EXPECT_GT(starting.arc, 0);
    EXPECT_LT(starting.arc, 0.28);
    EXPECT_NEAR(starting.ringOpacity, 0.22, 1e-9);

    button.setBusy(false);
    const double stoppedAt = button.look().arcRotation;
    clock.advance(0.28);
    const auto complete = button.look();
    EXPECT_DOUBLE_EQ(complete.arc, 1.0);
    EXPECT_DOUBLE_EQ(complete.arcOpacity, 1.0);
    EXPECT_DOUBLE_EQ(complete.arcRotation, stoppedAt);  // the spin stopped with busy
    const QImage full = test::render(button, Theme::background());
    for (double degrees : {10.0, 100.0, 190.0, 280.0})
        EXPECT_LT(distance(ringAt(full, degrees), Theme::text()), 40) << degrees;

    clock.advance(0.1);
    const auto fading = button.look();
    EXPECT_GT(fading.arcOpacity, 0);
    EXPECT_LT(fading.arcOpacity, 1);

    clock.advance(0.15);
    const auto done = button.look();
    EXPECT_EQ(done.arcOpacity, 0);
    EXPECT_DOUBLE_EQ(done.ringOpacity, 1.0);
    EXPECT_EQ(clock.demand(), 0);  // nothing left to animate
}

TEST_F(ShutterButtonTest, ArcSpinsOnceEvery0_9SecondsWhileBusy) {
    button.setBusy(true);
    EXPECT_DOUBLE_EQ(button.look().arcRotation, -90);  // twelve o'clock
    clock.advance(0.45);
    EXPECT_NEAR(button.look().arcRotation, 90, 1e-6);
    EXPECT_NEAR(button.look().arc, 0.28, 1e-9);
    EXPECT_EQ(clock.demand(), 1);
}

TEST_F(ShutterButtonTest, PressingPushesTheDiscIn) {
    button.setDown(true);
    emit button.pressed();
    clock.advance(0.2);
    EXPECT_NEAR(button.look().discScale, 0.88, 1e-9);
    button.setDown(false);
    emit button.released();
    clock.advance(0.2);
    EXPECT_NEAR(button.look().discScale, 1.0, 1e-9);
}

}  // namespace
}  // namespace pexil::ui
