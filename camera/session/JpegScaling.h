#pragma once

#include "kit/ptp/Bytes.h"

#include <optional>

namespace pexil::camera {

// Scales a JPEG down so that its longer side is at most `maxPixel`, decoding at reduced
// size in the DCT domain (never full size, then scaled). A picture that already fits is
// given back unchanged; none when the bytes are not a JPEG libjpeg-turbo can read.
std::optional<Bytes> fitJpeg(ByteView jpeg, int maxPixel);

}  // namespace pexil::camera
