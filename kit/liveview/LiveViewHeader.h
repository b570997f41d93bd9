#pragma once

#include "kit/ptp/Bytes.h"

#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSize>

#include <cstdint>
#include <optional>

namespace pexil {

// How the body is turned, and so how its live frames must be turned to stand upright.
enum class LiveViewRotation : std::uint8_t {
    level = 0,
    turnLeft = 1,   // the frame is shown turned a quarter counter-clockwise
    turnRight = 2,  // a quarter clockwise
    upsideDown = 3,
};

// The body's verdict on focus at the AF area: after an AF run, focused or not; after the
// area moved or the lens was driven by hand, none yet.
enum class FocusJudgement : std::uint8_t { none = 0, notFocused = 1, focused = 2 };

// What the vendor header in front of a Nikon live-view JPEG says about the picture. Offsets
// in bytes, 16-bit big-endian unless noted: 0/2 JPEG size, 4/6 the whole image area (the
// coordinate space of the AF area and of ChangeAfArea), 8/10 the displayed part of it and
// 12/14 that part's centre (smaller than the whole while the body's live-view zoom is in),
// 16/18 the AF area's size and 20/22 its centre, 29 (8-bit) the rotation, 38 (8-bit) the
// focus judgement.
struct LiveViewHeader {
    QSize jpeg;
    QSize whole;
    QSize display;
    QPoint displayCentre;
    QSize afSize;
    QPoint afCentre;
    LiveViewRotation rotation = LiveViewRotation::level;
    FocusJudgement judgement = FocusJudgement::none;

    // The header of a GetLiveViewImg answer: the bytes before the JPEG, or the whole answer
    // when it is all header. None when it is shorter than the AF fields (24 bytes) or names
    // no whole area; a display area of zero size counts as the whole. Rotation and judgement
    // are read only when the header is long enough; unknown values read as level and none.
    static std::optional<LiveViewHeader> parse(ByteView header);
    // The header for `header`'s fields, `size` bytes long (at least 40), zero elsewhere:
    // what a body sends, for the virtual camera and tests.
    Bytes encode(std::size_t size) const;

    friend bool operator==(const LiveViewHeader&, const LiveViewHeader&) = default;
};

// Where things are on the live picture as the photographer sees it: turned upright, showing
// the displayed part of the whole area. Positions on the picture are fractions of its width
// and height (0 to 1, left to right and top to bottom).
class LiveViewGeometry {
public:
    explicit LiveViewGeometry(const LiveViewHeader& header) : header_(header) {}

    // Quarter turns clockwise that make the JPEG upright (0 to 3).
    int quarterTurns() const;
    // The point of the whole area under `shown` (clamped to the picture), in whole pixels.
    QPoint toWhole(QPointF shown) const;
    // Where a point of the whole area appears on the picture.
    QPointF toShown(QPointF whole) const;
    // The AF area on the picture; empty when the header gives it no size.
    QRectF afArea() const;

private:
    QRectF displayed() const;

    LiveViewHeader header_;
};

}  // namespace pexil
