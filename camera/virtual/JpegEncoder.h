#pragma once

#include "camera/virtual/ScenePainter.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QString>

#include <memory>

namespace pexil::camera {

// Compresses RGB pictures to baseline JPEG (4:2:0) with libjpeg-turbo. One encoder holds
// one compressor: use it from one thread at a time. The output starts with SOI and the
// JFIF APP0 segment that libjpeg-turbo writes.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Quality 1–100. Fails (with the library's message) only when the library does.
    Result<Bytes, QString> encode(const RgbImage& image, int quality);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace pexil::camera
