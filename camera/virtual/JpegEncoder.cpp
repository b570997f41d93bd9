#include "camera/virtual/JpegEncoder.h"

#include <turbojpeg.h>

namespace pexil::camera {

struct JpegEncoder::Handle {
    tjhandle tj = nullptr;
    ~Handle() {
        if (tj) tjDestroy(tj);
    }
};

JpegEncoder::JpegEncoder() : handle_(std::make_unique<Handle>()) {
    handle_->tj = tjInitCompress();
}

JpegEncoder::~JpegEncoder() = default;

Result<Bytes, QString> JpegEncoder::encode(const RgbImage& image, int quality) {
    if (!handle_->tj) return QString::fromUtf8("JPEG エンコーダを用意できません");
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3)
        return QString::fromUtf8("JPEG にする画像の大きさが不正です");
    unsigned char* output = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle_->tj, image.pixels.data(), image.width, 0, image.height,
                                   TJPF_RGB, &output, &size, TJSAMP_420, quality, TJFLAG_FASTDCT);
    // The buffer is the library's even on failure; it must go back to it either way.
    struct Free {
        unsigned char* p;
        ~Free() { tjFree(p); }
    } release{output};
    if (status != 0 || !output)
        return QString::fromUtf8("JPEG を作れません: ") +
               QString::fromUtf8(tjGetErrorStr2(handle_->tj));
    return Bytes(output, output + size);
}

}  // namespace pexil::camera
