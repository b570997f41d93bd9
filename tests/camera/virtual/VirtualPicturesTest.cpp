#include "VirtualCameraSupport.h"

#include "camera/session/ObjectInfo.h"
#include "camera/virtual/PictureFactory.h"
#include "camera/virtual/PictureProbe.h"
#include "camera/virtual/ScenePainter.h"
#include "camera/virtual/VirtualCard.h"
#include "camera/virtual/VirtualModel.h"
#include "camera/virtual/VirtualProperties.h"
#include "kit/device/PropDesc.h"
#include "kit/nef/NEF.h"
#include "kit/ptp/PTPReader.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace pexil::testing {
namespace {

using namespace pexil::camera;

// A reader of the few TIFF tags the tests look at, written apart from the camera's own
// code: the first value of `tag` in IFD0 or, when `exif`, in the Exif IFD.
struct TagValue {
    std::uint32_t number = 0;
    std::string text;
};
std::optional<TagValue> tiffTag(ByteView tiff, std::uint16_t tag, bool exif) {
    if (tiff.size() < 8) return std::nullopt;
    const bool big = tiff[0] == 'M';
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return big ? (tiff[at] << 8 | tiff[at + 1]) : (tiff[at + 1] << 8 | tiff[at]);
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
    };
    const auto find = [&](std::size_t ifd, std::uint16_t wanted) -> std::optional<TagValue> {
        const std::uint32_t n = u16(ifd);
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::size_t e = ifd + 2 + 12 * i;
            if (u16(e) != wanted) continue;
            const std::uint32_t type = u16(e + 2);
            const std::uint32_t count = u32(e + 4);
            TagValue v;
            if (type == 2) {
                const std::size_t at = count > 4 ? u32(e + 8) : e + 8;
                v.text.assign(reinterpret_cast<const char*>(tiff.data() + at), count - 1);
            } else {
                v.number = type == 3 ? u16(e + 8) : u32(e + 8);
            }
            return v;
        }
        return std::nullopt;
    };
    const std::size_t ifd0 = u32(4);
    if (!exif) return find(ifd0, tag);
    const auto pointer = find(ifd0, 34665);
    if (!pointer) return std::nullopt;
    return find(pointer->number, tag);
}

ByteView exifOf(const Bytes& jpeg) {
    // The camera writes SOI, then APP1 "Exif\0\0" with the TIFF block.
    EXPECT_EQ(jpeg[2], 0xFF);
    EXPECT_EQ(jpeg[3], 0xE1);
    const std::size_t length = jpeg[4] << 8 | jpeg[5];
    return ByteView(jpeg).subspan(12, length - 8);
}

PictureMeta sampleMeta(const VirtualModel& model, int orientation) {
    PictureMeta meta;
    meta.make = model.exifMake;
    meta.model = model.exifModel;
    meta.software = model.software;
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    meta.orientation = orientation;
    meta.exposure = VirtualProperties(model).exposure();
    meta.sensorWidth = model.sensorWidth;
    meta.sensorHeight = model.sensorHeight;
    meta.rawBitDepth = model.rawBitDepth;
    return meta;
}

class PictureFiles : public ::testing::Test {
protected:
    void SetUp() override {
        auto rendered = factory.render(1600, 1067, 42, 7);
        ASSERT_TRUE(rendered.ok()) << rendered.error().toStdString();
        scene = std::move(rendered).value();
    }
    const VirtualModel& d850 = virtualModel(VirtualBody::d850);
    PictureFactory factory;
    RenderedScene scene;
};

