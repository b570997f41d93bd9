// Card file reads through the camera service against the virtual camera in process.
#include "camera/service/CameraFile.h"
#include "camera/service/CameraFileSource.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/cardfile/CardFile.h"
#include "kit/nef/NEF.h"
#include "support/VirtualTime.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

template <class T>
struct Outcome {
    bool done = false;
    std::optional<T> value;
};

template <class T>
async::Task<void> capture(async::Task<std::optional<T>> task, Outcome<T>& out) {
    out.value = co_await std::move(task);
    out.done = true;
}

Bytes contentOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    return Bytes(all.begin(), all.end());
}

class CardFileVirtual : public ::testing::Test {
protected:
    void SetUp() override {
        VirtualCamera::Options options;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.photos = 4;  // JPG and NEF alternately
        testing::runOnVirtualTime(options, rt, testing::bodyClockFollowing(rt));
        auto made = VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        auto source = std::make_unique<VirtualSource>(rt, made.value());
        virtualSource = source.get();
        browser.addSource(std::move(source));
        browser.onDeviceAdded = [this](const auto& d) { device = d; };
        browser.start();
        ASSERT_TRUE(rt.runUntil([this] { return device != nullptr; }, async::Seconds{0}));
        CameraDevice::Callbacks listener;
        listener.itemsAdded = [this](const CameraItems& items) {
            files.insert(files.end(), items.files.begin(), items.files.end());
        };
        listener.catalogComplete = [this] { complete = true; };
        device->setListener(CameraDevice::listenerFrom(listener));
        device->requestOpenSession();
        ASSERT_TRUE(rt.runUntil([this] { return complete; }, async::Seconds{0}));
    }

    std::shared_ptr<CameraFile> fileEndingIn(const QString& suffix) const {
        for (const auto& f : files)
            if (f->name().endsWith(suffix, Qt::CaseInsensitive)) return f;
        return nullptr;
    }
    Bytes onDisk(const CameraFile& f) const {
        return contentOf(dir.filePath(QStringLiteral("card/")) + f.folderPath() + u'/' + f.name());
    }

    // The camera answers on the main queue, and the time-outs wait on the virtual clock: run
    // until the answer without moving virtual time.
    template <class T>
    std::optional<T> await(async::Task<std::optional<T>> task) {
        Outcome<T> out;
        scope.spawn(capture(std::move(task), out));
        EXPECT_TRUE(rt.runUntil([&] { return out.done; }, async::Seconds{0}));
        return out.value;
    }

    QTemporaryDir dir;
    async::VirtualRuntime rt;
    async::Scope scope{rt.runtime()};
    DeviceBrowser browser;
    VirtualSource* virtualSource = nullptr;
    std::shared_ptr<CameraDevice> device;
    std::vector<std::shared_ptr<CameraFile>> files;
    bool complete = false;
};

TEST_F(CardFileVirtual, ANefGivesItsOrientationAndItsLargestPreviewAsOnTheCard) {
    const auto nef = fileEndingIn(QStringLiteral(".NEF"));
    ASSERT_NE(nef, nullptr);
    const Bytes whole = onDisk(*nef);
    const ByteView head = ByteView(whole).first(std::min<std::size_t>(whole.size(), 0x20000));
    const auto location = NEF::largestPreview(head);
    ASSERT_TRUE(location);
    const auto expectedTurn = NEF::orientation(head);
    ASSERT_TRUE(expectedTurn) << "the virtual camera writes an Orientation into every raw";

    auto file = std::make_shared<CameraFileSource>(nef);
    const auto turn = await(CardFile::orientation(file));
    EXPECT_EQ(turn, expectedTurn);

    const auto preview = await(CardFile::embeddedPreview(file));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->orientation, expectedTurn);
    ASSERT_EQ(static_cast<std::int64_t>(preview->jpeg.size()), location->length);
    EXPECT_TRUE(
        std::equal(preview->jpeg.begin(), preview->jpeg.end(), whole.begin() + location->offset));
    ASSERT_GE(preview->jpeg.size(), 4U);
    EXPECT_EQ(preview->jpeg[0], 0xFF);
    EXPECT_EQ(preview->jpeg[1], 0xD8);
    EXPECT_EQ(preview->jpeg[preview->jpeg.size() - 2], 0xFF);
    EXPECT_EQ(preview->jpeg.back(), 0xD9);

    const auto thumb = await(CardFile::thumbnailData(file, 160));
    ASSERT_TRUE(thumb);
    EXPECT_LT(thumb->size(), preview->jpeg.size()) << "the preview is the larger picture";
    EXPECT_FALSE(rt.clock().hasTimers()) << "every answer withdrew its time-out";
}

TEST_F(CardFileVirtual, AJpegHasNeitherATiffOrientationNorAnEmbeddedPreview) {
    const auto jpg = fileEndingIn(QStringLiteral(".JPG"));
    ASSERT_NE(jpg, nullptr);
    auto file = std::make_shared<CameraFileSource>(jpg);
    Outcome<int> turn;
    Outcome<CardFile::Preview> preview;
    scope.spawn(capture(CardFile::orientation(file), turn));
    scope.spawn(capture(CardFile::embeddedPreview(file), preview));
    ASSERT_TRUE(rt.runUntil([&] { return turn.done && preview.done; }, async::Seconds{0}));
    EXPECT_FALSE(turn.value);
    EXPECT_FALSE(preview.value);

    const auto thumb = await(CardFile::thumbnailData(file, 64));
    ASSERT_TRUE(thumb);
    ASSERT_GE(thumb->size(), 2U);
    EXPECT_EQ((*thumb)[0], 0xFF);
    EXPECT_EQ((*thumb)[1], 0xD8);
}

TEST_F(CardFileVirtual, ReadsEndAtTheFileAndRangesOver4GiBAreRefused) {
    const auto f = files.front();
    const Bytes whole = onDisk(*f);
    auto file = std::make_shared<CameraFileSource>(f);
    const auto size = static_cast<std::int64_t>(whole.size());
    const auto tail = await(CardFile::read(file, size - 10, 4096));
    ASSERT_TRUE(tail);
    EXPECT_EQ(*tail, Bytes(whole.end() - 10, whole.end()));

    // GetPartialObject has 32 bits for the length: a larger one must not be cut silently.
    const auto huge = await(CardFile::read(file, 0, std::int64_t{1} << 32));
    EXPECT_FALSE(huge);
}

TEST_F(CardFileVirtual, AnUnpluggedCameraGivesNoneWithoutWaitingForTheTimeOut) {
    const auto nef = fileEndingIn(QStringLiteral(".NEF"));
    ASSERT_NE(nef, nullptr);
    virtualSource->unplug();
    auto file = std::make_shared<CameraFileSource>(nef);
    Outcome<CardFile::Preview> preview;
    scope.spawn(capture(CardFile::embeddedPreview(file), preview));
    ASSERT_TRUE(rt.runUntil([&] { return preview.done; }, async::Seconds{0}));
    EXPECT_FALSE(preview.value);
    EXPECT_EQ(rt.clock().monotonic().count(), 0.0);
}

}  // namespace
}  // namespace pexil::camera
