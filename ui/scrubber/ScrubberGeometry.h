#pragma once

#include <QString>
#include <QStringList>

namespace pexil::ui {

// The scrubber's arithmetic, in points, free of widgets so that tests call it directly.
class ScrubberGeometry final {
public:
    ScrubberGeometry() = delete;

    // Position of `selection` in `options` (first equal text); 0 when it is not there.
    static int baseIndex(const QStringList& options, const QString& selection);
    // The value under the highlight while dragging: base − offset / itemWidth rounded (halves
    // away from zero), clamped to the list; 0 for an empty list.
    static int displayIndex(int base, double dragOffset, double itemWidth, int count);
    // The drag offset after moving by `dx`, limited so that the highlight never leaves the list.
    static double dragAfter(double offset, double dx, int base, int count, double itemWidth);
    // Steps a click at `x` asks for: the cell it hit, counted from the centre one.
    static int clickSteps(double x, double width, double itemWidth);
    // Left edge of cell 0: the base cell centred, shifted by the drag.
    static double stripLeft(double width, double itemWidth, double basePosition, double dragOffset);

    // The fade over the strip, as fractions of `span` from the left edge: clear until
    // `clearUntil`, rising to opaque at `opaqueFrom`, opaque until `opaqueUntil`, clear at 1.
    struct Fade {
        double span, clearUntil, opaqueFrom, opaqueUntil;
    };
    static Fade fade(double width, double labelWidth);

    // Scroll deltas carried over between events: each whole threshold of travel is one step,
    // the remainder waits for the next event. A remainder is only carried between deltas of
    // the same kind (same threshold): a few trackpad pixels are not wheel notches.
    class WheelCarry {
    public:
        // Adds `delta` and returns the signed number of steps it completes.
        int feed(double delta, double threshold);
        double remainder() const { return accum_; }
        void reset() { accum_ = 0; }

    private:
        double accum_ = 0;
        double threshold_ = 0;
    };
};

}  // namespace pexil::ui
