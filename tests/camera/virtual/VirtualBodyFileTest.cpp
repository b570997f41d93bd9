#include "camera/virtual/VirtualBodyFile.h"

#include "kit/ptp/PTPCodes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pexil::camera {
namespace {

const QString header = QStringLiteral(
    "# a comment\n"
    "manufacturer \"Nikon Corporation\"\n"
    "model \"D9\"\n"
    "version \"V1.10\"\n"
    "vendor-extension a 110 \"Microsoft.com/DeviceServices: 1.0\"\n");

QString file(const QString& line, const QString& extra, const QString& properties) {
    return QStringLiteral("line ") + line + u'\n' + header + extra + QStringLiteral("properties\n") + properties;
}

bool hasProperty(const VirtualModel& m, std::uint16_t code) { return m.property(code) != nullptr; }

TEST(VirtualBodyFile, ReadsEveryKeyAndRefusesWhatItDoesNotKnow) {
    const auto parsed = parseVirtualBodyFile(
        file(QStringLiteral("z6"),
             QStringLiteral("operations 1001 9201\nevents 4002\nlisted-properties 5001 d015\n"
                            "capture-formats 3801\nimage-formats 3801 3000\n"
                            "storage 00010001 63831015424 2 \"NIKON Z9  [Slot 1]\"\n"),
             QStringLiteral("5001 u8 ro range 1 100 1 = 60\n5003 str rw enum \"8256x5504\" \"4128x2752\" = \"4128x2752\"\n")));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->line, VirtualBody::z6);
    EXPECT_EQ(parsed->model, "D9");
    EXPECT_EQ(parsed->version, "V1.10");
    EXPECT_EQ(parsed->vendorExtensionId, 0xAu);
    EXPECT_EQ(parsed->vendorExtensionVersion, 110);
    EXPECT_EQ(parsed->operations, (std::vector<std::uint16_t>{0x1001, 0x9201}));
    EXPECT_EQ(parsed->listedProperties, (std::vector<std::uint16_t>{0x5001, 0xD015}));
    ASSERT_TRUE(parsed->storage);
    EXPECT_EQ(parsed->storage->capacity, 63831015424ULL);
    EXPECT_EQ(parsed->storage->label, "NIKON Z9  [Slot 1]");
    ASSERT_EQ(parsed->properties.size(), 2u);
    EXPECT_EQ(parsed->properties[1].textChoices, (std::vector<QString>{"8256x5504", "4128x2752"}));

    const auto lineless = parseVirtualBodyFile(file(QStringLiteral("none"), {}, {}));
    ASSERT_TRUE(lineless);
    EXPECT_FALSE(lineless->line);
    const QString broken[] = {
        file(QStringLiteral("dslr"), {}, {}),                                // no such line
        file(QStringLiteral("d850"), QStringLiteral("operations 1001 zz\n"), {}),  // not hexadecimal
        file(QStringLiteral("d850"), QStringLiteral("events 12345\n"), {}),        // wider than a code
        file(QStringLiteral("d850"), QStringLiteral("colour \"red\"\n"), {}),      // unknown key
        file(QStringLiteral("d850"), QStringLiteral("storage 1 2\n"), {}),         // too short
        QString(header).remove(QStringLiteral("model \"D9\"\n")) + QStringLiteral("properties\n"),
        QStringLiteral("line d850\n") + header,  // no properties
    };
    for (const QString& text : broken) EXPECT_FALSE(parseVirtualBodyFile(text)) << text.toStdString();
}

