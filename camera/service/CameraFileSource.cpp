#include "camera/service/CameraFileSource.h"

#include <limits>
#include <utility>

namespace pexil::camera {

CameraFileSource::CameraFileSource(std::shared_ptr<CameraFile> file) : file_(std::move(file)) {}

void CameraFileSource::requestReadData(std::int64_t offset, std::int64_t length, Done done) {
    // GetPartialObject carries the length in 32 bits: a larger one would be cut silently.
    if (!file_ || offset < 0 || length < 0 ||
        length > std::int64_t{std::numeric_limits<std::uint32_t>::max()}) {
        done(std::nullopt, TransportError{QString::fromUtf8("読み出し範囲が不正です")});
        return;
    }
    file_->requestReadData(static_cast<std::uint64_t>(offset), static_cast<std::uint32_t>(length),
                           std::move(done));
}

void CameraFileSource::requestThumbnail(int maxPixel, Done done) {
    // CameraFile reads 0 as "as the camera has it"; the contract here wants a bound.
    if (!file_ || maxPixel < 1) {
        done(std::nullopt, TransportError{QString::fromUtf8("サムネイルの大きさが不正です")});
        return;
    }
    file_->requestThumbnail(maxPixel, std::move(done));
}

}  // namespace pexil::camera
