#pragma once

#include "camera/virtual/JpegEncoder.h"
#include "kit/liveview/LiveViewHeader.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QString>

#include <cstdint>
#include <mutex>
#include <utility>

namespace pexil::camera {

// The answers of a Nikon body to GetLiveViewImg: a vendor header of the body's size, in
// big-endian as Nikon writes it, followed by a JPEG of the moving scene.
//
// Header fields: those LiveViewHeader reads (the whole image area is ten times the frame's
// pixels, all of it displayed, never turned), and at 24 (32-bit) the frame number. The AF
// area and the focus judgement follow focus(); a lens away from the subject's distance
// blurs the scene.
//
// Thread-safe; frames are made one at a time.
class LiveViewFrames {
public:
    LiveViewFrames(int width, int height, int headerSize, std::uint64_t seed);

    // Where the body focuses and how sharp the scene is.
    struct Focus {
        QPoint afCentre;  // in the whole area
        FocusJudgement judgement = FocusJudgement::none;
        int blurRadius = 0;  // pixels of the frame; 0 sharp
    };

    int headerSize() const { return headerSize_; }
    QSize wholeArea() const { return {width_ * 10, height_ * 10}; }
    QSize afSize() const { return {width_, height_}; }  // a tenth of the whole each way

    Focus focus() const;
    void setFocus(const Focus& focus);
    // What the header says of the frames' turn and of the part of the whole area shown
    // (empty `display`: all of it, level at power-on).
    void setFraming(LiveViewRotation rotation, QSize display, QPoint centre);
    // The body's live-view zoom: step N shows the whole area's (N + 1)th part each way around
    // the AF area, enlarged to the frame (a fixed framing wins).
    void setZoom(int step);

    // The next frame; `seconds` since live view began moves the scene. Fails only when the
    // JPEG encoder does.
    Result<Bytes, QString> next(double seconds);
    // The header alone, as a body sends it when it has no picture to give.
    Bytes headerOnly();
    std::uint32_t framesMade() const;

private:
    Bytes header(std::uint32_t frame) const;  // mutex_ held
    // The part of the whole area shown, and its centre; mutex_ held.
    std::pair<QSize, QPoint> displayed() const;

    const int width_;
    const int height_;
    const int headerSize_;
    const std::uint64_t seed_;
    mutable std::mutex mutex_;
    JpegEncoder encoder_;       // guarded by mutex_
    std::uint32_t frames_ = 0;  // guarded by mutex_
    Focus focus_;               // guarded by mutex_
    LiveViewRotation rotation_ = LiveViewRotation::level;  // guarded by mutex_
    QSize display_;                                        // guarded by mutex_
    QPoint displayCentre_;                                 // guarded by mutex_
    int zoomStep_ = 0;                                     // guarded by mutex_
};

}  // namespace pexil::camera
