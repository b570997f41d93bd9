#include "ui/components/LightMeterView.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace pexil::ui {
namespace {

using test::distance;

TEST(LightMeterView, TextsAndColoursOfTheValue) {
    const struct {
        std::optional<double> value;
        const char* text;
        QColor color;
        const char* accessible;
    } cases[] = {
        {std::nullopt, "—", Theme::text(), "—"},
        {0.04, "±0", Theme::amber(), "+0.0 EV"},
        {-0.04, "±0", Theme::amber(), "-0.0 EV"},
        {0.12, "+0.1", Theme::amber(), "+0.1 EV"},
        {-0.19, "-0.2", Theme::amber(), "-0.2 EV"},
        {0.2, "+0.2", Theme::text(), "+0.2 EV"},
        {-1.3, "-1.3", Theme::text(), "-1.3 EV"},
        {5.0, "+5.0", Theme::text(), "+5.0 EV"},
        {std::numeric_limits<double>::quiet_NaN(), "—", Theme::text(), "—"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LightMeterView::valueText(c.value), QString::fromUtf8(c.text));
        EXPECT_EQ(LightMeterView::valueColor(c.value), c.color);
        EXPECT_EQ(LightMeterView::accessibleValue(c.value), QString::fromUtf8(c.accessible));
    }
}

// What a grab of the meter shows along the scale's middle row.
struct Scan {
    std::vector<int> ticks;               // columns of grey tick ink
    std::optional<std::pair<int, int>> needle;  // first and last amber column
    bool amberValue = false;              // amber ink right of the scale
};

bool isAmber(const QColor& c) { return c.red() - c.blue() > 60 && c.green() - c.blue() > 30; }

Scan scan(LightMeterView& meter) {
    const QImage image = test::render(meter, Theme::background());
    const auto layout = meter.layoutFor(meter.size());
    const int row = int(layout.scale.center().y());
    Scan s;
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, row);
        if (isAmber(c) && x < layout.value.left()) {
            if (!s.needle) s.needle = {x, x};
            s.needle->second = x;
        } else if (x >= layout.scale.left() - 1 && x <= layout.scale.right() + 1 &&
                   distance(c, Theme::background()) > 30) {
            s.ticks.push_back(x);
        }
        for (int y = 0; y < image.height() && x >= layout.value.left(); ++y)
            if (isAmber(image.pixelColor(x, y))) s.amberValue = true;
    }
    return s;
}

TEST(LightMeterView, NeedlePositionReadFromTheImage) {
    FrameClock clock(FrameClock::Mode::Manual);
    LightMeterView meter;
    meter.setFrameClock(&clock);
    meter.resize(420, 20);

    const Scan empty = scan(meter);
    ASSERT_FALSE(empty.needle);
    ASSERT_EQ(empty.ticks.size(), 13u);  // crisp, one column each
    const double left = empty.ticks.front();
    const double right = empty.ticks.back();
    const double centre = (left + right) / 2;
    EXPECT_NEAR(right - left, 169, 1.5);  // the scale at its full 170 points

    const auto needleAt = [&](double ev) {
        meter.setValue(ev);
        clock.advance(0.2);  // past the 0.15 s move
        const Scan s = scan(meter);
        EXPECT_TRUE(s.needle) << ev;
        return s.needle.value_or(std::pair{-1000, -1000});
    };
    const auto plus3 = needleAt(3);
    EXPECT_NEAR(plus3.first, left, 1);  // +3 EV at the left end
    EXPECT_NEAR(plus3.second - plus3.first + 1, 3, 1);
    const auto zero = needleAt(0);
    EXPECT_NEAR((zero.first + zero.second) / 2.0, centre, 1);
    const auto minus3 = needleAt(-3);
    EXPECT_NEAR(minus3.second, right, 1);  // −3 EV at the right end
    const auto plus5 = needleAt(5);
    EXPECT_LT(plus5.second, left - 40);  // beyond the left end: not clamped
    // The scale is linear past its end: 2 EV beyond +3 is two thirds of 0 → +3.
    EXPECT_NEAR(plus3.first - plus5.first, (zero.first - plus3.first) * 2.0 / 3.0, 1.5);
}

TEST(LightMeterView, NeedleMovesOverAFifthOfASecondAndValueColourShows) {
    FrameClock clock(FrameClock::Mode::Manual);
    LightMeterView meter;
    meter.setFrameClock(&clock);
    meter.resize(420, 20);
    meter.setValue(-1.3);
    const Scan right = scan(meter);  // a value appearing jumps to its place
    ASSERT_TRUE(right.needle);
    EXPECT_FALSE(right.amberValue);
    EXPECT_EQ(meter.accessibleDescription(), QStringLiteral("-1.3 EV"));
    EXPECT_EQ(meter.accessibleName(), QStringLiteral("露出計"));

    meter.setValue(0.12);
    EXPECT_EQ(clock.demand(), 1);
    clock.advance(0.05);
    const Scan moving = scan(meter);
    clock.advance(0.15);
    const Scan settled = scan(meter);
    ASSERT_TRUE(moving.needle && settled.needle);
    EXPECT_LT(moving.needle->first, right.needle->first);
    EXPECT_GT(moving.needle->first, settled.needle->first);
    EXPECT_TRUE(settled.amberValue);
    EXPECT_EQ(clock.demand(), 0);  // nothing moves: no frames asked for

    meter.setValue(std::nullopt);
    EXPECT_FALSE(scan(meter).needle);
}

}  // namespace
}  // namespace pexil::ui
