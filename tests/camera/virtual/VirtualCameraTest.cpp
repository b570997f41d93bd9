#include "VirtualCameraSupport.h"

#include "camera/session/ObjectInfo.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/device/CameraCapabilities.h"
#include "kit/device/DeviceInfo.h"
#include "kit/device/PropDesc.h"
#include "kit/liveview/LiveViewHeader.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/PTPReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <set>

namespace pexil::testing {
namespace {

using camera::VirtualBody;
using camera::VirtualCamera;

constexpr std::uint16_t kOK = PTP::code(PTP::Response::ok);

bool contains(const std::vector<std::uint16_t>& list, std::uint16_t code) {
    return std::find(list.begin(), list.end(), code) != list.end();
}

std::optional<camera::ObjectInfo> objectInfo(VirtualCamera& cam, std::uint32_t handle) {
    const Answer a = call(cam, PTP::code(PTP::Op::getObjectInfo), {handle});
    if (a.code != kOK) return std::nullopt;
    return camera::ObjectInfo::parse(a.data);
}

std::optional<PropDesc> describe(VirtualCamera& cam, std::uint16_t code) {
    const Answer a = call(cam, PTP::code(PTP::Op::getDevicePropDesc), {code});
    if (a.code != kOK) return std::nullopt;
    return PropDesc::parse(a.data);
}

std::int64_t integer(VirtualCamera& cam, std::uint16_t code) {
    const Answer a = call(cam, PTP::code(PTP::Op::getDevicePropValue), {code});
    EXPECT_EQ(a.code, kOK);
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < a.data.size() && i < 8; ++i)
        bits |= static_cast<std::uint64_t>(a.data[i]) << (8 * i);
    if (a.data.size() == 1)
        return static_cast<std::int8_t>(bits);  // the meter is signed; others fit
    return static_cast<std::int64_t>(bits);
}

std::vector<PTPEvent> checkEvent(VirtualCamera& cam) {
    const Answer a = call(cam, PTP::code(PTP::Op::nikonCheckEvent));
    EXPECT_EQ(a.code, kOK);
    return PTPEvent::checkEvent(a.data);
}

std::set<std::uint32_t> changedProps(const std::vector<PTPEvent>& events) {
    std::set<std::uint32_t> out;
    for (const PTPEvent& e : events)
        if (e.code == PTP::Event::devicePropChanged) out.insert(e.param);
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& date) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.flush();
    file.setFileTime(date, QFileDevice::FileModificationTime);
}

// ---- Identity ----

TEST(VirtualCameraIdentity, DeviceInfoParsesWithTheVendorOfEachBody) {
    struct Expect {
        VirtualBody body;
        std::uint32_t vendor;
        std::uint32_t effective;
        const char* model;
        bool nikon1;
    };
    for (const Expect& e :
         {Expect{VirtualBody::d850, 6, 10, "D850", false},
          Expect{VirtualBody::z6, 0xFFFFFFFF, 10, "Z 6", false},
          Expect{VirtualBody::j5, 6, 10, "J5", true},
          Expect{VirtualBody::generic, 0x0B, 0x0B, "Canon EOS 5D Mark IV", false}}) {
        auto cam = makeCamera(quickOptions(e.body));
        ASSERT_TRUE(cam);
        const Answer a = call(*cam, PTP::code(PTP::Op::getDeviceInfo));  // no session needed
        ASSERT_EQ(a.code, kOK);
        const auto info = DeviceInfo::parse(a.data);
        ASSERT_TRUE(info) << e.model;
        EXPECT_EQ(info->vendor, e.vendor) << e.model;
        EXPECT_EQ(info->effectiveVendor(), e.effective) << e.model;
        EXPECT_EQ(info->model, QString::fromUtf8(e.model));
        EXPECT_EQ(info->serialNumber.size(), 32);
        EXPECT_EQ(CameraCapabilities(*info).isNikon1, e.nikon1) << e.model;
        const bool nikon = e.effective == 10;
        EXPECT_EQ(contains(info->operations, PTP::code(PTP::Op::nikonDeviceReady)), nikon)
            << e.model;
    }
}

TEST(VirtualCameraIdentity, DslrListsVendorPropertiesOnlyThroughGetVendorPropCodes) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    const auto info = DeviceInfo::parse(call(*cam, PTP::code(PTP::Op::getDeviceInfo)).data);
    ASSERT_TRUE(info);
    for (const std::uint16_t code : info->properties)
        EXPECT_TRUE(code < 0xD000 || code == 0xD303 || code == 0xD406 || code == 0xD407)
            << std::hex << code;
    EXPECT_TRUE(contains(info->properties, PTP::code(PTP::Prop::dateTime)));

    const Answer codes = call(*cam, PTP::code(PTP::Op::nikonGetVendorPropCodes));
    ASSERT_EQ(codes.code, kOK);
    PTPReader reader(codes.data);
    const auto count = reader.read<std::uint32_t>();
    ASSERT_TRUE(count);
    ASSERT_EQ(codes.data.size(), 4 + 2 * *count);
    std::vector<std::uint16_t> vendor;
    for (std::uint32_t i = 0; i < *count; ++i) vendor.push_back(*reader.read<std::uint16_t>());
    for (const PTP::Prop needed : {PTP::Prop::nikonExposureTime, PTP::Prop::nikonMaximumShots,
                                   PTP::Prop::nikonRecordingMedia, PTP::Prop::nikonLiveViewStatus,
                                   PTP::Prop::nikonLiveViewProhibit, PTP::Prop::nikonLightMeter})
        EXPECT_TRUE(contains(vendor, PTP::code(needed))) << std::hex << PTP::code(needed);
    EXPECT_FALSE(contains(vendor, 0xD406));
}

TEST(VirtualCameraIdentity,
     Nikon1AnnouncesItsVendorPropertiesInDeviceInfoAndDiesOnUnsafeOperations) {
    auto cam = openedCamera(quickOptions(VirtualBody::j5));
    ASSERT_TRUE(cam);
    const auto info = DeviceInfo::parse(call(*cam, PTP::code(PTP::Op::getDeviceInfo)).data);
    ASSERT_TRUE(info);
    for (const std::uint16_t code : {0xD100, 0xD1A2, 0xD1A4, 0xF002})
        EXPECT_TRUE(contains(info->properties, code));
    // The program never sends these to a Nikon 1: the virtual one shows why.
    RecordingSink sink;
    EXPECT_FALSE(
        cam->handle({PTP::code(PTP::Op::nikonCheckEvent), 1, {}}, std::nullopt, sink).ok());
    EXPECT_TRUE(cam->isUnplugged());
    EXPECT_FALSE(cam->handle({PTP::code(PTP::Op::getDeviceInfo), 2, {}}, std::nullopt, sink).ok());
}

