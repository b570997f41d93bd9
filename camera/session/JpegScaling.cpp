#include "camera/session/JpegScaling.h"

#include <turbojpeg.h>

#include <memory>
#include <vector>

namespace pexil::camera {

namespace {
struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;
}  // namespace

std::optional<Bytes> fitJpeg(ByteView jpeg, int maxPixel) {
    TjHandle decoder(tjInitDecompress());
    if (!decoder || jpeg.empty()) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    auto* source = const_cast<unsigned char*>(jpeg.data());  // the API is not const-correct; it only reads
    if (tjDecompressHeader3(decoder.get(), source, static_cast<unsigned long>(jpeg.size()), &width, &height,
                            &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0)
        return std::nullopt;
    if (maxPixel <= 0 || std::max(width, height) <= maxPixel) return Bytes(jpeg.begin(), jpeg.end());

    // The largest DCT scaling factor whose result fits; 1/8 when none does.
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    int outWidth = TJSCALED(width, factors[count - 1]);
    int outHeight = TJSCALED(height, factors[count - 1]);
    for (int i = 0; i < count; ++i) {
        const int w = TJSCALED(width, factors[i]);
        const int h = TJSCALED(height, factors[i]);
        if (std::max(w, h) <= maxPixel && w * h > outWidth * outHeight) {
            outWidth = w;
            outHeight = h;
        }
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight) * 3);
    if (tjDecompress2(decoder.get(), source, static_cast<unsigned long>(jpeg.size()), pixels.data(), outWidth, 0,
                      outHeight, TJPF_RGB, TJFLAG_FASTDCT) != 0)
        return std::nullopt;
    TjHandle encoder(tjInitCompress());
    if (!encoder) return std::nullopt;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (tjCompress2(encoder.get(), pixels.data(), outWidth, 0, outHeight, TJPF_RGB, &out, &outSize, TJSAMP_420, 85,
                    TJFLAG_FASTDCT) != 0) {
        tjFree(out);
        return std::nullopt;
    }
    Bytes result(out, out + outSize);
    tjFree(out);
    return result;
}

}  // namespace pexil::camera
