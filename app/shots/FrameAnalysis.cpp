#include "app/shots/FrameAnalysis.h"

#include <algorithm>
#include <cstdlib>

namespace pexil {

namespace {

constexpr int highlightLevel = 250;
constexpr int shadowLevel = 4;

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
    const bool marking = aids.peaking || aids.clipping;
    if (marking) out.marks = QImage((w + 1) / 2, (h + 1) / 2, QImage::Format_ARGB32_Premultiplied);
    Histogram histogram;
    std::uint32_t counted = 0;

    // Every second pixel each way: a quarter of the work, and as fine as the screen shows a
    // frame. An edge spans two pixels of the central difference, so none falls between.
    for (int y = 0; y < h; y += 2) {
        const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
        const auto* above = reinterpret_cast<const QRgb*>(frame.constScanLine(y > 0 ? y - 1 : y));
        const auto* below =
            reinterpret_cast<const QRgb*>(frame.constScanLine(y + 1 < h ? y + 1 : y));
        auto* marks = marking ? reinterpret_cast<QRgb*>(out.marks.scanLine(y / 2)) : nullptr;
        for (int x = 0; x < w; x += 2) {
            const QRgb p = row[x];
            const int r = qRed(p);
            const int g = qGreen(p);
            const int b = qBlue(p);
            if (aids.histogram) {
                ++histogram.bins[Histogram::red][r];
                ++histogram.bins[Histogram::green][g];
                ++histogram.bins[Histogram::blue][b];
                ++histogram.bins[Histogram::luminance][(77 * r + 150 * g + 29 * b) >> 8];
                ++counted;
            }
            if (!marking) continue;
            QRgb mark = 0;
            const int hi = std::max({r, g, b});
            if (aids.clipping && hi <= shadowLevel) {
                mark = FrameAnalysis::shadowColour;
                ++out.shadowPixels;
            } else if (aids.clipping && hi >= highlightLevel) {
                mark = FrameAnalysis::highlightColour;
                ++out.highlightPixels;
            } else if (aids.peaking) {
                // Green stands for brightness, as in a camera's own peaking: it carries most
                // of it. Edge columns and rows use themselves as the missing neighbour.
                const int left = qGreen(row[x > 0 ? x - 1 : x]);
                const int right = qGreen(row[x + 1 < w ? x + 1 : x]);
                const int gradient =
                    std::abs(right - left) + std::abs(qGreen(below[x]) - qGreen(above[x]));
                if (gradient >= FrameAnalysis::peakingThreshold) {
                    mark = peakingColour;
                    ++out.edgePixels;
                }
            }
            marks[x / 2] = mark;
        }
    }
    if (aids.histogram) {
        histogram.pixels = counted;
        out.histogram = histogram;
    }
    return out;
}

}  // namespace pexil
