#pragma once

#include "camera/service/CameraFile.h"
#include "kit/cardfile/CardFileSource.h"

#include <memory>

namespace pexil::camera {

// A file of the camera service's card catalogue as CardFile reads it. Answers come on the
// main thread, from a task of the device that awaits CameraFile's request (the device's
// end answers it with an error); a range the camera cannot express (a negative
// offset or length, a length of 4 GiB or more) is answered at once with none and an error,
// without a transaction.
class CameraFileSource final : public CardFileSource {
public:
    explicit CameraFileSource(std::shared_ptr<CameraFile> file);

    const std::shared_ptr<CameraFile>& file() const { return file_; }

    void requestReadData(std::int64_t offset, std::int64_t length, Done done) override;
    void requestThumbnail(int maxPixel, Done done) override;

private:
    std::shared_ptr<CameraFile> file_;
};

}  // namespace pexil::camera
