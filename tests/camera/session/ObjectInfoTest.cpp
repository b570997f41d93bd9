#include "camera/session/ObjectInfo.h"
#include "kit/ptp/PTP.h"

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

ObjectInfo picture() {
    ObjectInfo info;
    info.storageId = 0x00010001;
    info.format = 0x3801;
    info.size = 8'123'456;
    info.thumbFormat = 0x3808;
    info.thumbSize = 5000;
    info.imageWidth = 8256;
    info.imageHeight = 5504;
    info.parent = 0x2A;
    info.filename = QStringLiteral("DSC_0042.JPG");
    info.captureDate = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 15), Qt::LocalTime);
    info.modificationDate = info.captureDate;
    return info;
}

TEST(ObjectInfo, RoundTripsThroughTheDataset) {
    const ObjectInfo info = picture();
    const auto parsed = ObjectInfo::parse(info.encode());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->filename, info.filename);
    EXPECT_EQ(parsed->size, info.size);
    EXPECT_EQ(parsed->parent, 0x2AU);
    EXPECT_EQ(parsed->captureDate, info.captureDate);
    EXPECT_FALSE(parsed->isFolder());
}

TEST(ObjectInfo, EveryFieldSurvivesTheDatasetAndHugeSizesSayFourGiBOrMore) {
    ObjectInfo info = picture();
    info.protection = 0x8002;
    info.thumbWidth = 160;
    info.thumbHeight = 106;
    info.imageBitDepth = 24;
    info.associationDesc = 3;
    info.sequenceNumber = 9;
    info.modificationDate.reset();
    auto parsed = ObjectInfo::parse(info.encode());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, info);  // no date given: an empty string, read back as none

    info.size = 5ULL << 30;
    parsed = ObjectInfo::parse(info.encode());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size, 0xFFFFFFFFU);
}

TEST(ObjectInfo, EmptyStringsAreABareZeroCount) {
    ObjectInfo folder;
    folder.format = ObjectInfo::associationFormat;
    folder.associationType = ObjectInfo::genericFolder;
    folder.filename = QStringLiteral("DCIM");
    const Bytes bytes = folder.encode();
    EXPECT_EQ(bytes.size(), 52U + 11 + 3);  // fixed part, "DCIM", three empty strings
    EXPECT_EQ(bytes.back(), 0);
    EXPECT_EQ(formatPTPDate(QDateTime()), QString());
}

TEST(ObjectInfo, EverythingUpToTheFileNameIsRequiredAndNothingIsReadBeyond) {
    const Bytes full = picture().encode();
    const std::size_t fixedPart = 52;
    const std::size_t nameEnd = fixedPart + 1 + 2 * 13;
    for (std::size_t n = 0; n < nameEnd; ++n)
        EXPECT_FALSE(ObjectInfo::parse(ByteView(full.data(), n))) << n;
    const auto noDates = ObjectInfo::parse(ByteView(full.data(), nameEnd));
    ASSERT_TRUE(noDates);
    EXPECT_EQ(noDates->filename, QStringLiteral("DSC_0042.JPG"));
    EXPECT_FALSE(noDates->captureDate);
}

TEST(ObjectInfo, AFileNamePaddedAfterItsTerminatorKeepsTheDatesInPlace) {
    Bytes bytes = picture().encode();
    bytes.resize(52);
    // A count of 16 units: "A.JPG", the terminator, then ten units of padding.
    bytes.push_back(16);
    for (char16_t c : u"A.JPG") PTP::appendLE(bytes, static_cast<std::uint16_t>(c));
    for (int i = 0; i < 10; ++i) PTP::appendLE(bytes, std::uint16_t{0x20});
    const Bytes date = PTP::encodeString(QStringLiteral("20240131T235959.0"));
    bytes.insert(bytes.end(), date.begin(), date.end());
    const auto info = ObjectInfo::parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->filename, QStringLiteral("A.JPG"));
    EXPECT_EQ(info->captureDate, QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59), Qt::LocalTime));
}

