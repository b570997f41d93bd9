#include "ui/components/ShutterButton.h"
#include "ui/scrubber/ScrubberControl.h"
#include "ui/theme/FocusRing.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace pexil::ui {
namespace {

// Outside the shape where the widget leaves room; pulled onto the widget where it does not,
// else the widget's edge would cut it off.
TEST(FocusRing, RunsOutsideTheShapeWhereThereIsRoomAndStaysOnTheWidget) {
    const struct {
        QRectF shape;
        double radius;
        QRectF bounds, ring;
        double ringRadius;
    } cases[] = {{{4, 4, 64, 64}, 32, {0, 0, 72, 72}, {1, 1, 70, 70}, 35},
                 {{0, 0, 200, 36}, 9, {0, 0, 200, 36}, {1, 1, 198, 34}, 8},
                 {{0, 4, 100, 20}, 6, {0, 0, 100, 28}, {1, 1, 98, 26}, 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(FocusRing::outline(c.shape, c.radius, c.bounds).rect, c.ring);
        EXPECT_DOUBLE_EQ(FocusRing::outline(c.shape, c.radius, c.bounds).radius, c.ringRadius);
    }
}

// For the keyboard only: Tab shows it; a click, or the focus moving on, leaves none drawn.
TEST(FocusRing, ShowsOnTheControlsOnlyForTheKeyboard) {
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* shutter = new ShutterButton(64, &window);
    auto* dial = new ScrubberControl(&window);
    for (QWidget* w : std::initializer_list<QWidget*>{field, shutter, dial}) column->addWidget(w);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const struct {
        QWidget* control;
        QPoint top;  // of the ring
    } controls[] = {{shutter, {36, 1}}, {dial, {dial->width() / 2, 1}}};
    for (const auto& c : controls) {
        const auto ringShown = [&c] {
            const QColor seen = test::render(*c.control, Theme::background()).pixelColor(c.top);
            return test::distance(seen, FocusRing::colour()) < 40;
        };
        c.control->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(ringShown()) << c.control->metaObject()->className();
        field->setFocus(Qt::OtherFocusReason);
        EXPECT_FALSE(ringShown()) << c.control->metaObject()->className();
        c.control->setFocus(Qt::MouseFocusReason);
        EXPECT_FALSE(ringShown()) << c.control->metaObject()->className();
    }
}

}  // namespace
}  // namespace pexil::ui
