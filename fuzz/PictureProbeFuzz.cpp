#include "camera/virtual/PictureProbe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The virtual camera reads whatever files a user puts on its card folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pexil::ByteView bytes(data, size);
    const auto found = pexil::camera::probePicture(bytes, u"X.NEF");
    if (found.thumbnail && found.thumbnail->offset + found.thumbnail->length > size) std::abort();
    (void)pexil::camera::jpegDimensions(bytes);
    return 0;
}
