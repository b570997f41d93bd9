#pragma once

#include "camera/virtual/JpegEncoder.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QString>

#include <cstdint>
#include <mutex>

namespace pexil::camera {

// The answers of a Nikon body to GetLiveViewImg: a vendor header of the body's size, in
// big-endian as Nikon writes it, followed by a JPEG of the moving scene.
//
// Header fields written (offsets in bytes, 16-bit unless noted), as in the DSLR's live-view
// object: 0 JPEG width, 2 JPEG height, 4 and 6 the whole image area, 8 and 10 the display
// area, 12 and 14 the display centre, 16 and 18 the AF area size, 20 and 22 the AF area
// centre; 24 (32-bit) the frame number. The rest is zero.
//
// Thread-safe; frames are made one at a time.
class LiveViewFrames {
public:
    LiveViewFrames(int width, int height, int headerSize, std::uint64_t seed);

    int headerSize() const { return headerSize_; }

    // The next frame; `seconds` since live view began moves the scene. Fails only when the
    // JPEG encoder does.
    Result<Bytes, QString> next(double seconds);
    // The header alone, as a body sends it when it has no picture to give.
    Bytes headerOnly();
    std::uint32_t framesMade() const;

private:
    Bytes header(std::uint32_t frame) const;

    const int width_;
    const int height_;
    const int headerSize_;
    const std::uint64_t seed_;
    mutable std::mutex mutex_;
    JpegEncoder encoder_;       // guarded by mutex_
    std::uint32_t frames_ = 0;  // guarded by mutex_
};

}  // namespace pexil::camera