TEST(VirtualCameraIdentity, SerialNumberFollowsTheSeed) {
    auto options = quickOptions();
    options.seed = 7;
    auto a = makeCamera(options);
    auto b = makeCamera(options);
    options.seed = 8;
    auto c = makeCamera(options);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->serialNumber(), b->serialNumber());
    EXPECT_NE(a->serialNumber(), c->serialNumber());
}

// ---- Session ----

TEST(VirtualCameraSession, OperationsNeedAnOpenSessionAndSessionsDoNotNest) {
    auto cam = makeCamera(quickOptions());
    ASSERT_TRUE(cam);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageIDs)).code,
              PTP::code(PTP::Response::sessionNotOpen));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonCheckEvent)).code,
              PTP::code(PTP::Response::sessionNotOpen));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::closeSession)).code,
              PTP::code(PTP::Response::sessionNotOpen));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::openSession), {0}).code,
              PTP::code(PTP::Response::invalidParameter));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::openSession), {7}).code, kOK);
    const Answer again = call(*cam, PTP::code(PTP::Op::openSession), {8});
    EXPECT_EQ(again.code, PTP::code(PTP::Response::sessionAlreadyOpen));
    EXPECT_EQ(again.params, std::vector<std::uint32_t>{7});
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageIDs)).code, kOK);
    EXPECT_EQ(call(*cam, 0x9999).code, PTP::code(PTP::Response::operationNotSupported));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::closeSession)).code, kOK);
    EXPECT_FALSE(cam->isSessionOpen());
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageIDs)).code,
              PTP::code(PTP::Response::sessionNotOpen));
}

TEST(VirtualCameraSession, NonNikonBodyRefusesNikonOperations) {
    auto cam = openedCamera(quickOptions(VirtualBody::generic));
    ASSERT_TRUE(cam);
    for (const PTP::Op op :
         {PTP::Op::nikonCheckEvent, PTP::Op::nikonDeviceReady, PTP::Op::nikonGetVendorPropCodes,
          PTP::Op::nikonStartLiveView, PTP::Op::nikonGetLiveViewImg})
        EXPECT_EQ(call(*cam, PTP::code(op)).code, PTP::code(PTP::Response::operationNotSupported));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageIDs)).code, kOK);
}

// ---- Catalogue ----

class VirtualCardContent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.path();
        writeFile(root + QStringLiteral("/DCIM/100TEST/NOTE.TXT"), "hello", textDate);
        writeFile(root + QStringLiteral("/DCIM/101TEST/BROKEN.JPG"),
                  QByteArray("\xFF\xD8\xFF\xE1\x00", 5), brokenDate);
        writeFile(root + QStringLiteral("/DCIM/101TEST/.hidden"), "x", textDate);
        QFile::link(root + QStringLiteral("/DCIM/100TEST/NOTE.TXT"),
                    root + QStringLiteral("/DCIM/101TEST/LINK.TXT"));
        auto options = quickOptions();
        options.cardDir = root;
        options.photos = 10;  // ignored: the card is not empty
        cam = openedCamera(options);
        ASSERT_TRUE(cam);
    }

    std::map<QString, std::pair<std::uint32_t, camera::ObjectInfo>> byName() {
        std::map<QString, std::pair<std::uint32_t, camera::ObjectInfo>> out;
        for (const std::uint32_t h : handleList(
                 call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data)) {
            const auto info = objectInfo(*cam, h);
            EXPECT_TRUE(info);
            if (info) out.emplace(info->filename, std::pair{h, *info});
        }
        return out;
    }

    QTemporaryDir dir;
    QString root;
    const QDateTime textDate = QDateTime(QDate(2023, 5, 6), QTime(7, 8, 9));
    const QDateTime brokenDate = QDateTime(QDate(2023, 5, 7), QTime(10, 11, 12));
    std::shared_ptr<VirtualCamera> cam;
};

TEST_F(VirtualCardContent, FilesAlreadyThereAreTheCardWithFoldersAsAssociations) {
    const auto objects = byName();
    // DCIM, two folders, two files; the hidden file and the link are not part of the card.
    ASSERT_EQ(objects.size(), 5U);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getNumObjects), {0xFFFFFFFF, 0, 0}).params,
              std::vector<std::uint32_t>{5});
    const auto& [dcim, dcimInfo] = objects.at(QStringLiteral("DCIM"));
    const auto& [folder, folderInfo] = objects.at(QStringLiteral("101TEST"));
    const auto& [note, noteInfo] = objects.at(QStringLiteral("NOTE.TXT"));
    const auto& [broken, brokenInfo] = objects.at(QStringLiteral("BROKEN.JPG"));
    EXPECT_TRUE(dcimInfo.isFolder());
    EXPECT_EQ(dcimInfo.associationType, 1);
    EXPECT_EQ(dcimInfo.parent, 0U);
    EXPECT_EQ(folderInfo.parent, dcim);
    EXPECT_EQ(brokenInfo.parent, folder);
    EXPECT_EQ(noteInfo.parent, objects.at(QStringLiteral("100TEST")).first);
    EXPECT_EQ(noteInfo.size, 5U);
    EXPECT_EQ(noteInfo.format, PTP::code(PTP::ObjectFormat::undefined));
    EXPECT_EQ(brokenInfo.format, PTP::code(PTP::ObjectFormat::exifJpeg));
    EXPECT_EQ(brokenInfo.thumbSize, 0U);
    EXPECT_EQ(noteInfo.captureDate, textDate);
    EXPECT_EQ(brokenInfo.captureDate, brokenDate);
    EXPECT_EQ(noteInfo.storageId, 0x00020001U);  // the D850's card is in slot 2
    (void)note;
    (void)broken;

    EXPECT_EQ(
        handleList(
            call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0xFFFFFFFF}).data),
        std::vector<std::uint32_t>{dcim});
    const auto children =
        handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0x00020001, 0, dcim}).data);
    EXPECT_EQ(children.size(), 2U);
    EXPECT_EQ(
        handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0x3801, 0}).data),
        std::vector<std::uint32_t>{broken});
}

TEST_F(VirtualCardContent, BadHandlesStoragesAndParentsAreRefused) {
    const auto objects = byName();
    const std::uint32_t note = objects.at(QStringLiteral("NOTE.TXT")).first;
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0x00010001, 0, 0}).code,
              PTP::code(PTP::Response::invalidStorageId));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, note}).code,
              PTP::code(PTP::Response::invalidParentObject));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getObjectInfo), {0x7777}).code,
              PTP::code(PTP::Response::invalidObjectHandle));
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::getObject), {objects.at(QStringLiteral("DCIM")).first}).code,
        PTP::code(PTP::Response::invalidObjectHandle));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageInfo), {0x00010001}).code,
              PTP::code(PTP::Response::invalidStorageId));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getThumb), {note}).code,
              PTP::code(PTP::Response::noThumbnailPresent));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getThumb), {0x7777}).code,
              PTP::code(PTP::Response::invalidObjectHandle));
}

