#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace pexil::camera {

// What GetObjectInfo says of one object on the card: a picture, or a folder (an
// association) that pictures name as their parent.
struct ObjectInfo {
    static constexpr std::uint16_t associationFormat = PTP::code(PTP::ObjectFormat::association);
    static constexpr std::uint16_t genericFolder =
        PTP::genericFolder;  // associationType of a folder
    static constexpr std::uint16_t jfifThumbnail = PTP::code(PTP::ObjectFormat::jfif);

    std::uint32_t storageId = 0;
    std::uint16_t format = 0;
    std::uint16_t protection = 0;
    std::uint64_t size = 0;  // 0xFFFFFFFF in the dataset means "4 GiB or more"
    std::uint16_t thumbFormat = 0;
    std::uint32_t thumbSize = 0;
    std::uint32_t thumbWidth = 0;
    std::uint32_t thumbHeight = 0;
    std::uint32_t imageWidth = 0;
    std::uint32_t imageHeight = 0;
    std::uint32_t imageBitDepth = 0;
    std::uint32_t parent = 0;  // 0: at the storage's root
    std::uint16_t associationType = 0;
    std::uint32_t associationDesc = 0;
    std::uint32_t sequenceNumber = 0;
    QString filename;
    std::optional<QDateTime> captureDate;  // in the camera's clock, read as local time
    std::optional<QDateTime> modificationDate;

    bool isFolder() const { return format == associationFormat; }

    // Parses the dataset; none when anything up to the file name is missing or cut short.
    // Dates that are absent or not of the PTP form read as none.
    static std::optional<ObjectInfo> parse(ByteView bytes);
    // The dataset as a camera sends it (the virtual camera, tests): the fields above in
    // order, little-endian, then the strings Filename, CaptureDate, ModificationDate and
    // an empty Keywords; sizes from 4 GiB on as 0xFFFFFFFF, as MTP does.
    Bytes encode() const;

    friend bool operator==(const ObjectInfo&, const ObjectInfo&) = default;
};

// "YYYYMMDDThhmmss" in local time, the PTP form of a date (cameras keep local time);
// empty for an invalid date.
QString formatPTPDate(const QDateTime& date);

// A PTP DateTime "YYYYMMDDThhmmss" with an optional tenth of a second or zone suffix,
// read in the computer's time zone (cameras keep local time). None when malformed.
std::optional<QDateTime> parsePTPDate(const QString& text);

}  // namespace pexil::camera
