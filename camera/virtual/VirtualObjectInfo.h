#pragma once

#include "kit/ptp/Bytes.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace pexil::camera {

// The standard PTP ObjectInfo dataset as a camera sends it for one object of its card.
struct VirtualObjectInfo {
    static constexpr std::uint16_t associationFormat = 0x3001;
    static constexpr std::uint16_t genericFolder = 0x0001;
    static constexpr std::uint16_t jfifThumbnail = 0x3808;

    std::uint32_t storageId = 0;
    std::uint16_t format = 0x3000;
    std::uint16_t protection = 0;
    std::uint64_t size = 0;  // written as 0xFFFFFFFF from 4 GiB on, as MTP does
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
    QDateTime captureDate;       // camera clock; an invalid date is sent as an empty string
    QDateTime modificationDate;  // likewise
    QString keywords;

    // StorageID, ObjectFormat, ProtectionStatus, ObjectCompressedSize, ThumbFormat,
    // ThumbCompressedSize, ThumbPixWidth, ThumbPixHeight, ImagePixWidth, ImagePixHeight,
    // ImageBitDepth, ParentObject, AssociationType, AssociationDesc, SequenceNumber, then
    // the strings Filename, CaptureDate, ModificationDate, Keywords, all little-endian.
    Bytes encode() const;
};

// "YYYYMMDDThhmmss", the PTP form of a date (no zone: cameras keep local time).
QString ptpDate(const QDateTime& date);

}  // namespace pexil::camera