TEST_F(PictureFiles, JpegDecodesAndCarriesItsDateOrientationAndThumbnail) {
    const Bytes jpeg = PictureFactory::jpegFile(scene, sampleMeta(d850, 6));
    EXPECT_EQ(jpegSize(jpeg), (std::pair{1600, 1067}));
    EXPECT_GT(jpeg.size(), 100U * 1024);  // weighs what a photograph does
    EXPECT_LT(jpeg.size(), 2U * 1024 * 1024);

    const ByteView tiff = exifOf(jpeg);
    EXPECT_EQ(tiffTag(tiff, 36867, true)->text, "2024:05:30 10:20:30");  // DateTimeOriginal
    EXPECT_EQ(tiffTag(tiff, 306, false)->text, "2024:05:30 10:20:30");   // DateTime
    EXPECT_EQ(tiffTag(tiff, 274, false)->number, 6U);                    // Orientation
    EXPECT_EQ(tiffTag(tiff, 272, false)->text, "NIKON D850");
    EXPECT_EQ(tiffTag(tiff, 34855, true)->number, 400U);  // ISO of the power-on settings

    const PictureFacts facts = probePicture(jpeg, u"DSC_0001.JPG");
    EXPECT_EQ(facts.format, PTP::code(PTP::ObjectFormat::exifJpeg));
    EXPECT_EQ(facts.width, 1600U);
    EXPECT_EQ(facts.height, 1067U);
    ASSERT_TRUE(facts.thumbnail);
    const ByteView thumb = ByteView(jpeg).subspan(facts.thumbnail->offset, facts.thumbnail->length);
    EXPECT_EQ(jpegSize(thumb), (std::pair{160, 107}));
    EXPECT_EQ(facts.thumbWidth, 160U);
}

TEST_F(PictureFiles, RawFileGivesItsPreviewAndOrientationToTheNefReader) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    constexpr std::uint32_t rawBytes = 300000;
    ASSERT_TRUE(PictureFactory::writeRawFile(buffer, scene, sampleMeta(d850, 8), rawBytes, 9).ok());
    const Bytes file(buffer.data().begin(), buffer.data().end());
    const Bytes head = PictureFactory::rawHead(scene, sampleMeta(d850, 8), rawBytes);
    ASSERT_EQ(file.size(), head.size() + rawBytes);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), file.begin()));

    const ByteView start = ByteView(file).first(64 * 1024);
    EXPECT_EQ(NEF::orientation(start), 8);
    const auto preview = NEF::largestPreview(start);
    ASSERT_TRUE(preview);
    const ByteView jpeg = ByteView(file).subspan(static_cast<std::size_t>(preview->offset),
                                                 static_cast<std::size_t>(preview->length));
    EXPECT_EQ(jpegSize(jpeg), (std::pair{1600, 1067}));
    EXPECT_LT(static_cast<std::size_t>(preview->offset + preview->length),
              head.size() + 1);  // before the raw data

    EXPECT_EQ(tiffTag(file, 36867, true)->text, "2024:05:30 10:20:30");
    const PictureFacts facts = probePicture(start, u"DSC_0002.NEF");
    EXPECT_EQ(
        facts.format,
        PTP::code(PTP::ObjectFormat::undefined));  // Nikon bodies report raw files as Undefined
    EXPECT_EQ(facts.width, 8256U);
    EXPECT_EQ(facts.height, 5504U);
    EXPECT_EQ(facts.bitDepth, 14U);
    ASSERT_TRUE(facts.thumbnail);
    EXPECT_EQ(facts.thumbWidth, 160U);
    EXPECT_LT(facts.thumbnail->length, static_cast<std::uint64_t>(preview->length));
}

TEST_F(PictureFiles, ProbeNeverReadsOutsideTheHeadWhateverItHolds) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(PictureFactory::writeRawFile(buffer, scene, sampleMeta(d850, 1), 1000, 9).ok());
    const Bytes raw(buffer.data().begin(), buffer.data().begin() + 40000);
    const Bytes jpeg = PictureFactory::jpegFile(scene, sampleMeta(d850, 1));
    std::mt19937 random(1234);
    for (const Bytes* original : {&raw, &jpeg}) {
        for (int round = 0; round < 1500; ++round) {
            Bytes head(original->begin(),
                       original->begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                               original->size(), 1 + random() % 40000)));
            const int flips = static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f)
                head[random() % head.size()] = static_cast<std::uint8_t>(random());
            const PictureFacts facts = probePicture(head, u"X.NEF");
            if (facts.thumbnail) {
                EXPECT_LE(facts.thumbnail->offset + facts.thumbnail->length, head.size());
            }
        }
    }
    // A TIFF whose IFD points at itself, and one that claims thousands of entries.
    const Bytes cycle{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x4A, 0x01, 4,
                      0,   1,   0,  0, 0, 8, 0, 0, 0, 8, 0,    0,    0};
    EXPECT_FALSE(probePicture(cycle, u"C.NEF").thumbnail);
    const Bytes huge{'M', 'M', 0, 42, 0, 0, 0, 8, 0xFF, 0xFF, 0, 1};
    EXPECT_EQ(probePicture(huge, u"H.TIF").width, 0U);
    EXPECT_FALSE(jpegDimensions(Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00}));
}

