#pragma once

#include "kit/ptp/Bytes.h"

#include <cstdint>
#include <optional>

// Reads the head of a Nikon NEF file (or any file with a TIFF header) to find the picture's
// orientation and the largest embedded JPEG, so that a preview can be shown without
// downloading the whole raw file.
//
// Both operations are pure and may be called from any thread. `bytes` must start at the
// beginning of the file; it is usually only a bounded head of it. Nothing is ever read
// outside `bytes`: a structure that lies partly or wholly beyond it reads as absent, and
// malformed or truncated data never fails loudly, it just yields none.
namespace pexil::NEF {

// Where an embedded JPEG lies in the file, in bytes from its start. Both fields are
// non-negative and below 2^32 (they come from 32-bit TIFF fields).
struct Location {
    std::int64_t offset = 0;
    std::int64_t length = 0;

    friend bool operator==(const Location&, const Location&) = default;
};

// The Orientation (tag 274) of IFD0: 1...8 as TIFF defines them. None when the header is
// not a TIFF header, IFD0 or its Orientation entry cannot be read, or the value lies
// outside 1...8. No other IFD is consulted.
std::optional<int> orientation(ByteView bytes);

// The longest JPEG reachable from IFD0 through SubIFDs and ExifIFD pointers, given either
// by JPEGInterchangeFormat/Length or by a single-strip old-style JPEG (Compression 6).
// Among equally long ones the first found wins. None when nothing usable was found.
//
// The location is not checked against `bytes`: it usually points beyond the head that was
// given, and the caller reads it from the file. Previews whose tables lie beyond the head
// are not found.
std::optional<Location> largestPreview(ByteView bytes);

}  // namespace pexil::NEF