TEST_F(VirtualCardContent, StorageInfoCountsWhatTheCardHolds) {
    const Answer a = call(*cam, PTP::code(PTP::Op::getStorageInfo), {0x00020001});
    ASSERT_EQ(a.code, kOK);
    PTPReader r(a.data);
    EXPECT_EQ(r.read<std::uint16_t>(), 4);  // removable RAM
    EXPECT_EQ(r.read<std::uint16_t>(), 3);  // DCF
    EXPECT_EQ(r.read<std::uint16_t>(), 2);  // read-only with deletion
    const auto capacity = r.read<std::uint64_t>();
    const auto free = r.read<std::uint64_t>();
    ASSERT_TRUE(capacity && free);
    EXPECT_EQ(*capacity - *free, 10U);  // "hello" and the five bytes of BROKEN.JPG
}

TEST_F(VirtualCardContent, DeleteRemovesTheFileAndAnnouncesIt) {
    auto objects = byName();
    const std::uint32_t note = objects.at(QStringLiteral("NOTE.TXT")).first;
    const std::uint32_t folder = objects.at(QStringLiteral("101TEST")).first;
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::deleteObject), {folder}).code,
              PTP::code(PTP::Response::accessDenied));  // not empty
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::deleteObject), {note}).code, kOK);
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/DCIM/100TEST/NOTE.TXT")));
    EXPECT_EQ(byName().count(QStringLiteral("NOTE.TXT")), 0U);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::deleteObject), {note}).code,
              PTP::code(PTP::Response::invalidObjectHandle));
    const auto event = nextEvent(*cam);
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, (PTPEvent{PTP::code(PTP::Event::objectRemoved), note}));
    // An emptied folder may go.
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::deleteObject), {objects.at(QStringLiteral("100TEST")).first})
            .code,
        kOK);
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/DCIM/100TEST")));
}

TEST(VirtualCameraCatalogue, GeneratedCardIsDatedInTheCameraClockBeforeNow) {
    auto options = quickOptions();
    options.photos = 6;
    options.clockDriftSeconds = -600;
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    const QDateTime cameraNow = fixedNow().addSecs(-600);
    std::vector<QString> names;
    std::optional<QDateTime> previous;
    for (const std::uint32_t h :
         handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data)) {
        const auto info = objectInfo(*cam, h);
        ASSERT_TRUE(info && info->captureDate);
        if (info->isFolder()) continue;
        names.push_back(info->filename);
        EXPECT_LE(*info->captureDate, cameraNow.addSecs(-2 * 3600));
        EXPECT_GE(*info->captureDate, cameraNow.addDays(-3));
        if (previous) {
            EXPECT_GT(*info->captureDate, *previous);
        }
        previous = info->captureDate;
        EXPECT_GT(info->thumbSize, 0U) << info->filename.toStdString();
        EXPECT_EQ(info->imageWidth, info->format == PTP::ObjectFormat::exifJpeg ? 1600U : 8256U);
    }
    EXPECT_EQ(names, (std::vector<QString>{"DSC_0001.JPG", "DSC_0002.NEF", "DSC_0003.JPG",
                                           "DSC_0004.NEF", "DSC_0005.JPG", "DSC_0006.NEF"}));
}

// ---- Transfers ----

class VirtualTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A pattern with a prime period, so that a piece out of place would show.
        QByteArray period(251, '\0');
        for (qsizetype i = 0; i < period.size(); ++i) period[i] = static_cast<char>(i * 7);
        QByteArray big = period.repeated(2 * 1024 * 1024 / 251 + 1);
        big.resize(2 * 1024 * 1024 + 12345);
        writeFile(dir.path() + QStringLiteral("/DCIM/100NCD850/DSC_0001.NEF"), big,
                  fixedNow().addDays(-1));
        content.assign(big.begin(), big.end());
        auto options = quickOptions();
        options.cardDir = dir.path();
        clock = std::static_pointer_cast<camera::ManualBodyClock>(options.clock);
        cam = openedCamera(options);
        ASSERT_TRUE(cam);
        file = handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data)
                   .back();
    }

    QTemporaryDir dir;
    Bytes content;
    std::shared_ptr<camera::ManualBodyClock> clock;
    std::shared_ptr<VirtualCamera> cam;
    std::uint32_t file = 0;
};

TEST_F(VirtualTransfers, GetObjectStreamsTheFileInMebibytePieces) {
    RecordingSink sink;
    const auto result = cam->handle({PTP::code(PTP::Op::getObject), 5, {file}}, std::nullopt, sink);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().code, kOK);
    EXPECT_EQ(sink.announced, content.size());
    EXPECT_EQ(sink.pieces, (std::vector<std::size_t>{1 << 20, 1 << 20, 12345}));
    EXPECT_TRUE(sink.data == content);
}

TEST_F(VirtualTransfers, GetPartialObjectGivesTheRangeAndItsLength) {
    const std::uint32_t size = static_cast<std::uint32_t>(content.size());
    const Answer head = call(*cam, PTP::code(PTP::Op::getPartialObject), {file, 0, 100});
    EXPECT_EQ(head.params, std::vector<std::uint32_t>{100});
    EXPECT_TRUE(std::equal(head.data.begin(), head.data.end(), content.begin()));
    const Answer tail = call(*cam, PTP::code(PTP::Op::getPartialObject), {file, size - 10, 100});
    EXPECT_EQ(tail.params, std::vector<std::uint32_t>{10});
    EXPECT_TRUE(std::equal(tail.data.begin(), tail.data.end(), content.end() - 10));
    const Answer rest = call(*cam, PTP::code(PTP::Op::getPartialObject), {file, 1000, 0xFFFFFFFF});
    EXPECT_EQ(rest.data.size(), content.size() - 1000);
    const Answer end = call(*cam, PTP::code(PTP::Op::getPartialObject), {file, size, 5});
    EXPECT_EQ(end.code, kOK);
    EXPECT_TRUE(end.data.empty());
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getPartialObject), {file, size + 1, 5}).code,
              PTP::code(PTP::Response::invalidParameter));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getPartialObject), {file, 0}).code,
              PTP::code(PTP::Response::invalidParameter));
}

TEST_F(VirtualTransfers, CutTransferDeliversExactlyTheBytesBeforeTheCutAndThenNothing) {
    cam->cutTransferAfter(1500000);
    RecordingSink sink;
    const auto result = cam->handle({PTP::code(PTP::Op::getObject), 5, {file}}, std::nullopt, sink);
    EXPECT_FALSE(result.ok());
    ASSERT_EQ(sink.data.size(), 1500000U);
    EXPECT_TRUE(std::equal(sink.data.begin(), sink.data.end(), content.begin()));
    RecordingSink after;
    EXPECT_FALSE(cam->handle({PTP::code(PTP::Op::getDeviceInfo), 6, {}}, std::nullopt, after).ok());
    EXPECT_FALSE(cam->waitEvent(std::chrono::seconds(10)).ok());  // at once, not after 10 s
}

