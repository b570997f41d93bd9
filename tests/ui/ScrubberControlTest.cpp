#include "ui/scrubber/ScrubberControl.h"

#include "UiTestSupport.h"

#include <QEnterEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace pexil::ui {
namespace {

using G = ScrubberGeometry;

TEST(ScrubberGeometry, DisplayIndexRoundsHalvesAwayFromZeroAndClamps) {
    const struct {
        int base;
        double offset;
        int expected;
    } cases[] = {{3, 0, 3}, {3, -28, 4}, {3, -27.9, 3}, {3, 28, 3}, {3, 28.1, 2},
                 {0, 500, 0},  {3, -500, 6}, {6, -56, 6}};
    for (const auto& c : cases)
        EXPECT_EQ(G::displayIndex(c.base, c.offset, 56, 7), c.expected) << c.base << " " << c.offset;
    EXPECT_EQ(G::displayIndex(0, -100, 56, 0), 0);
}

TEST(ScrubberGeometry, DragStopsWithTheEndValuesUnderTheHighlight) {
    EXPECT_DOUBLE_EQ(G::dragAfter(0, 1000, 2, 7, 56), 112);   // first value at the centre
    EXPECT_DOUBLE_EQ(G::dragAfter(0, -1000, 2, 7, 56), -224); // last value at the centre
    EXPECT_DOUBLE_EQ(G::dragAfter(10, -4, 2, 7, 56), 6);
    EXPECT_DOUBLE_EQ(G::dragAfter(0, 30, 0, 7, 56), 0);
}

TEST(ScrubberGeometry, WheelCarriesRemaindersBetweenEvents) {
    G::WheelCarry pixels;
    EXPECT_EQ(pixels.feed(25, 10), 2);  // a 25-point swipe: two steps, 5 kept
    EXPECT_DOUBLE_EQ(pixels.remainder(), 5);
    EXPECT_EQ(pixels.feed(4, 10), 0);
    EXPECT_EQ(pixels.feed(1, 10), 1);
    EXPECT_EQ(pixels.feed(-19, 10), -1);
    EXPECT_DOUBLE_EQ(pixels.remainder(), -9);
    G::WheelCarry notches;
    EXPECT_EQ(notches.feed(0.5, 1), 0);  // half a notch of a fine wheel
    EXPECT_EQ(notches.feed(0.5, 1), 1);
    EXPECT_EQ(notches.feed(-3, 1), -3);
    EXPECT_LE(std::abs(notches.feed(1e300, 1)), 1000);  // a wild delta stays bounded
}

TEST(ScrubberGeometry, FadeStopsFollowTheLabel) {
    const auto f = G::fade(400, 74);
    EXPECT_DOUBLE_EQ(f.clearUntil * 400, 68);
    EXPECT_DOUBLE_EQ(f.opaqueFrom * 400, 104);
    EXPECT_DOUBLE_EQ(f.opaqueUntil * 400, 350);
    EXPECT_DOUBLE_EQ(G::fade(100, 74).span, 154);  // never narrower than the label and 80
}

class ScrubberTest : public ::testing::Test {
protected:
    ScrubberTest() {
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        column->addWidget(field);
        column->addWidget(scrubber);
        scrubber->setFrameClock(&clock);
        scrubber->setTitle(QStringLiteral("シャッター速度"));
        scrubber->setOptions(options);
        scrubber->setSelection(QStringLiteral("1/250"));
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.resize(400, 100);
        window.show();
    }
    void activate() {
        QApplication::setActiveWindow(&window);
        field->setFocus();
        ASSERT_TRUE(field->hasFocus());
        ASSERT_EQ(scrubber->width(), 400);
    }
    void enter() {
        QEnterEvent e(QPointF(200, 18), QPointF(200, 18), QPointF(200, 18));
        QApplication::sendEvent(scrubber, &e);
    }
    void leave() {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(scrubber, &e);
    }
    void drag(std::initializer_list<double> xs) {
        test::mouse(*scrubber, QEvent::MouseButtonPress, *xs.begin());
        for (double x : xs) test::mouse(*scrubber, QEvent::MouseMove, x);
        test::mouse(*scrubber, QEvent::MouseButtonRelease, *(xs.end() - 1));
    }

