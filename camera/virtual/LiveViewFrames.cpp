#include "camera/virtual/LiveViewFrames.h"

#include "camera/virtual/ScenePainter.h"

#include <algorithm>

namespace pexil::camera {

namespace {

void put16(Bytes& out, std::size_t at, std::uint32_t value) {
    if (at + 2 > out.size()) return;
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void put32(Bytes& out, std::size_t at, std::uint32_t value) {
    put16(out, at, value >> 16);
    put16(out, at + 2, value & 0xFFFF);
}

}  // namespace

LiveViewFrames::LiveViewFrames(int width, int height, int headerSize, std::uint64_t seed)
    : width_(std::max(16, width)),
      height_(std::max(16, height)),
      headerSize_(std::max(0, headerSize)),
      seed_(seed) {}

Bytes LiveViewFrames::header(std::uint32_t frame) const {
    Bytes out(static_cast<std::size_t>(headerSize_), 0);
    const auto w = static_cast<std::uint32_t>(width_);
    const auto h = static_cast<std::uint32_t>(height_);
    // The whole area in the sensor's coordinates, as the DSLR reports it for its 640-pixel frames.
    const std::uint32_t wholeWidth = w * 10;
    const std::uint32_t wholeHeight = h * 10;
    put16(out, 0, w);
    put16(out, 2, h);
    put16(out, 4, wholeWidth);
    put16(out, 6, wholeHeight);
    put16(out, 8, wholeWidth);
    put16(out, 10, wholeHeight);
    put16(out, 12, wholeWidth / 2);
    put16(out, 14, wholeHeight / 2);
    put16(out, 16, wholeWidth / 10);
    put16(out, 18, wholeHeight / 10);
    put16(out, 20, wholeWidth / 2);
    put16(out, 22, wholeHeight / 2);
    put32(out, 24, frame);
    return out;
}

Result<Bytes, QString> LiveViewFrames::next(double seconds) {
    std::lock_guard lock(mutex_);
    const std::uint32_t frame = ++frames_;
    auto jpeg =
        encoder_.encode(paintScene(width_, height_, seed_, seconds, static_cast<int>(frame)), 70);
    if (!jpeg) return jpeg.error();
    Bytes out = header(frame);
    out.insert(out.end(), jpeg.value().begin(), jpeg.value().end());
    return out;
}

Bytes LiveViewFrames::headerOnly() {
    std::lock_guard lock(mutex_);
    return header(frames_);
}

std::uint32_t LiveViewFrames::framesMade() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

}  // namespace pexil::camera
