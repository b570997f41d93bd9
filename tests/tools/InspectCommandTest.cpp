#include "support/CommandRun.h"
#include "support/Datasets.h"
#include "tools/pexilctl/InspectCommand.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

using Outcome = testing::CommandOutcome;

class InspectCommand : public ::testing::Test {
protected:
    QString file(const QString& name, const Bytes& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }

    Outcome run(const QStringList& args) { return testing::runCommand(runInspect, args); }

    QTemporaryDir dir;
};

TEST_F(InspectCommand, DeviceInfoPrintsStableKeyValueLines) {
    const QString path =
        file(QStringLiteral("di.bin"), testing::deviceInfo({.vendor = 6,
                                                            .model = QStringLiteral("J5"),
                                                            .operations = {0x1001, 0x90C7},
                                                            .events = {0x4002},
                                                            .properties = {}}));
    const Outcome r = run({QStringLiteral("deviceinfo"), path});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QStringLiteral("vendor: 0x00000006\n"
                                    "effective-vendor: 10\n"
                                    "manufacturer: Nikon Corporation\n"
                                    "model: J5\n"
                                    "version: V1.02\n"
                                    "serial: 3000123\n"
                                    "operations: 0x1001 0x90C7\n"
                                    "events: 0x4002\n"
                                    "properties: \n"
                                    "nikon1: yes\n"));
    EXPECT_TRUE(r.err.isEmpty());
}

TEST_F(InspectCommand, AContainerHeaderIsCheckedAndSkipped) {
    const Bytes data = testing::deviceInfo();
    Bytes container;
    PTP::appendLE(container, static_cast<std::uint32_t>(data.size() + 12));
    PTP::appendLE(container, std::uint16_t{2});
    PTP::appendLE(container, std::uint16_t{0x1001});
    PTP::appendLE(container, std::uint32_t{7});
    container.insert(container.end(), data.begin(), data.end());
    EXPECT_EQ(run({QStringLiteral("deviceinfo"), file(QStringLiteral("c.bin"), container),
                   QStringLiteral("--container")})
                  .code,
              0);

    container[4] = 3;  // a response container is not a data phase
    const Outcome wrongType =
        run({QStringLiteral("deviceinfo"), file(QStringLiteral("c3.bin"), container),
             QStringLiteral("--container")});
    EXPECT_EQ(wrongType.code, 1);
    EXPECT_TRUE(wrongType.out.isEmpty());
    EXPECT_EQ(wrongType.err.count(u'\n'), 1);

    // Without --container the header is data, and the dataset does not parse.
    container[4] = 2;
    container[0] = 0xFF;  // a length beyond the file
    EXPECT_EQ(run({QStringLiteral("deviceinfo"), file(QStringLiteral("c4.bin"), container),
                   QStringLiteral("--container")})
                  .code,
              1);
}

TEST_F(InspectCommand, FailuresAreOneLineWithDistinctExitCodes) {
    const Outcome garbage =
        run({QStringLiteral("deviceinfo"), file(QStringLiteral("g.bin"), Bytes{1, 2, 3})});
    EXPECT_EQ(garbage.code, 1);
    EXPECT_EQ(garbage.err.count(u'\n'), 1);
    EXPECT_TRUE(garbage.out.isEmpty());
    EXPECT_EQ(run({QStringLiteral("deviceinfo"), dir.filePath(QStringLiteral("missing.bin"))}).code,
              2);
    EXPECT_EQ(run({QStringLiteral("photos"), file(QStringLiteral("x.bin"), Bytes{})}).code, 2);
    EXPECT_EQ(run({QStringLiteral("propdesc")}).code, 2);
    EXPECT_EQ(run({QStringLiteral("propdesc"), QStringLiteral("f"), QStringLiteral("--vendor"),
                   QStringLiteral("ten")})
                  .code,
              2);
    EXPECT_EQ(run({QStringLiteral("--help")}).code, 0);
}

Bytes focusModeDesc() {
    // focusMode, uint16, read-write, default 2, current 0x8011, enumeration of 2, 0x8010, 0x8011
    return Bytes{0x0A, 0x50, 0x04, 0x00, 0x01, 0x02, 0x00, 0x11, 0x80,
                 0x02, 0x03, 0x00, 0x02, 0x00, 0x10, 0x80, 0x11, 0x80};
}

