#include "camera/virtual/ScenePainter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

namespace pexil::camera {

namespace {

struct Color {
    double r = 0;
    double g = 0;
    double b = 0;
};

Color mix(const Color& a, const Color& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Color randomColor(SeedSequence& seq, double lo, double hi) {
    const auto channel = [&] { return lo + (hi - lo) * seq.unit(); };
    const double r = channel();
    const double g = channel();
    const double b = channel();
    return {r, g, b};
}

std::uint8_t clampByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

// Segments a–g of each digit, bit 0 = a (top), then clockwise, g (middle) last.
constexpr std::array<std::uint8_t, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void fillRect(RgbImage& image, int x0, int y0, int x1, int y1, const Color& color) {
    x0 = std::clamp(x0, 0, image.width);
    x1 = std::clamp(x1, 0, image.width);
    y0 = std::clamp(y0, 0, image.height);
    y1 = std::clamp(y1, 0, image.height);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.width * 3;
        for (int x = x0; x < x1; ++x) {
            row[x * 3] = clampByte(color.r);
            row[x * 3 + 1] = clampByte(color.g);
            row[x * 3 + 2] = clampByte(color.b);
        }
    }
}

void drawNumber(RgbImage& image, int number, const Color& ink, const Color& paper) {
    const std::string digits = std::to_string(std::abs(number) % 1000000);
    const int height = std::max(10, image.height / 8);
    const int width = height / 2;
    const int stroke = std::max(2, height / 8);
    const int gap = width / 3;
    const int margin = std::max(4, image.height / 24);
    const int total = static_cast<int>(digits.size()) * (width + gap) - gap;
    fillRect(image, margin - stroke, margin - stroke, margin + total + stroke,
             margin + height + stroke, paper);
    int x = margin;
    for (const char c : digits) {
        const std::uint8_t seg = kSegments[static_cast<std::size_t>(c - '0')];
        const int half = height / 2;
        if (seg & 0x01) fillRect(image, x, margin, x + width, margin + stroke, ink);
        if (seg & 0x02) fillRect(image, x + width - stroke, margin, x + width, margin + half, ink);
        if (seg & 0x04)
            fillRect(image, x + width - stroke, margin + half, x + width, margin + height, ink);
        if (seg & 0x08)
            fillRect(image, x, margin + height - stroke, x + width, margin + height, ink);
        if (seg & 0x10) fillRect(image, x, margin + half, x + stroke, margin + height, ink);
        if (seg & 0x20) fillRect(image, x, margin, x + stroke, margin + half, ink);
        if (seg & 0x40)
            fillRect(image, x, margin + half - stroke / 2, x + width,
                     margin + half + stroke / 2 + 1, ink);
        x += width + gap;
    }
}

// One pass of a running-sum box blur along a line of `n` pixels `stride` bytes apart; the
// edges repeat the first and last pixel. `padded` is scratch room.
void boxLine(std::uint8_t* line, int n, std::size_t stride, int radius, std::vector<int>& padded) {
    const int window = 2 * radius + 1;
    const std::size_t width = static_cast<std::size_t>(n + 2 * radius);
    padded.resize(width);
    for (int c = 0; c < 3; ++c) {
        std::uint8_t* first = line + c;
        for (int i = 0; i < radius; ++i) {
            padded[static_cast<std::size_t>(i)] = first[0];
            padded[width - 1 - static_cast<std::size_t>(i)] =
                first[static_cast<std::size_t>(n - 1) * stride];
        }
        for (int i = 0; i < n; ++i)
            padded[static_cast<std::size_t>(radius + i)] =
                first[static_cast<std::size_t>(i) * stride];
        int sum = 0;
        for (int i = 0; i < window; ++i) sum += padded[static_cast<std::size_t>(i)];
        for (int i = 0; i < n; ++i) {
            first[static_cast<std::size_t>(i) * stride] = static_cast<std::uint8_t>(sum / window);
            if (i + 1 < n)
                sum += padded[static_cast<std::size_t>(i + window)] -
                       padded[static_cast<std::size_t>(i)];
        }
    }
}

}  // namespace

void soften(RgbImage& image, int radius) {
    if (radius <= 0 || image.width <= 0 || image.height <= 0) return;
    std::vector<int> scratch;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < image.height; ++y)
            boxLine(image.pixels.data() + y * rowBytes, image.width, 3, radius, scratch);
        for (int x = 0; x < image.width; ++x)
            boxLine(image.pixels.data() + static_cast<std::size_t>(x) * 3, image.height, rowBytes,
                    radius, scratch);
    }
}

RgbImage enlarge(const RgbImage& image, int x, int y, int w, int h) {
    RgbImage out;
    out.width = image.width;
    out.height = image.height;
    out.pixels.resize(image.pixels.size());
    if (image.width <= 0 || image.height <= 0) return out;
    w = std::clamp(w, 1, image.width);
    h = std::clamp(h, 1, image.height);
    x = std::clamp(x, 0, image.width - w);
    y = std::clamp(y, 0, image.height - h);
    for (int oy = 0; oy < out.height; ++oy) {
        const int sy = y + oy * h / out.height;
        const std::uint8_t* from =
            image.pixels.data() + static_cast<std::size_t>(sy) * image.width * 3;
        std::uint8_t* to = out.pixels.data() + static_cast<std::size_t>(oy) * out.width * 3;
        for (int ox = 0; ox < out.width; ++ox) {
            const std::size_t sx = static_cast<std::size_t>(x + ox * w / out.width) * 3;
            to[ox * 3] = from[sx];
            to[ox * 3 + 1] = from[sx + 1];
            to[ox * 3 + 2] = from[sx + 2];
        }
    }
    return out;
}