TEST_F(VirtualTransfers, ASinkThatStopsEndsTheTransactionButNotTheCamera) {
    RecordingSink refusing;
    refusing.acceptBegin = false;
    EXPECT_FALSE(
        cam->handle({PTP::code(PTP::Op::getObject), 5, {file}}, std::nullopt, refusing).ok());
    EXPECT_FALSE(cam->isUnplugged());
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getStorageIDs)).code, kOK);
}

TEST_F(VirtualTransfers, BandwidthAndLatencySlowTheTransferDown) {
    cam->setBandwidth(20.0);  // 2.1 MB at 20 MB/s: about 105 ms
    cam->setLatency(30);
    // The camera's time jumps over each wait, so that what it takes is measured, not waited for.
    clock->setJumping(true);
    const auto start = clock->now();
    RecordingSink sink;
    ASSERT_TRUE(cam->handle({PTP::code(PTP::Op::getObject), 5, {file}}, std::nullopt, sink).ok());
    const auto took = clock->now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(120));
    EXPECT_EQ(sink.data.size(), content.size());
}

// ---- Capture ----

TEST(VirtualCameraCapture, InitiateCaptureWritesAFileAndAnnouncesIt) {
    auto options = quickOptions();
    options.photos = 2;
    options.clockDriftSeconds = 90;
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    const auto before =
        handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::initiateCapture), {0, 0}).code, kOK);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::initiateCapture), {0, 0}).code,
              PTP::code(PTP::Response::deviceBusy));  // still busy with the first
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);

    // The buffer count goes down and up around the shot; the picture comes before the
    // completion.
    const auto events = drainEvents(*cam);
    const auto find = [&](PTP::Event code) {
        return std::find_if(events.begin(), events.end(),
                            [code](const PTPEvent& e) { return e.code == code; });
    };
    ASSERT_NE(find(PTP::Event::objectAdded), events.end());
    ASSERT_NE(find(PTP::Event::captureComplete), events.end());
    EXPECT_LT(find(PTP::Event::objectAdded), find(PTP::Event::captureComplete));
    const auto added = std::optional<PTPEvent>(*find(PTP::Event::objectAdded));
    const auto complete = std::optional<PTPEvent>(*find(PTP::Event::captureComplete));

    const auto info = objectInfo(*cam, added->param);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->filename, QStringLiteral("DSC_0003.JPG"));
    EXPECT_EQ(info->captureDate, fixedNow().addSecs(90));  // the camera's clock
    EXPECT_TRUE(QFile::exists(cam->cardDir() + QStringLiteral("/DCIM/100NCD850/DSC_0003.JPG")));
    EXPECT_EQ(objectInfo(*cam, info->parent)->filename, QStringLiteral("100NCD850"));
    const auto after =
        handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data);
    EXPECT_EQ(after.size(), before.size() + 1);

    const Answer picture = call(*cam, PTP::code(PTP::Op::getObject), {added->param});
    EXPECT_EQ(picture.data.size(), info->size);
    EXPECT_EQ(jpegSize(picture.data), (std::pair{1600, 1067}));
    const Answer thumb = call(*cam, PTP::code(PTP::Op::getThumb), {added->param});
    EXPECT_EQ(thumb.data.size(), info->thumbSize);
    EXPECT_EQ(jpegSize(thumb.data), (std::pair{160, 107}));

    // CheckEvent saw the same, and the buffer going down and up again.
    const auto polled = checkEvent(*cam);
    EXPECT_NE(std::find(polled.begin(), polled.end(), *added), polled.end());
    EXPECT_NE(std::find(polled.begin(), polled.end(), *complete), polled.end());
    EXPECT_TRUE(changedProps(polled).count(PTP::code(PTP::Prop::nikonMaximumShots)));
}

TEST(VirtualCameraCapture, RawPlusJpegMakesTwoFilesWithOneNumber) {
    const auto options = quickOptions();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::compressionSetting)}, u8(6))
                  .code,
              kOK);  // NEF + JPEG Normal
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonCapture), {0xFFFFFFFF}).code, kOK);
    ASSERT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);
    std::vector<QString> added;
    bool complete = false;
    for (const PTPEvent& e : drainEvents(*cam)) {
        if (e.code == PTP::Event::objectAdded) added.push_back(objectInfo(*cam, e.param)->filename);
        if (e.code == PTP::Event::captureComplete) complete = true;
    }
    // An empty card: DCIM and the first folder come first.
    EXPECT_EQ(added, (std::vector<QString>{"DCIM", "100NCD850", "DSC_0001.NEF", "DSC_0001.JPG"}));
    EXPECT_TRUE(complete);
}

TEST(VirtualCameraCapture, RecordingToSdramKeepsThePictureOffTheCard) {
    const auto options = quickOptions();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::nikonRecordingMedia)}, u8(1))
                  .code,
              kOK);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonCapture), {0xFFFFFFFF}).code, kOK);
    ASSERT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);
    const auto events = drainEvents(*cam);
    EXPECT_NE(std::find(events.begin(), events.end(),
                        PTPEvent{PTP::code(PTP::Event::objectAdded), 0xFFFF0001}),
              events.end());
    const Answer picture = call(*cam, PTP::code(PTP::Op::getObject), {0xFFFF0001});
    EXPECT_EQ(picture.code, kOK);
    EXPECT_TRUE(jpegSize(picture.data));
    EXPECT_TRUE(
        handleList(call(*cam, PTP::code(PTP::Op::getObjectHandles), {0xFFFFFFFF, 0, 0}).data)
            .empty());
}

TEST(VirtualCameraCapture, ShutterOnTheBodyWorksWithoutAndWithASession) {
    const auto options = quickOptions();
    auto cam = makeCamera(options);
    ASSERT_TRUE(cam);
    cam->pressShutter();  // no session: the picture is still taken
    const QString first = cam->cardDir() + QStringLiteral("/DCIM/100NCD850/DSC_0001.JPG");
    clockOf(options).advance(options.timings.capture);
    // Painting and compressing the picture takes what a loaded machine gives it.
    ASSERT_TRUE(cam->waitUntilIdle(std::chrono::seconds(20)));
    EXPECT_TRUE(QFile::exists(first));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::openSession), {1}).code, kOK);
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);
    drainEvents(*cam);
    cam->pressShutter();
    clockOf(options).advance(options.timings.capture);
    ASSERT_TRUE(cam->waitUntilIdle(std::chrono::seconds(20)));
    std::optional<PTPEvent> added;
    for (const PTPEvent& e : drainEvents(*cam))
        if (e.code == PTP::Event::objectAdded) added = e;
    ASSERT_TRUE(added);
    EXPECT_EQ(objectInfo(*cam, added->param)->filename, QStringLiteral("DSC_0002.JPG"));
}