TEST_F(InspectCommand, PropDescFormatsForTheGivenVendor) {
    const QString path = file(QStringLiteral("pd.bin"), focusModeDesc());
    const Outcome nikon =
        run({QStringLiteral("propdesc"), path, QStringLiteral("--vendor"), QStringLiteral("10")});
    EXPECT_EQ(nikon.code, 0);
    EXPECT_EQ(nikon.out, QStringLiteral("code: 0x500A\n"
                                        "label: フォーカスモード\n"
                                        "type: uint16\n"
                                        "writable: yes\n"
                                        "current: 32785\n"
                                        "current-text: AF-C\n"
                                        "choice: 2 AF\n"
                                        "choice: 32784 AF-S\n"
                                        "choice: 32785 AF-C\n"));
    const Outcome generic = run({QStringLiteral("propdesc"), path});
    EXPECT_TRUE(generic.out.contains(QStringLiteral("current-text: 0x8011\n")));
    EXPECT_EQ(run({QStringLiteral("propdesc"),
                   file(QStringLiteral("bad.bin"), Bytes{0x02, 0x50, 0x04, 0x00})})
                  .code,
              1);
}

TEST_F(InspectCommand, EventsPrintOneLinePerEvent) {
    const Outcome r =
        run({QStringLiteral("events"),
             file(QStringLiteral("ev.bin"), Bytes{0x02, 0x00, 0x02, 0x40, 0x12, 0x00, 0x00, 0x3F,
                                                  0x0D, 0x40, 0x00, 0x00, 0x00, 0x00})});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QStringLiteral("0x4002 0x3F000012\n0x400D 0x00000000\n"));
    EXPECT_EQ(
        run({QStringLiteral("events"), file(QStringLiteral("none.bin"), Bytes{0x00, 0x00})}).out,
        QString());
    EXPECT_EQ(run({QStringLiteral("events"), file(QStringLiteral("short.bin"), Bytes{0x01})}).code,
              1);
}

// A little-endian TIFF whose IFD0 has Orientation 6 and a JPEG at offset 64.
Bytes tiffWithPreview(std::uint32_t jpegLength) {
    Bytes t{'I', 'I', 42, 0, 8, 0, 0, 0};
    PTP::appendLE(t, std::uint16_t{3});
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        PTP::appendLE(t, tag);
        PTP::appendLE(t, type);
        PTP::appendLE(t, std::uint32_t{1});
        PTP::appendLE(t, value);
    };
    entry(274, 3, 6);
    entry(513, 4, 64);
    entry(514, 4, jpegLength);
    t.resize(64, 0);
    return t;
}

TEST_F(InspectCommand, NEFFindsAndExtractsThePreviewWithoutHalfFiles) {
    Bytes nef = tiffWithPreview(6);
    nef.insert(nef.end(), {0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9});
    const QString out = dir.filePath(QStringLiteral("preview.jpg"));
    const Outcome r = run({QStringLiteral("nef"), file(QStringLiteral("a.nef"), nef),
                           QStringLiteral("--extract"), out});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QStringLiteral("orientation: 6\npreview: offset=64 length=6\n"));
    QFile jpeg(out);
    ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
    EXPECT_EQ(jpeg.readAll(), QByteArray("\xFF\xD8\x01\x02\xFF\xD9", 6));

    // A preview running past the end of the file is an error and writes nothing.
    const QString cutOut = dir.filePath(QStringLiteral("cut.jpg"));
    const Outcome cut =
        run({QStringLiteral("nef"), file(QStringLiteral("cut.nef"), tiffWithPreview(1000)),
             QStringLiteral("--extract"), cutOut});
    EXPECT_EQ(cut.code, 1);
    EXPECT_FALSE(QFile::exists(cutOut));

    const Outcome plain =
        run({QStringLiteral("nef"), file(QStringLiteral("p.bin"), Bytes(100, 0))});
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.out, QStringLiteral("orientation: none\npreview: none\n"));
}

}  // namespace
}  // namespace pexil::cli