std::uint64_t SeedSequence::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

RgbImage paintScene(int width, int height, std::uint64_t seed, double phase, int number) {
    RgbImage image;
    image.width = std::max(1, width);
    image.height = std::max(1, height);
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0);
    const double w = image.width;
    const double h = image.height;

    SeedSequence seq(seed);
    const Color skyTop = randomColor(seq, 20, 120);
    const Color skyHorizon = randomColor(seq, 150, 250);
    const Color groundFar = randomColor(seq, 60, 160);
    const Color groundNear = randomColor(seq, 10, 90);
    const Color hill = randomColor(seq, 30, 110);
    const Color sun = randomColor(seq, 200, 255);
    const double horizon = h * (0.52 + 0.12 * seq.unit());
    const double sunX = w * (0.2 + 0.6 * seq.unit());
    const double sunY = horizon * (0.25 + 0.4 * seq.unit());
    const double sunRadius = h * (0.05 + 0.06 * seq.unit());
    const double hillFrequency = (2.0 + 3.0 * seq.unit()) * 2.0 * std::numbers::pi / w;
    const double hillPhase = seq.unit() * 2.0 * std::numbers::pi;
    const double hillHeight = h * (0.06 + 0.1 * seq.unit());
    const int grain = 4 + static_cast<int>(seq.below(4));

    // Per column: the top of the hills, and whether a moving bar covers it.
    std::vector<int> hillTop(static_cast<std::size_t>(image.width));
    std::vector<std::uint8_t> bar(static_cast<std::size_t>(image.width), 0);
    constexpr int kBars = 5;
    const double barWidth = std::max(2.0, w / 36.0);
    for (int x = 0; x < image.width; ++x) {
        const double wave = 0.5 + 0.5 * std::sin(x * hillFrequency + hillPhase) *
                                      std::cos(x * hillFrequency * 0.37 + hillPhase * 0.5);
        hillTop[static_cast<std::size_t>(x)] = static_cast<int>(horizon - hillHeight * wave);
    }
    for (int i = 0; i < kBars; ++i) {
        const double start = std::fmod(w * i / kBars + phase * w * 0.15, w);
        for (int x = static_cast<int>(start); x < static_cast<int>(start + barWidth); ++x)
            bar[static_cast<std::size_t>(x % image.width)] = static_cast<std::uint8_t>(i + 1);
    }
    const int barTop = static_cast<int>(horizon + (h - horizon) * 0.35);
    const int barBottom = static_cast<int>(horizon + (h - horizon) * 0.75);

    // Integer colours, a table for clamping and a table of grain: the inner loop runs for
    // every pixel of every picture and live frame, so it does as little as it can.
    struct Rgb {
        int r, g, b;
    };
    const auto toRgb = [](const Color& c) {
        return Rgb{static_cast<int>(c.r), static_cast<int>(c.g), static_cast<int>(c.b)};
    };
    std::array<std::uint8_t, 768> clamp{};
    for (int i = 0; i < 768; ++i)
        clamp[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(i - 256, 0, 255));
    constexpr std::size_t kGrain = 4096;
    std::array<int, kGrain> grainTable{};
    for (int& g : grainTable)
        g = static_cast<int>(seq.below(static_cast<std::uint64_t>(2 * grain + 1))) - grain;
    std::array<Rgb, kBars + 1> barColor{};
    for (int i = 1; i <= kBars; ++i) {
        const double t = i / static_cast<double>(kBars);
        barColor[static_cast<std::size_t>(i)] =
            toRgb(Color{255 * t, 200 * (1 - t) + 40, 90 + 120 * t});
    }
    const Rgb hillColor = toRgb(mix(hill, skyHorizon, 0.15));
    const Rgb sunColor = toRgb(sun);
    const std::uint8_t* clampAt = clamp.data() + 256;
    const int* hills = hillTop.data();
    const std::uint8_t* bars = bar.data();

    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* out = image.pixels.data() + static_cast<std::size_t>(y) * image.width * 3;
        const Rgb base = toRgb(
            y < horizon ? mix(skyTop, skyHorizon, y / horizon)
                        : mix(groundFar, groundNear, (y - horizon) / std::max(1.0, h - horizon)));
        const bool sky = y < horizon;
        const bool barRow = y >= barTop && y < barBottom;
        // The sun covers one span of this row, if any.
        int sunFrom = 0;
        int sunTo = 0;
        if (std::abs(y - sunY) < sunRadius) {
            const double half = std::sqrt(sunRadius * sunRadius - (y - sunY) * (y - sunY));
            sunFrom = static_cast<int>(sunX - half);
            sunTo = static_cast<int>(sunX + half);
        }
        const int* grainRow = grainTable.data();
        // The grain moves with `number`, as a sensor's noise differs from frame to frame.
        std::size_t g =
            (static_cast<std::size_t>(y) * 2654435761U + static_cast<std::size_t>(number) * 7919U) %
            kGrain;
        for (int x = 0; x < image.width; ++x) {
            Rgb c = base;
            if (sky && y >= hills[x])
                c = hillColor;
            else if (x >= sunFrom && x < sunTo)
                c = sunColor;
            if (barRow && bars[x] != 0) c = barColor[bars[x]];
            const int j = grainRow[g];
            g = g + 1 == kGrain ? 0 : g + 1;
            out[0] = clampAt[c.r + j];
            out[1] = clampAt[c.g + j];
            out[2] = clampAt[c.b + j];
            out += 3;
        }
    }
    drawNumber(image, number, Color{250, 250, 250}, Color{20, 20, 20});
    return image;
}

}  // namespace pexil::camera
