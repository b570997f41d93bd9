#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"

#include <QStringView>

#include <cstdint>
#include <optional>

namespace pexil::camera {

// What the virtual camera tells of a file on its card in ObjectInfo and GetThumb: its PTP
// object format, its picture size and the embedded thumbnail, read from the head of the
// file. The card holds whatever the user put there, so the head is outside data: nothing
// is read outside `head`, and a malformed or cut structure just leaves the facts it holds
// unknown (0 or none). Pure; any thread.
struct PictureFacts {
    std::uint16_t format = PTP::code(PTP::ObjectFormat::undefined);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitDepth = 0;

    struct Location {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        friend bool operator==(const Location&, const Location&) = default;
    };
    // A JPEG thumbnail lying wholly within the head: the EXIF thumbnail of a JPEG, the
    // smallest embedded JPEG of a TIFF-based raw file.
    std::optional<Location> thumbnail;
    std::uint32_t thumbWidth = 0;
    std::uint32_t thumbHeight = 0;

    friend bool operator==(const PictureFacts&, const PictureFacts&) = default;
};

// `head` is the start of the file (the first 64 KiB are enough for the camera's own files);
// `fileName` gives the format when the content does not (.MOV, .MP4, .TIF).
PictureFacts probePicture(ByteView head, QStringView fileName);

// The pixel size in the first SOF marker of a JPEG that starts at the first byte; none when
// there is no SOF before the scan or the markers are broken.
std::optional<std::pair<std::uint32_t, std::uint32_t>> jpegDimensions(ByteView jpeg);

}  // namespace pexil::camera