    const QStringList options{"1/30", "1/60", "1/125", "1/250", "1/500", "1/1000", "1/2000"};
    FrameClock clock{FrameClock::Mode::Manual};
    QWidget window;
    QLineEdit* field = new QLineEdit;
    ScrubberControl* scrubber = new ScrubberControl;
};

TEST_F(ScrubberTest, WheelStepsEveryTenPixelsOrEveryNotchAndCarriesTheRest) {
    QSignalSpy picked(scrubber, &ScrubberControl::selectionActivated);
    EXPECT_TRUE(test::wheel(*scrubber, {0, 25}, true));
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/1000"));
    EXPECT_DOUBLE_EQ(scrubber->wheelRemainder(), 5);
    test::wheel(*scrubber, {0, -15}, true);  // 5 − 15 = −10: one step back
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/500"));
    // A horizontal swipe counts when it is the larger; leftwards moves forward.
    test::wheel(*scrubber, {-12, 3}, true);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/1000"));

    // One notch; the pixel remainder (2) is not counted as two notches.
    test::wheel(*scrubber, {0, -120}, false);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/500"));
    test::wheel(*scrubber, {0, 60}, false);  // half notches of a fine wheel
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/500"));
    test::wheel(*scrubber, {0, 60}, false);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/1000"));
    test::wheel(*scrubber, {0, 1200}, false);  // ten notches stop at the end
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/2000"));
    EXPECT_EQ(picked.count(), 7);
}

TEST_F(ScrubberTest, ArrowKeysStepUpAndRightForwardDownAndLeftBack) {
    const struct {
        int key;
        const char* after;
    } presses[] = {{Qt::Key_Right, "1/500"}, {Qt::Key_Up, "1/1000"}, {Qt::Key_Down, "1/500"},
                   {Qt::Key_Left, "1/250"}};
    for (const auto& p : presses) {
        EXPECT_TRUE(test::key(*scrubber, p.key));
        EXPECT_EQ(scrubber->selection(), QString::fromLatin1(p.after)) << p.key;
    }
    EXPECT_FALSE(test::key(*scrubber, Qt::Key_A));  // passed on
}

TEST_F(ScrubberTest, DragIsClampedAndReleaseSelectsWhatIsUnderTheHighlight) {
    drag({200, 100, -400, -2000});
    EXPECT_DOUBLE_EQ(scrubber->dragOffset(), 0);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/2000"));
    drag({200, 600, 3000});
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/30"));

    // Mid-drag the strip stops at the end, and the value under the highlight shows.
    test::mouse(*scrubber, QEvent::MouseButtonPress, 200);
    test::mouse(*scrubber, QEvent::MouseMove, 200);
    test::mouse(*scrubber, QEvent::MouseMove, 130);  // 70 points left: a bit more than one cell
    EXPECT_DOUBLE_EQ(scrubber->dragOffset(), -70);
    EXPECT_EQ(scrubber->displayIndex(), 1);
    test::mouse(*scrubber, QEvent::MouseButtonRelease, 130);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/60"));
}

TEST_F(ScrubberTest, ClickStepsToTheValueHitAndShortDragsAreClicks) {
    drag({200 + 56 * 2 + 10});  // two cells right of the centre
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/1000"));
    drag({200, 201, 202});  // travelled 2 points: a click at 202, the centre cell
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/1000"));
    drag({200 - 56, 200 - 56 + 2});
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/500"));
}

TEST_F(ScrubberTest, SelectionOutsideTheListActsAsTheFirstAndEmptyListIgnoresInput) {
    scrubber->setSelection(QStringLiteral("Bulb"));
    EXPECT_EQ(scrubber->baseIndex(), 0);
    test::key(*scrubber, Qt::Key_Right);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/60"));

    scrubber->setOptions({});
    scrubber->setSelection(QString());
    QSignalSpy changed(scrubber, &ScrubberControl::selectionChanged);
    test::key(*scrubber, Qt::Key_Right);
    test::wheel(*scrubber, {0, 120}, false);
    drag({200, 0});
    drag({300});
    EXPECT_EQ(changed.count(), 0);
    EXPECT_DOUBLE_EQ(scrubber->dragOffset(), 0);
}

TEST_F(ScrubberTest, HoverTakesTheFocusAndLeavingGivesItBack) {
    activate();
    enter();
    EXPECT_TRUE(scrubber->hasFocus());
    EXPECT_TRUE(scrubber->isHovered());
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(scrubber->highlightLineWidth(), 2.0);
    leave();
    EXPECT_TRUE(field->hasFocus());
    EXPECT_FALSE(scrubber->isHovered());
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(scrubber->highlightLineWidth(), 1.5);

    // Focus moved on while hovering: leaving does not take it from its new holder.
    enter();
    auto* other = new QLineEdit(&window);
    other->show();
    other->setFocus();
    leave();
    EXPECT_TRUE(other->hasFocus());
}

TEST_F(ScrubberTest, DisabledKeepsItsValueTakesNoFocusAndNoInput) {
    activate();
    scrubber->setEnabled(false);
    EXPECT_EQ(scrubber->focusPolicy(), Qt::NoFocus);
    QSignalSpy changed(scrubber, &ScrubberControl::selectionChanged);
    enter();
    EXPECT_TRUE(field->hasFocus());
    EXPECT_FALSE(scrubber->isHovered());
    test::key(*scrubber, Qt::Key_Right);
    test::wheel(*scrubber, {0, 120}, false);
    drag({200, 0});
    drag({300});
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(scrubber->selection(), QStringLiteral("1/250"));
    // Disabling while it holds the focus gives the focus back.
    scrubber->setEnabled(true);
    enter();
    ASSERT_TRUE(scrubber->hasFocus());
    scrubber->setEnabled(false);
    EXPECT_FALSE(scrubber->hasFocus());
}

}  // namespace
}  // namespace pexil::ui
