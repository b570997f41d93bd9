#pragma once

#include <cstdint>
#include <vector>

namespace pexil::camera {

// An 8-bit RGB picture, rows top to bottom, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width × height × 3
};

// Draws the virtual camera's scene: a sky and ground gradient, hills, a sun, a row of bars
// that move with `phase` (seconds of live view), a little fine grain so that the JPEG weighs
// what a photograph does (it moves with `number`, as a sensor's noise does), and `number` in
// large block digits in the top-left corner (a picture or frame counter). Everything follows from
// `seed`: the same arguments give the same pixels. Pure; any thread.
RgbImage paintScene(int width, int height, std::uint64_t seed, double phase, int number);

// Blurs `image` in place with a box of `radius` pixels each way, twice over (close to a
// Gaussian): how an out-of-focus lens draws the scene. Radius 0 leaves it as it is.
void soften(RgbImage& image, int radius);
// The `w` × `h` part of `image` at (`x`, `y`) (clamped into it), enlarged to the size of
// `image` pixel by pixel, as a body's live-view zoom shows a part of its sensor.
RgbImage enlarge(const RgbImage& image, int x, int y, int w, int h);

// A small, reproducible pseudo-random generator (SplitMix64) for everything the virtual
// camera derives from its seed.
class SeedSequence {
public:
    explicit SeedSequence(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [0, bound); bound > 0.
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t state_;
};

}  // namespace pexil::camera
