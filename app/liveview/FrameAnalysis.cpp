#include "app/liveview/FrameAnalysis.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pexil {

namespace {

constexpr int highlightLevel = 250;
constexpr int shadowLevel = 4;

int luma(QRgb p) {
    return (77 * qRed(p) + 150 * qGreen(p) + 29 * qBlue(p)) >> 8;
}

}  // namespace

FrameAnalysis analyseFrame(const QImage& input, const LiveAids& aids, QRgb peakingColour) {
    FrameAnalysis out;
    if (input.isNull() || !aids.analyses()) return out;
    const QImage frame =
        input.format() == QImage::Format_RGB32 || input.format() == QImage::Format_ARGB32
            ? input
            : input.convertToFormat(QImage::Format_RGB32);
    const int w = frame.width();
    const int h = frame.height();

    // One pass for the luminance plane and the histogram; edges need the rows around.
    std::vector<std::uint8_t> lumaPlane(static_cast<std::size_t>(w) * h);
    Histogram histogram;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
        std::uint8_t* l = lumaPlane.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const QRgb p = row[x];
            const int y8 = luma(p);
            l[x] = static_cast<std::uint8_t>(y8);
            if (aids.histogram) {
                ++histogram.bins[Histogram::red][qRed(p)];
                ++histogram.bins[Histogram::green][qGreen(p)];
                ++histogram.bins[Histogram::blue][qBlue(p)];
                ++histogram.bins[Histogram::luminance][y8];
            }
        }
    }
    if (aids.histogram) {
        histogram.pixels = static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h);
        out.histogram = histogram;
    }
    if (!aids.peaking && !aids.clipping) return out;

    out.marks = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    out.marks.fill(Qt::transparent);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
        auto* marks = reinterpret_cast<QRgb*>(out.marks.scanLine(y));
        const std::uint8_t* l = lumaPlane.data() + static_cast<std::size_t>(y) * w;
        // Edge rows and columns use themselves as the missing neighbour.
        const std::uint8_t* above = y > 0 ? l - w : l;
        const std::uint8_t* below = y + 1 < h ? l + w : l;
        for (int x = 0; x < w; ++x) {
            if (aids.clipping) {
                const QRgb p = row[x];
                const int hi = std::max({qRed(p), qGreen(p), qBlue(p)});
                if (hi <= shadowLevel) {
                    marks[x] = FrameAnalysis::shadowColour;
                    ++out.shadowPixels;
                    continue;
                }
                if (hi >= highlightLevel) {
                    marks[x] = FrameAnalysis::highlightColour;
                    ++out.highlightPixels;
                    continue;
                }
            }
            if (!aids.peaking) continue;
            const int left = l[x > 0 ? x - 1 : x];
            const int right = l[x + 1 < w ? x + 1 : x];
            const int gradient = std::abs(right - left) + std::abs(below[x] - above[x]);
            if (gradient >= FrameAnalysis::peakingThreshold) {
                marks[x] = peakingColour;
                ++out.edgePixels;
            }
        }
    }
    return out;
}

}  // namespace pexil