// ---- Properties ----

TEST(VirtualCameraProperties, EveryPropertyTheProgramShowsHasADescriptor) {
    for (const VirtualBody body : {VirtualBody::d850, VirtualBody::z6}) {
        auto cam = openedCamera(quickOptions(body));
        ASSERT_TRUE(cam);
        for (const PTP::Prop prop : PTP::mirroredProps) {
            const auto desc = describe(*cam, PTP::code(prop));
            ASSERT_TRUE(desc) << std::hex << PTP::code(prop);
            // Strings are skipped by the parser, and the Z 6's zoom range is too long a range
            // to list: both come without choices, as from the real bodies.
            if (prop != PTP::Prop::imageSize && prop != PTP::Prop::focalLength) {
                EXPECT_FALSE(desc->choices.empty()) << std::hex << PTP::code(prop);
            }
        }
        // The values the program reads with `integer`: 1, 2 or 4 bytes.
        for (const PTP::Prop prop : {PTP::Prop::nikonLightMeter, PTP::Prop::nikonMaximumShots,
                                     PTP::Prop::nikonRecordingMedia, PTP::Prop::nikonLiveViewStatus,
                                     PTP::Prop::nikonLiveViewProhibit}) {
            const std::uint16_t code = PTP::code(prop);
            const Answer a = call(*cam, PTP::code(PTP::Op::getDevicePropValue), {code});
            EXPECT_EQ(a.code, kOK);
            EXPECT_TRUE(a.data.size() == 1 || a.data.size() == 2 || a.data.size() == 4)
                << std::hex << code;
        }
        EXPECT_EQ(call(*cam, PTP::code(PTP::Op::getDevicePropDesc), {0x5002}).code,
                  PTP::code(PTP::Response::devicePropNotSupported));
    }
}

TEST(VirtualCameraProperties, ExposureProgramDecidesWhatMayBeSet) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    struct Row {
        std::uint16_t program;
        bool shutter;
        bool aperture;
    };
    for (const Row row :
         {Row{2, false, false}, Row{3, false, true}, Row{4, true, false}, Row{1, true, true}}) {
        ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                       {PTP::param(PTP::Prop::exposureProgram)}, u16(row.program))
                      .code,
                  kOK);
        const auto shutter = describe(*cam, PTP::code(PTP::Prop::exposureTime));
        const auto nikonShutter = describe(*cam, PTP::code(PTP::Prop::nikonExposureTime));
        const auto aperture = describe(*cam, PTP::code(PTP::Prop::fNumber));
        ASSERT_TRUE(shutter && nikonShutter && aperture);
        EXPECT_EQ(shutter->writable, row.shutter) << row.program;
        EXPECT_EQ(nikonShutter->writable, row.shutter) << row.program;
        EXPECT_EQ(aperture->writable, row.aperture) << row.program;
        const bool bulb =
            std::count(shutter->choices.begin(), shutter->choices.end(), 0xFFFFFFFF) > 0;
        EXPECT_EQ(bulb, row.program == 1) << "Bulb in M only";
        if (!row.aperture) {
            EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                           {PTP::param(PTP::Prop::fNumber)}, u16(800))
                          .code,
                      PTP::code(PTP::Response::nikonSetPropertyNotSupported))
                << row.program;
        }
        if (!row.shutter) {
            EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                           {PTP::param(PTP::Prop::exposureTime)}, u32(40))
                          .code,
                      PTP::code(PTP::Response::nikonSetPropertyNotSupported))
                << row.program;
        }
    }
}

TEST(VirtualCameraProperties, ModeChangeAnnouncesTheSettingsItChanges) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    checkEvent(*cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureProgram)}, u16(2))
                  .code,
              kOK);
    const auto changed = changedProps(checkEvent(*cam));
    for (const PTP::Prop prop : {PTP::Prop::exposureProgram, PTP::Prop::exposureTime,
                                 PTP::Prop::nikonExposureTime, PTP::Prop::fNumber})
        EXPECT_TRUE(changed.count(PTP::param(prop))) << std::hex << PTP::code(prop);
    EXPECT_TRUE(checkEvent(*cam).empty());  // the queue was emptied
    // The same value again changes nothing.
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureProgram)}, u16(2))
                  .code,
              kOK);
    EXPECT_TRUE(checkEvent(*cam).empty());
}

TEST(VirtualCameraProperties, MeterFollowsTheSettingsInManual) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    // Power-on settings as read off the real D850: f/16, 10/13 s, ISO 400 in a dim room.
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter)), -8);
    checkEvent(*cam);
    ASSERT_EQ(
        call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::iso)}, u16(800))
            .code,
        kOK);  // one stop more
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter)), -2);
    const auto changed = changedProps(checkEvent(*cam));
    EXPECT_TRUE(changed.count(PTP::param(PTP::Prop::iso)));
    EXPECT_TRUE(changed.count(PTP::param(PTP::Prop::nikonLightMeter)));
    cam->setSceneBrightness(12);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter)), 40);
}

TEST(VirtualCameraProperties, AperturePriorityPicksTheShutterAndKeepsTheMeterCentred) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureProgram)}, u16(3))
                  .code,
              kOK);
    EXPECT_EQ(std::abs(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter))), 0);
    const auto slow = integer(*cam, PTP::code(PTP::Prop::exposureTime));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::fNumber)},
                   u16(560))
                  .code,
              kOK);  // f/16 to f/5.6: three stops
    const auto fast = integer(*cam, PTP::code(PTP::Prop::exposureTime));
    EXPECT_NEAR(std::log2(static_cast<double>(slow) / fast), 3.0, 0.35);
    EXPECT_LE(std::abs(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter))), 2);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureBias)}, u16(static_cast<std::uint16_t>(1000)))
                  .code,
              kOK);  // +1 EV
    EXPECT_NEAR(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter)), 6, 2);
}

TEST(VirtualCameraProperties, BothShutterPropertiesStayInStep) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::nikonExposureTime)}, u32(0x000100FA))
                  .code,
              kOK);  // 1/250
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::exposureTime)), 40);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureTime)}, u32(0xFFFFFFFF))
                  .code,
              kOK);  // Bulb
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonExposureTime)), 0xFFFFFFFF);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLightMeter)), 0);
}

