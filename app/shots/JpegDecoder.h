#pragma once

#include <QImage>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace pexil {

// A corrupt header can claim 65535 × 65535 pixels; refuse what no camera writes rather than
// try to allocate 16 GB. The fuzzing build refuses far less: every input there claims a huge
// size, and a full-size decode of 200 megapixels of nothing takes a second, which would leave
// the fuzzer measuring memset instead of the parsers.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr qint64 maxDecodedPixels = 1'000'000;
#else
inline constexpr qint64 maxDecodedPixels = 200'000'000;
#endif

// JPEG decoding with libjpeg-turbo, scaled in the DCT domain so that a thumbnail never costs a
// full-size decode. Stateless; safe to call from any thread at once.
class JpegDecoder {
public:
    // Decodes with the smallest libjpeg-turbo scaling factor whose result is at least maxPixel
    // on its long side (maxPixel 0 = full size); the result may therefore be larger than
    // maxPixel and the caller scales the rest. The image is Format_RGB32, which paints without
    // conversion. None for data that is not a decodable JPEG.
    static std::optional<QImage> decode(const std::uint8_t* data, std::size_t size,
                                        int maxPixel = 0);

    // Decodes started on the application's main thread since the process began: a window
    // that stalls while a picture decodes shows up here (the benchmarks hold it at zero).
    static std::uint64_t mainThreadDecodes();
};

}  // namespace pexil
