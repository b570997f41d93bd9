#pragma once

#include "kit/async/Task.h"
#include "kit/cardfile/CardFileSource.h"
#include "kit/ptp/Bytes.h"

#include <cstdint>
#include <memory>
#include <optional>

// Thumbnails, orientations and previews of the pictures on a camera's card, read without
// downloading whole files. The card browser shows nothing for an item whose call gives
// none; no call ever fails otherwise.
//
// Every call always finishes: with what the file's source delivered, or with none when the
// source reported an error, delivered nothing, or did not answer within `timeout` on the
// running task's clock. An answer that comes after its time-out changes nothing. Several
// calls may be outstanding at once, on the same file or on different ones.
//
// Threads: to be awaited from tasks on the main executor; the source may answer from any
// thread. The file is kept alive until the call finishes.
namespace pexil::CardFile {

// How much of a file's head is read to find its orientation.
inline constexpr std::int64_t orientationHeadSize = 2048;
// How much of a file's head is read to find its embedded preview.
inline constexpr std::int64_t previewHeadSize = 0x20000;
// The largest embedded preview that is read (40 MiB): a longer one is taken as a corrupt
// directory rather than a picture worth its transfer.
inline constexpr std::int64_t largestPreviewSize = 0x2800000;
// How long each request to the source may take.
inline constexpr double timeoutSeconds = 60;

// `length` bytes (fewer at the end of the file) at `offset`. None also for a negative
// offset or length, which are not sent to the camera; a length of 0 gives no bytes at once.
async::Task<std::optional<Bytes>> read(std::shared_ptr<CardFileSource> file, std::int64_t offset,
                                       std::int64_t length);

// The camera's encoded thumbnail, at most `maxPixel` on its longest side. None for a
// `maxPixel` below 1.
async::Task<std::optional<Bytes>> thumbnailData(std::shared_ptr<CardFileSource> file, int maxPixel);

// The TIFF Orientation (1…8) found in the first 2048 bytes of a NEF or TIFF file; none for
// other files (a JPEG's EXIF is not looked at) and when the head cannot be read.
async::Task<std::optional<int>> orientation(std::shared_ptr<CardFileSource> file);

struct Preview {
    Bytes jpeg;                      // as read from the card; not checked to be a JPEG
    std::optional<int> orientation;  // of the picture, when the head gives one
};

// The largest JPEG embedded in a NEF or TIFF file whose directories lie within its first
// 128 KiB, with the picture's orientation. None when the head cannot be read, has no
// preview, announces one of 0 bytes or over 40 MiB (then it is not read), or when the
// preview cannot be read whole.
async::Task<std::optional<Preview>> embeddedPreview(std::shared_ptr<CardFileSource> file);

}  // namespace pexil::CardFile