TEST(ObjectInfo, DatesAreStrict) {
    EXPECT_EQ(parsePTPDate(QStringLiteral("20240229T120000")),
              QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::LocalTime));
    EXPECT_EQ(parsePTPDate(QStringLiteral("20240131T235959+0900")),
              QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59), Qt::LocalTime));
    for (const char* bad : {"", "20230229T120000", "2024-01-31T12:00", "20240131 120000",
                            "20241301T000000", "20240101T250000", "2024013XT120000"})
        EXPECT_FALSE(parsePTPDate(QString::fromLatin1(bad))) << bad;
}

TEST(ObjectInfo, FoldersAreAssociations) {
    ObjectInfo folder;
    folder.format = ObjectInfo::associationFormat;
    folder.associationType = 1;
    folder.filename = QStringLiteral("100NCD850");
    const auto parsed = ObjectInfo::parse(folder.encode());
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->isFolder());
    EXPECT_EQ(parsed->filename, QStringLiteral("100NCD850"));
}

// Laid out by hand from the standard's ObjectInfo table, field by field, so a mistake shared by
// our encoder and our parser cannot pass unseen.
TEST(ObjectInfo, ReadsADatasetLaidOutByHand) {
    const Bytes bytes = {
        0x01, 0x00, 0x01, 0x00,  // StorageID 0x00010001
        0x01, 0x38,              // ObjectFormat EXIF/JPEG
        0x00, 0x00,              // ProtectionStatus
        0x40, 0xE2, 0x01, 0x00,  // ObjectCompressedSize 123456
        0x08, 0x38,              // ThumbFormat JFIF
        0x88, 0x13, 0x00, 0x00,  // ThumbCompressedSize 5000
        0xA0, 0x00, 0x00, 0x00,  // ThumbPixWidth 160
        0x78, 0x00, 0x00, 0x00,  // ThumbPixHeight 120
        0x40, 0x20, 0x00, 0x00,  // ImagePixWidth 8256
        0x80, 0x15, 0x00, 0x00,  // ImagePixHeight 5504
        0x18, 0x00, 0x00, 0x00,  // ImageBitDepth 24
        0x2A, 0x00, 0x00, 0x00,  // ParentObject
        0x00, 0x00,              // AssociationType
        0x00, 0x00, 0x00, 0x00,  // AssociationDesc
        0x07, 0x00, 0x00, 0x00,  // SequenceNumber
        // Filename "A.NEF": 6 characters with the terminating zero, UTF-16LE.
        0x06, 'A', 0, '.', 0, 'N', 0, 'E', 0, 'F', 0, 0, 0,
        // CaptureDate "20240501T093015": 16 characters with the terminator.
        0x10, '2', 0, '0', 0, '2', 0, '4', 0, '0', 0, '5', 0, '0', 0, '1', 0, 'T', 0, '0', 0, '9',
        0, '3', 0, '0', 0, '1', 0, '5', 0, 0, 0,
        0x00,  // ModificationDate: empty
        0x00,  // Keywords: empty
    };
    const auto info = ObjectInfo::parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->storageId, 0x00010001U);
    EXPECT_EQ(info->format, 0x3801);
    EXPECT_EQ(info->size, 123456U);
    EXPECT_EQ(info->thumbFormat, ObjectInfo::jfifThumbnail);
    EXPECT_EQ(info->thumbSize, 5000U);
    EXPECT_EQ(info->thumbWidth, 160U);
    EXPECT_EQ(info->thumbHeight, 120U);
    EXPECT_EQ(info->imageWidth, 8256U);
    EXPECT_EQ(info->imageHeight, 5504U);
    EXPECT_EQ(info->imageBitDepth, 24U);
    EXPECT_EQ(info->parent, 0x2AU);
    EXPECT_EQ(info->sequenceNumber, 7U);
    EXPECT_EQ(info->filename, QStringLiteral("A.NEF"));
    EXPECT_EQ(info->captureDate, QDateTime(QDate(2024, 5, 1), QTime(9, 30, 15), Qt::LocalTime));
    EXPECT_FALSE(info->modificationDate);
    // What our own encoder writes for the same fields is the same bytes.
    EXPECT_EQ(info->encode(), bytes);
}

}  // namespace
}  // namespace pexil::camera