TEST(VirtualCameraProperties, WritesAreCheckedLikeTheBodyDoes) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::iso)}, u16(123))
            .code,
        PTP::code(PTP::Response::invalidParameter));  // not offered
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::iso)}, u8(1))
            .code,
        PTP::code(PTP::Response::parameterNotSupported));  // wrong width
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::iso)}).code,
              PTP::code(PTP::Response::parameterNotSupported));  // no data
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::batteryLevel)}, u8(50))
                  .code,
              PTP::code(PTP::Response::nikonSetPropertyNotSupported));  // battery
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {0x5002}, u8(1)).code,
              PTP::code(PTP::Response::devicePropNotSupported));  // not on this body
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::nikonRecordingMedia)}, u8(3))
                  .code,
              PTP::code(PTP::Response::invalidParameter));  // outside the range
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::imageSize)},
                   PTP::encodeString(QStringLiteral("6192x4128")))
                  .code,
              kOK);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::imageSize)},
                   PTP::encodeString(QStringLiteral("1x1")))
                  .code,
              PTP::code(PTP::Response::invalidParameter));
    const Answer size =
        call(*cam, PTP::code(PTP::Op::getDevicePropValue), {PTP::param(PTP::Prop::imageSize)});
    EXPECT_EQ(PTP::decodeString(size.data), QStringLiteral("6192x4128"));

    auto canon = openedCamera(quickOptions(VirtualBody::generic));
    ASSERT_TRUE(canon);
    EXPECT_EQ(call(*canon, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::batteryLevel)}, u8(50))
                  .code,
              PTP::code(PTP::Response::accessDenied));
}

TEST(VirtualCameraProperties, ModeDialOfTheMirrorlessBodyIsTurnedOnTheCamera) {
    auto cam = openedCamera(quickOptions(VirtualBody::z6));
    ASSERT_TRUE(cam);
    const auto program = describe(*cam, PTP::code(PTP::Prop::exposureProgram));
    ASSERT_TRUE(program);
    EXPECT_FALSE(program->writable);
    EXPECT_EQ(program->current, 2);
    EXPECT_FALSE(describe(*cam, PTP::code(PTP::Prop::exposureTime))->writable);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::exposureProgram)}, u16(1))
                  .code,
              PTP::code(PTP::Response::nikonSetPropertyNotSupported));
    checkEvent(*cam);
    cam->turnModeDial(1);
    EXPECT_TRUE(changedProps(checkEvent(*cam)).count(PTP::code(PTP::Prop::exposureProgram)));
    EXPECT_TRUE(describe(*cam, PTP::code(PTP::Prop::exposureTime))->writable);
}

TEST(VirtualCameraProperties, DateTimeIsTheCameraClockAndSettingItMovesTheClock) {
    auto options = quickOptions();
    options.clockDriftSeconds = 3600;
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    EXPECT_EQ(PTP::decodeString(call(*cam, PTP::code(PTP::Op::getDevicePropValue),
                                     {PTP::param(PTP::Prop::dateTime)})
                                    .data),
              QStringLiteral("20240601T130000"));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::dateTime)},
                   PTP::encodeString(QStringLiteral("20240102T030405")))
                  .code,
              kOK);
    EXPECT_EQ(cam->cameraClock(), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    EXPECT_TRUE(changedProps(checkEvent(*cam)).count(PTP::code(PTP::Prop::dateTime)));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::dateTime)},
                   PTP::encodeString(QStringLiteral("20240601T120000.0")))
                  .code,
              kOK);
    EXPECT_EQ(cam->cameraClock(), fixedNow());
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::dateTime)},
                   PTP::encodeString(QStringLiteral("garbage")))
                  .code,
              PTP::code(PTP::Response::invalidParameter));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::dateTime)},
                   PTP::encodeString(QStringLiteral("20241301T000000")))
                  .code,
              PTP::code(PTP::Response::invalidParameter));
}

TEST(VirtualCameraEvents, CheckEventAnswersAtMost255AtATime) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    checkEvent(*cam);
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue), {PTP::param(PTP::Prop::iso)},
                       u16(i % 2 ? 400 : 800))
                      .code,
                  kOK);  // ISO and meter
    }
    const Answer first = call(*cam, PTP::code(PTP::Op::nikonCheckEvent));
    ASSERT_GE(first.data.size(), 2U);
    EXPECT_EQ(first.data[0] | (first.data[1] << 8), 255);
    EXPECT_EQ(first.data.size(), 2U + 6 * 255);
    EXPECT_EQ(checkEvent(*cam).size(), 45U);
    EXPECT_TRUE(checkEvent(*cam).empty());
}

// ---- Nikon operations ----

TEST(VirtualCameraNikon, AutofocusIsBusyThenFocusedOrOutOfFocusOnce) {
    auto options = quickOptions();
    options.timings.autofocus = std::chrono::milliseconds(250);
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonAfDrive)).code, kOK);
    clockOf(options).advance(std::chrono::milliseconds(249));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonDeviceReady)).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options), std::chrono::milliseconds(1)), kOK);
    cam->setFocusSucceeds(false);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonAfDrive)).code, kOK);
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), PTP::code(PTP::Response::nikonOutOfFocus));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonDeviceReady)).code, kOK);
}

TEST(VirtualCameraNikon, ChangeCameraModeTakesHostOrCamera) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonChangeCameraMode), {1}).code, kOK);
    EXPECT_TRUE(cam->isHostControlled());
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonChangeCameraMode), {2}).code,
              PTP::code(PTP::Response::invalidParameter));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonChangeCameraMode), {0}).code, kOK);
    EXPECT_FALSE(cam->isHostControlled());
}

// ---- Live view ----

// Lets live view's start (or a capture) pass and asks for a frame.
Answer frameWhenReady(VirtualCamera& cam, camera::ManualBodyClock& clock) {
    clock.advance(std::chrono::seconds(1));
    EXPECT_TRUE(cam.waitUntilIdle(std::chrono::seconds(20)));
    return call(cam, PTP::code(PTP::Op::nikonGetLiveViewImg));
}

bool hasJpegMarker(const Bytes& data) {
    for (std::size_t i = 0; i + 2 < data.size(); ++i)
        if (data[i] == 0xFF && data[i + 1] == 0xD8 && data[i + 2] == 0xFF) return true;
    return false;
}

