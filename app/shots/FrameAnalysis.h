#pragma once

#include "app/base/LiveAids.h"

#include <QImage>

#include <array>
#include <cstdint>
#include <optional>

namespace pexil {

// Counts of the pixels looked at, by level: red, green, blue and luminance (Rec. 601).
struct Histogram {
    enum Channel { red, green, blue, luminance };
    std::array<std::array<std::uint32_t, 256>, 4> bins{};
    std::uint32_t pixels = 0;
};

// What a live frame shows about focus and exposure, worked out on the frame decoder's
// worker from every second pixel each way (rounded up): `marks` is a transparent picture of
// half the frame's size, drawn over it scaled up, with edges above the peaking threshold in
// the peaking colour and clipped pixels in red (highlights, any channel at 250 or more) or
// blue (shadows, every channel at 4 or less); clipping wins over an edge. Null when neither
// peaking nor clipping is asked for. The counts are of those pixels.
struct FrameAnalysis {
    QImage marks;
    std::optional<Histogram> histogram;
    int edgePixels = 0;
    int highlightPixels = 0;
    int shadowPixels = 0;

    // Steps of green between the two neighbours either side (across and down, summed) from
    // which a pixel is an edge: sharp detail, not the sensor's grain.
    static constexpr int peakingThreshold = 64;
    static constexpr QRgb highlightColour = 0xFFFF3B30;
    static constexpr QRgb shadowColour = 0xFF2F7BFF;
};

// Pure; any thread. Only what `aids` asks for is worked out.
FrameAnalysis analyseFrame(const QImage& frame, const LiveAids& aids, QRgb peakingColour);

}  // namespace pexil