TEST(VirtualBodyFile, WhatAReadingLacksComesFromItsLine) {
    struct Case {
        const char* what;
        QString line;
        QString extra;
        QString properties;
        bool liveView;
        bool vendorShutter;  // 0xD100 borrowed
        bool exposure;       // the line's exposure settings borrowed
    };
    const QString battery = QStringLiteral("5001 u8 ro range 1 100 1 = 60\n");
    const QString shutter = QStringLiteral("500d u32 ro enum 40 80 = 40\n");
    const Case cases[] = {
        {"a summary without operations or settings", QStringLiteral("d850"), {}, battery, true, true, true},
        {"a body without live view", QStringLiteral("d850"), QStringLiteral("operations 1001 1002 100e 90c7\n"), battery,
         false, true, true},
        {"its own shutter, no vendor one", QStringLiteral("d850"), {}, battery + shutter, true, false, true},
        {"a body of no line", QStringLiteral("none"), QStringLiteral("operations 1001 1002\n"), battery, false, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = parseVirtualBodyFile(file(c.line, c.extra, c.properties));
        ASSERT_TRUE(parsed);
        const VirtualModel m = virtualModelFromFile(*parsed, QStringLiteral("d9"));
        EXPECT_EQ(m.name, "d9");
        EXPECT_EQ(m.model, "D9");
        EXPECT_EQ(m.property(0x5001)->current, 60);  // the reading's own value wins
        EXPECT_EQ(m.liveViewHeaderSize > 0, c.liveView);
        EXPECT_EQ(hasProperty(m, PTP::code(PTP::Prop::nikonLiveViewStatus)), c.liveView);
        EXPECT_EQ(hasProperty(m, PTP::code(PTP::Prop::nikonExposureTime)), c.vendorShutter);
        EXPECT_EQ(hasProperty(m, PTP::code(PTP::Prop::fNumber)), c.exposure);
        EXPECT_EQ(hasProperty(m, PTP::code(PTP::Prop::nikonMaximumShots)), c.line != QStringLiteral("none"));
        EXPECT_EQ(m.exposureRules, c.exposure);
        if (!c.extra.isEmpty()) {
            EXPECT_EQ(m.operations, parsed->operations);
        }
    }
}

TEST(VirtualBodyFile, TheBodyTakesItsCardPicturesAndClockFromTheReading) {
    const auto parsed = parseVirtualBodyFile(
        file(QStringLiteral("j5"), QStringLiteral("operations 1001 90c0 90c7\nlisted-properties d303\n"),
             QStringLiteral("5003 str rw enum \"5568x3712\" \"3936x2624\" = \"3936x2624\"\n"
                            "5011 str rw none = \"20150101T000000\"\n")));
    ASSERT_TRUE(parsed);
    const VirtualModel m = virtualModelFromFile(*parsed, QStringLiteral("j9"));
    EXPECT_EQ(m.sensorWidth, 5568);
    EXPECT_EQ(m.sensorHeight, 3712);
    EXPECT_EQ(m.exifModel, "NIKON 1 D9");
    EXPECT_EQ(m.software, "Ver.1.10");
    EXPECT_EQ(m.folderSuffix, "NCD9");
    // The camera works its date out from its clock, not from the day it was read.
    EXPECT_TRUE(m.property(PTP::code(PTP::Prop::dateTime))->text.isEmpty());
    // Only the operations the body has can break its link.
    EXPECT_EQ(m.linkBreakingOperations, (std::vector<std::uint16_t>{0x90C0, 0x90C7}));
    EXPECT_TRUE(hasProperty(m, 0xD303));  // listed without a description: the line's
}

TEST(VirtualBodyFile, EveryBodyOfTheCatalogueIsReadAndNamed) {
    const QStringList names = virtualModelNames();
    EXPECT_EQ(names.size(), 26);
    for (const char* name : {"d3400", "d500", "z6-2", "z9", "zf", "j1", "v3", "p3-ptpip", "d850", "generic"})
        EXPECT_TRUE(names.contains(QString::fromUtf8(name))) << name;
    EXPECT_EQ(findVirtualModel(u"z9")->model, "Z 9");
    EXPECT_EQ(findVirtualModel(u"p3-ptpip")->liveViewHeaderSize, 0);
    EXPECT_FALSE(findVirtualModel(u"z10"));
}

}  // namespace
}  // namespace pexil::camera