// ---- The lens's blur and the body's zoom ----

TEST(ScenePainterTest, SofteningSpreadsAnEdgeAndEnlargingShowsThePartAsked) {
    // 16 × 4, black on the left half, white on the right.
    RgbImage edge{16, 4, std::vector<std::uint8_t>(16 * 4 * 3, 0)};
    for (int y = 0; y < 4; ++y)
        for (int x = 8; x < 16; ++x)
            for (int c = 0; c < 3; ++c)
                edge.pixels[static_cast<std::size_t>((y * 16 + x) * 3 + c)] = 255;
    const auto at = [](const RgbImage& image, int x, int y) {
        return image.pixels[static_cast<std::size_t>((y * image.width + x) * 3)];
    };
    RgbImage same = edge;
    soften(same, 0);
    EXPECT_EQ(same.pixels, edge.pixels);
    RgbImage soft = edge;
    soften(soft, 2);
    // The step becomes a ramp; far from it nothing changes, and the edges of the picture
    // are not darkened by what lies beyond them.
    EXPECT_EQ(at(soft, 0, 0), 0);
    EXPECT_EQ(at(soft, 15, 3), 255);
    EXPECT_GT(at(soft, 7, 1), 0);
    EXPECT_LT(at(soft, 8, 1), 255);
    EXPECT_LT(at(soft, 7, 1), at(soft, 8, 1));

    // Enlarging the right half's top-left 4 × 2 fills the picture with white; a part past
    // the edge is moved inside.
    const RgbImage part = enlarge(edge, 8, 0, 4, 2);
    EXPECT_EQ(part.width, 16);
    EXPECT_EQ(part.pixels, std::vector<std::uint8_t>(16 * 4 * 3, 255));
    const RgbImage moved = enlarge(edge, 14, 3, 8, 4);  // becomes x 8, y 0
    EXPECT_EQ(moved.pixels, std::vector<std::uint8_t>(16 * 4 * 3, 255));
    const RgbImage across = enlarge(edge, 6, 0, 4, 4);  // black, black, white, white
    EXPECT_EQ(at(across, 0, 0), 0);
    EXPECT_EQ(at(across, 7, 0), 0);
    EXPECT_EQ(at(across, 8, 0), 255);
}

// ---- Card ----

TEST(VirtualCardTest, TwoThousandPicturesInTwoFoldersAreMadeQuickly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto options = quickOptions();
    options.cardDir = dir.path();
    options.photos = 2000;
    const auto start = std::chrono::steady_clock::now();
    auto cam = openedCamera(options);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(cam);
    EXPECT_LT(took, std::chrono::seconds(30)) << "loose: the speed goal is the benchmark's";
    // 2,000 files, DCIM and two folders.
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getNumObjects), {0xFFFFFFFF, 0, 0}).params,
              std::vector<std::uint32_t>{2003});
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/DCIM/100NCD850")).entryList(QDir::Files).size(),
              1000);
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/DCIM/101NCD850")).entryList(QDir::Files).size(),
              1000);
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/DCIM/101NCD850/DSC_2000.NEF")));
    // Nothing half-written is left behind.
    EXPECT_TRUE(QDir(dir.path() + QStringLiteral("/DCIM/101NCD850"))
                    .entryList(QDir::Hidden | QDir::Files)
                    .size() == 1000);
}

TEST(VirtualCardTest, SameSeedAndClockGiveTheSameCard) {
    const auto cardBytes = [](std::uint64_t seed) {
        QTemporaryDir dir;
        auto options = quickOptions();
        options.cardDir = dir.path();
        options.photos = 4;
        options.seed = seed;
        auto cam = makeCamera(options);
        std::vector<QByteArray> files;
        QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
        QStringList paths;
        while (it.hasNext()) paths.append(it.next());
        paths.sort();
        for (const QString& path : paths) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            files.push_back(file.readAll());
        }
        return files;
    };
    const auto a = cardBytes(5);
    EXPECT_EQ(a.size(), 4U);
    EXPECT_EQ(a, cardBytes(5));
    EXPECT_NE(a, cardBytes(6));
}

