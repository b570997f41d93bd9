#include "camera/virtual/LiveViewFrames.h"

#include "camera/virtual/ScenePainter.h"

#include <algorithm>
#include <tuple>

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

void LiveViewFrames::setZoom(int step) {
    std::lock_guard lock(mutex_);
    zoomStep_ = std::max(0, step);
}

std::pair<QSize, QPoint> LiveViewFrames::displayed() const {
    const QSize whole = wholeArea();
    if (!display_.isEmpty()) return {display_, displayCentre_};
    if (zoomStep_ == 0) return {whole, QPoint(whole.width() / 2, whole.height() / 2)};
    const QSize part = whole / (zoomStep_ + 1);
    const QPoint centre(
        std::clamp(focus_.afCentre.x(), part.width() / 2, whole.width() - part.width() / 2),
        std::clamp(focus_.afCentre.y(), part.height() / 2, whole.height() - part.height() / 2));
    return {part, centre};
}

Bytes LiveViewFrames::header(std::uint32_t frame) const {
    if (headerSize_ == 0) return {};
    LiveViewHeader h;
    h.jpeg = QSize(width_, height_);
    h.whole = wholeArea();
    std::tie(h.display, h.displayCentre) = displayed();
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
    if (zoomStep_ > 0 && display_.isEmpty()) {
        // The whole area is ten times the frame's pixels.
        const auto [part, centre] = displayed();
        scene =
            enlarge(scene, (centre.x() - part.width() / 2) / 10,
                    (centre.y() - part.height() / 2) / 10, part.width() / 10, part.height() / 10);
    }
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
