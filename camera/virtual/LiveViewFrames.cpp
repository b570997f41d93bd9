#include "camera/virtual/LiveViewFrames.h"

#include "camera/virtual/ScenePainter.h"

#include <algorithm>

namespace pexil::camera {

namespace {

constexpr std::size_t frameNumberAt = 24;

void put32(Bytes& out, std::size_t at, std::uint32_t value) {
    if (at + 4 > out.size()) return;
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

LiveViewFrames::LiveViewFrames(int width, int height, int headerSize, std::uint64_t seed)
    : width_(std::max(16, width)),
      height_(std::max(16, height)),
      headerSize_(std::max(0, headerSize)),
      seed_(seed) {
    focus_.afCentre = QPoint(width_ * 5, height_ * 5);
}

LiveViewFrames::Focus LiveViewFrames::focus() const {
    std::lock_guard lock(mutex_);
    return focus_;
}

void LiveViewFrames::setFocus(const Focus& focus) {
    std::lock_guard lock(mutex_);
    focus_ = focus;
}

void LiveViewFrames::setFraming(LiveViewRotation rotation, QSize display, QPoint centre) {
    std::lock_guard lock(mutex_);
    rotation_ = rotation;
    display_ = display;
    displayCentre_ = centre;
}

Bytes LiveViewFrames::header(std::uint32_t frame) const {
    if (headerSize_ == 0) return {};
    LiveViewHeader h;
    h.jpeg = QSize(width_, height_);
    h.whole = wholeArea();
    const bool all = display_.isEmpty();
    h.display = all ? h.whole : display_;
    h.displayCentre = all ? QPoint(h.whole.width() / 2, h.whole.height() / 2) : displayCentre_;
    h.rotation = rotation_;
    h.afSize = afSize();
    h.afCentre = focus_.afCentre;
    h.judgement = focus_.judgement;
    Bytes out = h.encode(static_cast<std::size_t>(headerSize_));
    out.resize(static_cast<std::size_t>(headerSize_));
    put32(out, frameNumberAt, frame);
    return out;
}

Result<Bytes, QString> LiveViewFrames::next(double seconds) {
    std::lock_guard lock(mutex_);
    const std::uint32_t frame = ++frames_;
    RgbImage scene = paintScene(width_, height_, seed_, seconds, static_cast<int>(frame));
    soften(scene, focus_.blurRadius);
    auto jpeg = encoder_.encode(scene, 70);
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