TEST(VirtualCardTest, CaptureAfterTheLastFileNumberStartsTheNextFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString old = dir.path() + QStringLiteral("/DCIM/100NCD850/DSC_9999.JPG");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(old).absolutePath()));
    {
        QFile file(old);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    auto options = quickOptions();
    options.cardDir = dir.path();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::initiateCapture), {0, 0}).code,
              PTP::code(PTP::Response::ok));
    ASSERT_EQ(waitUntilReady(*cam, clockOf(options)), PTP::code(PTP::Response::ok));
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/DCIM/101NCD850/DSC_0001.JPG")));
}

TEST(VirtualCardTest, CardFilesNeverReplaceAFileAndLeaveNothingWhenTheyFail) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + QStringLiteral("/A.JPG");
    const QDateTime when(QDate(2022, 1, 2), QTime(3, 4, 5));
    ASSERT_TRUE(writeCardFile(path, Bytes{1, 2, 3}, when).ok());
    EXPECT_EQ(QFileInfo(path).lastModified(), when);
    EXPECT_FALSE(writeCardFile(path, Bytes{9}, when).ok());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\x01\x02\x03", 3));

    const QString other = dir.path() + QStringLiteral("/B.NEF");
    const auto failed = writeCardFile(
        other,
        [](QIODevice& out) -> Result<Done, QString> {
            out.write("partial");
            return QString::fromUtf8("書けませんでした");
        },
        when);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), QString::fromUtf8("書けませんでした"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"A.JPG"});
}

// ---- Property tables ----

TEST(VirtualPropertyTables, EveryDescriptorIsConsistentWithItsOwnForm) {
    for (const QString& name : virtualModelNames()) {
        const VirtualModel& model = *findVirtualModel(name);
        SCOPED_TRACE(name.toStdString());
        ASSERT_GE(model.properties.size(), 2U);
        const VirtualProperties props(model);
        for (const PropertySpec& spec : model.properties) {
            const auto bytes = props.descriptor(spec.code);
            ASSERT_TRUE(bytes);
            PTPReader r(*bytes);
            EXPECT_EQ(r.read<std::uint16_t>(), spec.code);
            EXPECT_EQ(r.read<std::uint16_t>(), PTP::code(spec.type));
            const auto value = props.value(spec.code);
            ASSERT_TRUE(value);
            // The bodies themselves report some values outside their own forms (the Z 6's
            // bracket count, the J5's 0xF0xx values); those the program reads must be sound.
            const bool read = PTP::toProp(spec.code) || spec.code == PTP::Prop::nikonLightMeter ||
                              spec.code == PTP::Prop::nikonMaximumShots ||
                              spec.code == PTP::Prop::nikonRecordingMedia ||
                              spec.code == PTP::Prop::nikonLiveViewStatus ||
                              spec.code == PTP::Prop::nikonLiveViewProhibit;
            if (!spec.isString()) {
                EXPECT_EQ(value->size(), static_cast<std::size_t>(PTP::byteCount(spec.type)))
                    << std::hex << spec.code;
            }
            if (!spec.isString() && read) {
                const std::int64_t current = props.number(spec.code);
                if (spec.form == PropertySpec::Form::enumeration && !spec.choices.empty()) {
                    EXPECT_NE(std::find(spec.choices.begin(), spec.choices.end(), current),
                              spec.choices.end())
                        << std::hex << spec.code;
                }
                if (spec.form == PropertySpec::Form::range) {
                    EXPECT_GE(current, spec.minimum) << std::hex << spec.code;
                    EXPECT_LE(current, spec.maximum) << std::hex << spec.code;
                }
            }
            if (PTP::toMirroredProp(spec.code)) {
                const auto parsed = PropDesc::parse(*bytes);
                ASSERT_TRUE(parsed) << std::hex << spec.code;
                if (spec.isString())
                    EXPECT_EQ(parsed->currentText(), props.text(spec.code));
                else
                    EXPECT_EQ(parsed->current, props.number(spec.code));
            }
        }
    }
}

}  // namespace
}  // namespace pexil::testing