TEST(VirtualCameraLiveView, FramesAreAHeaderAndAMovingJpeg) {
    auto options = quickOptions();
    options.timings.liveViewStart = std::chrono::milliseconds(250);
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg)).code,
              PTP::code(PTP::Response::nikonNotLiveView));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonEndLiveView)).code,
              PTP::code(PTP::Response::nikonNotLiveView));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code, kOK);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLiveViewStatus)), 1);
    clockOf(options).advance(std::chrono::milliseconds(249));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg)).code,
              PTP::code(PTP::Response::deviceBusy));  // still starting
    const Answer first = frameWhenReady(*cam, clockOf(options));
    ASSERT_EQ(first.code, kOK);
    ASSERT_GT(first.data.size(), 384U + 3);
    EXPECT_EQ(first.data[0] << 8 | first.data[1], 640);  // big-endian width
    EXPECT_EQ(first.data[2] << 8 | first.data[3], 424);
    EXPECT_FALSE(hasJpegMarker(Bytes(first.data.begin(), first.data.begin() + 384)));
    EXPECT_EQ(first.data[384], 0xFF);
    EXPECT_EQ(first.data[385], 0xD8);
    const ByteView jpeg = ByteView(first.data).subspan(384);
    EXPECT_EQ(jpegSize(jpeg), (std::pair{640, 424}));
    clockOf(options).advance(std::chrono::milliseconds(20));
    const Answer second = call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg));
    EXPECT_NE(first.data, second.data);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonEndLiveView)).code, kOK);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLiveViewStatus)), 0);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg)).code,
              PTP::code(PTP::Response::nikonNotLiveView));
}

// ChangeAfArea and MfDrive in live view: refused outside it, with wrong parameters and while
// busy; the AF area and the judgement read back from the next frame's header.
TEST(VirtualCameraLiveView, TheAfAreaAndTheLensAnswerAsABodyDoes) {
    auto options = quickOptions();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    const auto op = [](PTP::Op o) { return PTP::code(o); };
    const std::uint16_t notLive = PTP::code(PTP::Response::nikonNotLiveView);
    const std::uint16_t invalid = PTP::code(PTP::Response::invalidParameter);
    const std::uint16_t end = PTP::code(PTP::Response::nikonMfDriveStepEnd);
    EXPECT_EQ(call(*cam, op(PTP::Op::nikonChangeAfArea), {100, 100}).code, notLive);
    EXPECT_EQ(call(*cam, op(PTP::Op::nikonMfDrive), {1, 10}).code, notLive);
    ASSERT_EQ(call(*cam, op(PTP::Op::nikonStartLiveView)).code, kOK);
    ASSERT_EQ(frameWhenReady(*cam, clockOf(options)).code, kOK);

    struct Case {
        PTP::Op op;
        std::vector<std::uint32_t> params;
        std::uint16_t answer;
    };
    const Case cases[] = {
        {PTP::Op::nikonChangeAfArea, {6400, 10}, invalid},  // outside the 6400 × 4240 area
        {PTP::Op::nikonChangeAfArea, {10}, invalid},
        {PTP::Op::nikonMfDrive, {3, 10}, invalid},  // neither near nor far
        {PTP::Op::nikonMfDrive, {1, 0}, invalid},
        {PTP::Op::nikonMfDrive, {2, 32768}, invalid},
        {PTP::Op::nikonChangeAfArea, {10, 4239}, kOK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(call(*cam, op(c.op), c.params).code, c.answer) << std::hex << op(c.op);
    auto header = LiveViewHeader::parse(frameWhenReady(*cam, clockOf(options)).data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->afCentre, QPoint(320, 4240 - 212));  // kept whole inside the picture

    // A drive keeps the body busy while the lens travels; running into an end says so once.
    ASSERT_EQ(call(*cam, op(PTP::Op::nikonMfDrive), {1, 32767}).code, kOK);
    EXPECT_EQ(call(*cam, op(PTP::Op::nikonMfDrive), {2, 10}).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), end);
    EXPECT_EQ(call(*cam, op(PTP::Op::nikonDeviceReady)).code, kOK);
    EXPECT_EQ(cam->lensFocus(), 0);
    ASSERT_EQ(call(*cam, op(PTP::Op::nikonMfDrive), {2, 100}).code, kOK);
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);
    EXPECT_EQ(cam->lensFocus(), 100);

    // AF finds the subject; the header says focused, or not when the body cannot focus.
    ASSERT_EQ(call(*cam, op(PTP::Op::nikonAfDrive)).code, kOK);
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), kOK);
    header = LiveViewHeader::parse(frameWhenReady(*cam, clockOf(options)).data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->judgement, FocusJudgement::focused);
    cam->setFocusSucceeds(false);
    ASSERT_EQ(call(*cam, op(PTP::Op::nikonAfDrive)).code, kOK);
    EXPECT_EQ(waitUntilReady(*cam, clockOf(options)), PTP::code(PTP::Response::nikonOutOfFocus));
    header = LiveViewHeader::parse(frameWhenReady(*cam, clockOf(options)).data);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->judgement, FocusJudgement::notFocused);
}

// Every answer is a new frame: asked for before the sensor has the next one, the camera
// waits for it, at the body's own rate unless the options set one.
TEST(VirtualCameraLiveView, FramesComeAtTheBodysRateAndAnEarlyQuestionWaitsForTheNext) {
    struct Case {
        const char* what;
        std::optional<double> fps;
        double frameMs;
    };
    for (const Case& c : {Case{"the D850's own rate", std::nullopt, 1000.0 / 30},
                          Case{"10 a second", 10.0, 100}, Case{"unpaced", 0.0, 0}}) {
        auto options = quickOptions();
        options.liveViewFps = c.fps;
        camera::ManualBodyClock& clock = clockOf(options);
        auto cam = openedCamera(options);
        ASSERT_TRUE(cam);
        ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code, kOK);
        Answer last = frameWhenReady(*cam, clock);
        ASSERT_EQ(last.code, kOK) << c.what;
        // The camera's time now moves exactly as far as it waits.
        clock.setJumping(true);
        const auto before = clock.now();
        for (int frame = 0; frame < 3; ++frame) {
            const Answer next = call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg));
            ASSERT_EQ(next.code, kOK) << c.what;
            if (c.frameMs > 0) {
                EXPECT_NE(next.data, last.data) << c.what << ": a frame again";
            }
            last = next;
        }
        const double waited =
            std::chrono::duration<double, std::milli>(clock.now() - before).count();
        EXPECT_NEAR(waited, 3 * c.frameMs, 0.01) << c.what;
        clock.setJumping(false);
    }
}

TEST(VirtualCameraLiveView, ProhibitionRefusesTheStartAndBitZeroYieldsToSdram) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    checkEvent(*cam);
    cam->setProhibition(0x200);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLiveViewProhibit)), 0x200);
    EXPECT_TRUE(changedProps(checkEvent(*cam)).count(PTP::code(PTP::Prop::nikonLiveViewProhibit)));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code,
              PTP::code(PTP::Response::nikonInvalidStatus));
    EXPECT_FALSE(cam->isLiveViewOn());

    cam->setProhibition(0x1);  // recording destination is the card
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code,
              PTP::code(PTP::Response::nikonInvalidStatus));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::nikonRecordingMedia)}, u8(1))
                  .code,
              kOK);
    EXPECT_EQ(integer(*cam, PTP::code(PTP::Prop::nikonLiveViewProhibit)), 0);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code, kOK);
}

