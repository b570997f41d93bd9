#include "app/shots/FrameAnalysis.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace pexil {
namespace {

constexpr QRgb accent = 0xFFFFD60A;

QImage flat(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Left half one grey, right half another: one sharp vertical edge.
QImage edge(int w, int h, int left, int right) {
    QImage image = flat(w, h, qRgb(left, left, left));
    for (int y = 0; y < h; ++y)
        for (int x = w / 2; x < w; ++x) image.setPixel(x, y, qRgb(right, right, right));
    return image;
}

TEST(FrameAnalysis, MarksClippingAndEdgesAndCountsLevels) {
    const LiveAids all{true, true, true, LiveAids::Guide::none};
    struct Case {
        const char* name;
        QImage frame;
        int edges, highlights, shadows;
        int lumaLevel;  // the luminance bin holding the first half of the frame
        int lumaCount;
    };
    // Every second pixel each way is looked at: 32 × 20 of them.
    const int w = 64;
    const int h = 40;
    const int looked = (w / 2) * (h / 2);
    const Case cases[] = {
        {"black", flat(w, h, qRgb(0, 0, 0)), 0, 0, looked, 0, looked},
        {"white", flat(w, h, qRgb(255, 255, 255)), 0, looked, 0, 255, looked},
        {"mid grey", flat(w, h, qRgb(128, 128, 128)), 0, 0, 0, 128, looked},
        // The column looked at right of the edge sees it, in every row looked at; nothing is
        // clipped.
        {"one sharp edge", edge(w, h, 60, 190), h / 2, 0, 0, 60, looked / 2},
        // A soft step stays under the threshold.
        {"soft step", edge(w, h, 100, 120), 0, 0, 0, 100, looked / 2},
        // A saturated red channel alone counts as clipped.
        {"red at the limit", flat(w, h, qRgb(252, 40, 40)), 0, looked, 0, 103, looked},
    };
    for (const Case& c : cases) {
        const FrameAnalysis a = analyseFrame(c.frame, all, accent);
        EXPECT_EQ(a.edgePixels, c.edges) << c.name;
        EXPECT_EQ(a.highlightPixels, c.highlights) << c.name;
        EXPECT_EQ(a.shadowPixels, c.shadows) << c.name;
        ASSERT_TRUE(a.histogram) << c.name;
        EXPECT_EQ(a.histogram->pixels, static_cast<std::uint32_t>(looked)) << c.name;
        EXPECT_EQ(a.histogram->bins[Histogram::luminance][c.lumaLevel],
                  static_cast<std::uint32_t>(c.lumaCount))
            << c.name;
        ASSERT_EQ(a.marks.size(), c.frame.size() / 2) << c.name;
    }

    // The marks sit where the counts say: the edge in the accent, clipping in its colours.
    const FrameAnalysis sharp = analyseFrame(edge(w, h, 60, 190), all, accent);
    EXPECT_EQ(qAlpha(sharp.marks.pixel(w / 4 - 1, 5)), 0);
    EXPECT_EQ(sharp.marks.pixel(w / 4, 5), accent);
    EXPECT_EQ(qAlpha(sharp.marks.pixel(w / 4 + 1, 5)), 0);
    const FrameAnalysis clipped = analyseFrame(edge(w, h, 0, 255), all, accent);
    EXPECT_EQ(clipped.marks.pixel(0, 0), FrameAnalysis::shadowColour);
    EXPECT_EQ(clipped.marks.pixel(w / 2 - 1, 0), FrameAnalysis::highlightColour);
    EXPECT_EQ(clipped.edgePixels, 0);  // clipping wins over the edge
    const FrameAnalysis edgesOnly =
        analyseFrame(edge(w, h, 0, 255), {true, false, false, LiveAids::Guide::none}, accent);
    EXPECT_EQ(edgesOnly.edgePixels, h / 2);
    EXPECT_FALSE(edgesOnly.histogram);
}

TEST(FrameAnalysis, OnlyWhatIsAskedForIsWorkedOut) {
    const QImage frame = edge(32, 20, 0, 255);
    const FrameAnalysis none = analyseFrame(frame, LiveAids{}, accent);
    EXPECT_TRUE(none.marks.isNull());
    EXPECT_FALSE(none.histogram);
    const FrameAnalysis histogramOnly =
        analyseFrame(frame, {false, true, false, LiveAids::Guide::none}, accent);
    EXPECT_TRUE(histogramOnly.marks.isNull());
    ASSERT_TRUE(histogramOnly.histogram);
    EXPECT_EQ(histogramOnly.histogram->bins[Histogram::blue][255], 16u * 10 / 2);
    // Other formats are read as well (a JPEG may decode to 8-bit grey).
    const FrameAnalysis grey = analyseFrame(frame.convertToFormat(QImage::Format_Grayscale8),
                                            {true, false, true, LiveAids::Guide::none}, accent);
    EXPECT_EQ(grey.shadowPixels, 16 * 10 / 2);
    // Odd sizes round up: the last row and column are looked at too.
    EXPECT_EQ(
        analyseFrame(flat(5, 3, qRgb(0, 0, 0)), {false, false, true, LiveAids::Guide::none}, accent)
            .marks.size(),
        QSize(3, 2));
}

TEST(LiveAids, AreRememberedAndUnreadableValuesGiveTheDefaults) {
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
    EXPECT_EQ(LiveAids::read(store), LiveAids{});
    const LiveAids chosen{true, false, true, LiveAids::Guide::fourByFive};
    chosen.write(store);
    store.sync();
    QSettings again(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
    EXPECT_EQ(LiveAids::read(again), chosen);
    again.setValue(QStringLiteral("liveView/guide"), 9);
    again.setValue(QStringLiteral("liveView/peaking"), QStringLiteral("yes"));
    const LiveAids odd = LiveAids::read(again);
    EXPECT_EQ(odd.guide, LiveAids::Guide::none);
    EXPECT_FALSE(odd.peaking);
    EXPECT_EQ(LiveAids::next(LiveAids::Guide::sixteenByNine), LiveAids::Guide::none);
    EXPECT_EQ(LiveAids::next(LiveAids::Guide::none), LiveAids::Guide::thirds);
}

}  // namespace
}  // namespace pexil
