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
    for (std::size_t n = 0; n < nameEnd; ++n) EXPECT_FALSE(ObjectInfo::parse(ByteView(full.data(), n))) << n;
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
    EXPECT_EQ(parsePTPDate(QStringLiteral("20240229T120000")), QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::LocalTime));
    EXPECT_EQ(parsePTPDate(QStringLiteral("20240131T235959+0900")),
              QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59), Qt::LocalTime));
    for (const char* bad : {"", "20230229T120000", "2024-01-31T12:00", "20240131 120000", "20241301T000000",
                            "20240101T250000", "2024013XT120000"})
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

}  // namespace
}  // namespace pexil::camera