TEST(VirtualCameraLiveView, NoPictureWhileRecordingToTheCardWhenTheKnobSaysSo) {
    const auto options = quickOptions();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    cam->setNoFramesWhileRecordingToCard(true);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code, kOK);
    const Answer empty = frameWhenReady(*cam, clockOf(options));
    EXPECT_EQ(empty.code, kOK);
    EXPECT_EQ(empty.data.size(), 384U);
    EXPECT_FALSE(hasJpegMarker(empty.data));
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::setDevicePropValue),
                   {PTP::param(PTP::Prop::nikonRecordingMedia)}, u8(1))
                  .code,
              kOK);
    EXPECT_TRUE(hasJpegMarker(call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg)).data));
}

TEST(VirtualCameraLiveView, CaptureMakesFramesWaitAndClosingTheSessionEndsLiveView) {
    const auto options = quickOptions();
    auto cam = openedCamera(options);
    ASSERT_TRUE(cam);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code, kOK);
    ASSERT_EQ(frameWhenReady(*cam, clockOf(options)).code, kOK);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::nikonCapture), {0xFFFFFFFF}).code, kOK);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonGetLiveViewImg)).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonStartLiveView)).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(frameWhenReady(*cam, clockOf(options)).code, kOK);
    ASSERT_EQ(call(*cam, PTP::code(PTP::Op::closeSession)).code, kOK);
    EXPECT_FALSE(cam->isLiveViewOn());
}

// ---- Fault knobs ----

TEST(VirtualCameraFaults, BusyForAnswersBusyToTheNextCommandsButNotToPolls) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    cam->setBusyFor(3);
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::initiateCapture), {0, 0}).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonDeviceReady)).code, kOK);  // exempt
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::nikonCheckEvent)).code, kOK);   // exempt
    EXPECT_EQ(call(*cam, PTP::code(PTP::Op::initiateCapture), {0, 0}).code,
              PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::getDevicePropDesc), {PTP::param(PTP::Prop::fNumber)}).code,
        PTP::code(PTP::Response::deviceBusy));
    EXPECT_EQ(
        call(*cam, PTP::code(PTP::Op::getDevicePropDesc), {PTP::param(PTP::Prop::fNumber)}).code,
        kOK);
    EXPECT_EQ(cam->callCount(PTP::code(PTP::Op::initiateCapture)), 2);
}

TEST(VirtualCameraFaults, UnplugFailsEverythingAndWakesTheEventReader) {
    auto cam = openedCamera(quickOptions());
    ASSERT_TRUE(cam);
    auto reader =
        std::async(std::launch::async, [cam] { return cam->waitEvent(std::chrono::seconds(20)); });
    ASSERT_TRUE(cam->waitForEventReader(std::chrono::seconds(5)));
    const auto start = std::chrono::steady_clock::now();
    cam->unplug();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(reader.get().ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    RecordingSink sink;
    EXPECT_FALSE(cam->handle({PTP::code(PTP::Op::getDeviceInfo), 1, {}}, std::nullopt, sink).ok());
    EXPECT_FALSE(cam->waitEvent(std::chrono::seconds(20)).ok());
}

// ---- The in-process transport ----

TEST(VirtualTransportTest, CarriesTransactionsAndEventsAndClosesOnInterrupt) {
    auto cam = makeCamera(quickOptions());
    ASSERT_TRUE(cam);
    camera::VirtualTransport link(cam);
    RecordingSink sink;
    EXPECT_FALSE(link.transact({PTP::code(PTP::Op::getDeviceInfo), 1, {}}, std::nullopt, sink)
                     .ok());  // not connected yet
    ASSERT_TRUE(link.connect().ok());
    const auto opened =
        link.transact({PTP::code(PTP::Op::openSession), 1, {1}}, std::nullopt, sink);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened.value(), (camera::Response{kOK, 1, {}}));
    EXPECT_FALSE(link.transact({PTP::code(PTP::Op::getObjectHandles), 2, {1, 2, 3, 4, 5, 6}},
                               std::nullopt, sink)
                     .ok());  // six parameters

    ASSERT_TRUE(link.transact({PTP::code(PTP::Op::nikonAfDrive), 3, {}}, std::nullopt, sink).ok());
    const auto none = link.waitEvent(std::chrono::milliseconds(10));
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none.value().has_value());

    auto reader = std::async(std::launch::async,
                             [&link] { return link.waitEvent(std::chrono::seconds(20)); });
    ASSERT_TRUE(cam->waitForEventReader(std::chrono::seconds(5)));
    link.interrupt();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(reader.get().ok());
    EXPECT_FALSE(
        link.transact({PTP::code(PTP::Op::getStorageIDs), 4, {}}, std::nullopt, sink).ok());

    // The camera is still there for a new link, until it is unplugged.
    camera::VirtualTransport second(cam);
    ASSERT_TRUE(second.connect().ok());
    const auto ids =
        second.transact({PTP::code(PTP::Op::getStorageIDs), 5, {}}, std::nullopt, sink);
    ASSERT_TRUE(ids.ok());
    EXPECT_EQ(ids.value().code, kOK);
    cam->unplug();
    camera::VirtualTransport third(cam);
    EXPECT_FALSE(third.connect().ok());
}

TEST(VirtualTransportTest, InterruptStopsADownloadUnderWay) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.path() + QStringLiteral("/DCIM/100NCD850/DSC_0001.NEF"),
              QByteArray(4 * 1024 * 1024, 'x'), fixedNow());
    auto options = quickOptions();
    options.cardDir = dir.path();
    options.bandwidthMBps = 2;  // 4 MB take 2 s, and the camera's clock does not move
    auto cam = makeCamera(options);
    ASSERT_TRUE(cam);
    camera::VirtualTransport link(cam);
    ASSERT_TRUE(link.connect().ok());
    RecordingSink sink;
    ASSERT_TRUE(link.transact({PTP::code(PTP::Op::openSession), 1, {1}}, std::nullopt, sink).ok());
    const std::uint32_t file = 3;  // DCIM, 100NCD850, the file
    // Tells the test when the first piece has arrived.
    class FirstPieceSink final : public camera::DataSink {
    public:
        bool begin(std::optional<std::uint64_t>) override { return true; }
        bool write(ByteView) override {
            if (!told) arrived.set_value();
            told = true;
            return true;
        }
        std::promise<void> arrived;
        bool told = false;
    };
    FirstPieceSink data;
    auto underWay = data.arrived.get_future();
    auto download = std::async(std::launch::async, [&] {
        return link.transact({PTP::code(PTP::Op::getObject), 2, {file}}, std::nullopt, data);
    });
    ASSERT_EQ(underWay.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto start = std::chrono::steady_clock::now();
    link.interrupt();
    ASSERT_EQ(download.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(download.get().ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace pexil::testing
