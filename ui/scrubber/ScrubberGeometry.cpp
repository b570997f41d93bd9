#include "ui/scrubber/ScrubberGeometry.h"

#include <algorithm>
#include <cmath>

namespace pexil::ui {

int ScrubberGeometry::baseIndex(const QStringList& options, const QString& selection) {
    return std::max<int>(int(options.indexOf(selection)), 0);
}

int ScrubberGeometry::displayIndex(int base, double dragOffset, double itemWidth, int count) {
    if (count <= 0 || itemWidth <= 0) return 0;
    const double raw = std::round(base - dragOffset / itemWidth);
    return int(std::clamp(raw, 0.0, double(count - 1)));
}

double ScrubberGeometry::dragAfter(double offset, double dx, int base, int count, double itemWidth) {
    if (count <= 0) return offset;
    return std::min(itemWidth * base, std::max(-(count - 1 - base) * itemWidth, offset + dx));
}

int ScrubberGeometry::clickSteps(double x, double width, double itemWidth) {
    if (itemWidth <= 0) return 0;
    return int(std::round((x - width / 2) / itemWidth));
}

double ScrubberGeometry::stripLeft(double width, double itemWidth, double basePosition,
                                   double dragOffset) {
    return width / 2 - (itemWidth * basePosition + itemWidth / 2) + dragOffset;
}

ScrubberGeometry::Fade ScrubberGeometry::fade(double width, double labelWidth) {
    const double span = std::max(width, labelWidth + 80);
    return {span, (labelWidth - 6) / span, (labelWidth + 30) / span, 1 - 50 / span};
}

int ScrubberGeometry::WheelCarry::feed(double delta, double threshold) {
    if (!std::isfinite(delta) || threshold <= 0) return 0;
    if (threshold != threshold_) accum_ = 0;
    threshold_ = threshold;
    accum_ += delta;
    const double whole = std::trunc(accum_ / threshold);
    // A wild delta (a broken driver) must not turn into an endless run of steps.
    constexpr double maxSteps = 1000;
    if (std::abs(whole) > maxSteps) {
        accum_ = 0;
        return int(std::copysign(maxSteps, whole));
    }
    accum_ -= whole * threshold;
    return int(whole);
}

}  // namespace pexil::ui
