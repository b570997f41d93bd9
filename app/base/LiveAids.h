#pragma once

#include <QSettings>

#include <cstdint>

namespace pexil {

// What the photographer chose to see over the live picture: focus peaking, the histogram,
// clipping marks and a composition guide. Kept in the per-user store; all off by default.
struct LiveAids {
    enum class Guide : std::uint8_t { none, thirds, square, fourByFive, sixteenByNine };
    static constexpr int guideCount = 5;

    bool peaking = false;
    bool histogram = false;
    bool clipping = false;
    Guide guide = Guide::none;

    // Whether a frame needs looking at beyond decoding.
    bool analyses() const { return peaking || histogram || clipping; }
    // Absent or unreadable keys give the defaults.
    static LiveAids read(const QSettings& store);
    void write(QSettings& store) const;
    // The next guide in the order of the menu, back to none after the last.
    static Guide next(Guide guide);

    friend bool operator==(const LiveAids&, const LiveAids&) = default;
};

}  // namespace pexil
