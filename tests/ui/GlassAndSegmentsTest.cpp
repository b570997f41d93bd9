#include "ui/components/ElidedLabel.h"
#include "ui/components/GlassButton.h"
#include "ui/components/SegmentedControl.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <QEnterEvent>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace pexil::ui {
namespace {

using test::distance;

QColor centre(QWidget& w) {
    return test::render(w, Theme::background()).pixelColor(w.width() / 2, w.height() / 2);
}

TEST(GlassButton, GlassBrightensUnderThePointerAndTintsIt) {
    FrameClock clock(FrameClock::Mode::Manual);
    GlassButton button(GlassButton::Shape::Circle);
    button.setFrameClock(&clock);
    button.resize(40, 40);
    const QColor resting = centre(button);
    EXPECT_GT(distance(resting, Theme::background()), 5);  // there is glass

    QEnterEvent enter(QPointF(20, 20), QPointF(20, 20), QPointF(20, 20));
    QApplication::sendEvent(&button, &enter);
    clock.advance(0.06);
    EXPECT_GT(button.hoverAmount(), 0.5);
    EXPECT_LT(button.hoverAmount(), 1);
    clock.advance(0.1);
    EXPECT_DOUBLE_EQ(button.hoverAmount(), 1);
    EXPECT_GT(centre(button).lightness(), resting.lightness());
    EXPECT_EQ(clock.demand(), 0);

    button.setTint(Theme::danger());
    const QColor tinted = centre(button);
    EXPECT_GT(tinted.red(), tinted.green() + 20);
}

TEST(GlassButton, InactiveCapsuleDrawsNoGlass) {
    GlassButton capsule(GlassButton::Shape::Capsule);
    capsule.resize(120, 28);
    EXPECT_GT(distance(centre(capsule), Theme::background()), 5);
    capsule.setActive(false);
    EXPECT_FALSE(capsule.drawsGlass());
    EXPECT_EQ(distance(centre(capsule), Theme::background()), 0);
    EXPECT_EQ(capsule.focusPolicy(), Qt::NoFocus);
}

TEST(SegmentedControl, UserPicksAreActivationsProgrammaticChangesAreNot) {
    SegmentedControl control;
    EXPECT_EQ(control.currentIndex(), -1);
    control.addSegment(QStringLiteral("テザー 3"));
    control.addSegment(QStringLiteral("カード 12"));
    QSignalSpy changed(&control, &SegmentedControl::currentIndexChanged);
    QSignalSpy activated(&control, &SegmentedControl::activated);

    control.setCurrentIndex(0);
    control.segment(1)->click();
    EXPECT_EQ(control.currentIndex(), 1);
    EXPECT_EQ(changed.count(), 2);
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated.at(0).at(0).toInt(), 1);

    control.setCurrentIndex(-1);  // none chosen
    EXPECT_EQ(control.currentIndex(), -1);
    control.setSegmentText(1, QStringLiteral("カード 読込中"));
    EXPECT_EQ(control.segmentText(1), QStringLiteral("カード 読込中"));
    EXPECT_EQ(control.segment(0)->focusPolicy(), Qt::NoFocus);
}

TEST(ElidedLabel, ALongTextEndsInAnEllipsisAndIsWholeInTheToolTip) {
    ElidedLabel label;
    label.show();  // a hidden widget hears of its size only when shown
    const QString name = QStringLiteral("Canon EOS 5D Mark IV を準備しています");
    label.setFullText(name);
    EXPECT_EQ(label.minimumSizeHint().width(), 0);  // never widens its column
    for (const int width : {400, 60}) {
        label.resize(width, 20);
        const bool fits = label.fontMetrics().horizontalAdvance(name) <= width;
        EXPECT_EQ(label.isElided(), !fits) << width;
        EXPECT_EQ(label.text().endsWith(QChar(0x2026)), !fits) << width;
        EXPECT_EQ(label.toolTip(), fits ? QString() : name) << width;
        EXPECT_EQ(label.fullText(), name);
    }
    // A new text is elided to the room already there.
    label.setFullText(QStringLiteral("Z 6"));
    EXPECT_EQ(label.text(), "Z 6");
    EXPECT_TRUE(label.toolTip().isEmpty());
}

// A choice the body's own dial holds is still shown as the current one.
TEST(SegmentedControl, TheChosenSegmentShowsWhenTheControlIsDisabled) {
    SegmentedControl control;
    for (const char* text : {"M", "P", "A", "S"}) control.addSegment(QString::fromUtf8(text));
    control.resize(control.sizeHint());
    control.setCurrentIndex(1);
    control.setEnabled(false);
    const QImage image = test::render(control, Theme::background());
    const QRect chosen = control.segment(1)->geometry();
    const QRect other = control.segment(2)->geometry();
    const QColor inChosen = image.pixelColor(chosen.left() + 4, chosen.center().y());
    const QColor inOther = image.pixelColor(other.left() + 4, other.center().y());
    EXPECT_GT(inChosen.red() - inOther.red(), 20) << inChosen.name().toStdString() << " " << inOther.name().toStdString();
}

}  // namespace
}  // namespace pexil::ui
