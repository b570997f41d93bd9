#include "app/shots/JpegDecoder.h"

#include <QCoreApplication>
#include <QThread>

#include <turbojpeg.h>

#include <atomic>
#include <limits>
#include <memory>

namespace pexil {

namespace {

struct HandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using DecompressHandle = std::unique_ptr<void, HandleDeleter>;

// QImage::Format_RGB32 is 0xffRRGGBB in native order; libjpeg-turbo writes 0xff into X.
constexpr int nativePixelFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;

// A counter and not a hook: it must cost nothing and cannot change what a decode does.
std::atomic<std::uint64_t> mainThreadDecodeCount{0};

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

tjscalingfactor chooseScale(int width, int height, int maxPixel) {
    const tjscalingfactor full{1, 1};
    if (maxPixel <= 0) return full;
    const bool wide = width >= height;
    const int longSide = wide ? width : height;
    if (longSide <= maxPixel) return full;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    if (!factors) return full;
    tjscalingfactor best = full;
    int bestSide = longSide;
    for (int i = 0; i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num > f.denom) continue;  // never enlarge
        const int side = TJSCALED(longSide, f);
        if (side >= maxPixel && side < bestSide) {
            best = f;
            bestSide = side;
        }
    }
    return best;
}

}  // namespace

std::optional<QImage> JpegDecoder::decode(const std::uint8_t* data, std::size_t size,
                                          int maxPixel) {
    if (onMainThread()) mainThreadDecodeCount.fetch_add(1, std::memory_order_relaxed);
    if (!data || size < 4 || size > std::numeric_limits<unsigned long>::max()) return std::nullopt;
    DecompressHandle handle(tjInitDecompress());
    if (!handle) return std::nullopt;
    const auto length = static_cast<unsigned long>(size);
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, length, &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return std::nullopt;
    }
    const tjscalingfactor scale = chooseScale(width, height, maxPixel);
    const int outWidth = TJSCALED(width, scale);
    const int outHeight = TJSCALED(height, scale);
    if (static_cast<qint64>(outWidth) * outHeight > maxDecodedPixels) return std::nullopt;

    QImage image(outWidth, outHeight, QImage::Format_RGB32);
    if (image.isNull()) return std::nullopt;
    // Decoding straight into the image's pixels saves a copy of every frame.
    const int result =
        tjDecompress2(handle.get(), data, length, image.bits(), outWidth,
                      static_cast<int>(image.bytesPerLine()), outHeight, nativePixelFormat, 0);
    // A warning (a truncated file, a bad Huffman code near the end) still fills the whole image:
    // the rest is grey, as every viewer shows such a picture. Only an error means no picture.
    if (result != 0 && tjGetErrorCode(handle.get()) != TJERR_WARNING) return std::nullopt;
    return image;
}

std::uint64_t JpegDecoder::mainThreadDecodes() {
    return mainThreadDecodeCount.load(std::memory_order_relaxed);
}

}  // namespace pexil
