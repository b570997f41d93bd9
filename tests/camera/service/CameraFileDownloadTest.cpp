// Which side a failed download blames: the camera's or the destination's.
#include "camera/service/CameraFile.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/VirtualRuntime.h"
#include "support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

#include <cerrno>

namespace pexil::camera {
namespace {

using Kind = DownloadError::Kind;

// What each case does to the download before it starts.
enum class Fault { folderIsAFile, diskFull, cameraRefuses, transferCut };

struct Case {
    const char* name;
    Fault fault;
    Kind kind;
    const char* messageStart;
};

class CameraFileDownload : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        VirtualCamera::Options options;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.photos = 2;
        testing::runOnVirtualTime(options, rt, testing::bodyClockFollowing(rt));
        auto made = VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        camera = made.value();
        auto source = std::make_unique<VirtualSource>(rt, camera);
        browser.addSource(std::move(source));
        browser.onDeviceAdded = [this](const auto& d) { device = d; };
        browser.start();
        ASSERT_TRUE(rt.runUntil([this] { return device != nullptr; }, async::Seconds{600}));
        CameraDevice::Callbacks callbacks;
        callbacks.itemsAdded = [this](const CameraItems& items) {
            files.insert(files.end(), items.files.begin(), items.files.end());
        };
        callbacks.catalogComplete = [this] { complete = true; };
        device->setListener(CameraDevice::listenerFrom(callbacks));
        device->requestOpenSession();
        ASSERT_TRUE(rt.runUntil([this] { return complete; }, async::Seconds{600}));
    }

    QTemporaryDir dir;
    async::VirtualRuntime rt;
    DeviceBrowser browser;
    std::shared_ptr<VirtualCamera> camera;
    std::shared_ptr<CameraDevice> device;
    std::vector<std::shared_ptr<CameraFile>> files;
    bool complete = false;
};

TEST_P(CameraFileDownload, AFailureNamesItsSideAndLeavesThePictureOnTheCardOnly) {
    const Case c = GetParam();
    QString folder = dir.filePath(QStringLiteral("dest"));
    CameraFile::DownloadOptions options{folder, true, {}, {}};
    ASSERT_FALSE(files.empty());
    const auto target = files.front();
    switch (c.fault) {
        case Fault::folderIsAFile: {
            QFile blocker(folder);
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            break;
        }
        case Fault::diskFull:
            options.writer = [](int, ByteView) -> ssize_t {
                errno = ENOSPC;
                return -1;
            };
            break;
        case Fault::cameraRefuses:
            camera->failObject(target->name(), PTP::code(PTP::Response::accessDenied));
            break;
        case Fault::transferCut:
            camera->cutTransferAfter(target->fileSize() / 2);
            break;
    }
    const auto result = rt.run(target->download(options), async::Seconds{60});
    ASSERT_TRUE(result.has_value());
    ASSERT_FALSE(result->ok());
    const DownloadError& error = result->error();
    EXPECT_EQ(error.kind, c.kind);
    EXPECT_EQ(error.fromCamera(), c.fault == Fault::cameraRefuses || c.fault == Fault::transferCut);
    EXPECT_TRUE(error.message().startsWith(QString::fromUtf8(c.messageStart)))
        << error.message().toStdString();
    if (c.fault == Fault::cameraRefuses) {
        EXPECT_EQ(error.response, PTP::code(PTP::Response::accessDenied));
    }
    if (c.fault != Fault::folderIsAFile) {
        EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty())
            << "nothing under a real name, no temporary left";
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("card/")) + target->folderPath() + u'/' +
                              target->name()))
        << "not deleted from the card";
}

// The bytes received are told as they arrive, never more than the size, ending at it.
TEST_F(CameraFileDownload, ProgressIsToldAsTheBytesArrive) {
    ASSERT_FALSE(files.empty());
    const auto target = files.front();
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> told;
    CameraFile::DownloadOptions options{dir.filePath(QStringLiteral("dest")), false, {}, {}};
    options.progress = [&](std::uint64_t received, std::uint64_t total) {
        std::lock_guard lock(mutex);
        told.emplace_back(received, total);
    };
    const auto result = rt.run(target->download(options), async::Seconds{60});
    ASSERT_TRUE(result && result->ok());
    std::lock_guard lock(mutex);
    ASSERT_FALSE(told.empty());
    for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_EQ(told[i].second, target->fileSize());
        EXPECT_LE(told[i].first, told[i].second);
        if (i > 0) {
            EXPECT_GT(told[i].first, told[i - 1].first);
        }
    }
    EXPECT_EQ(told.back().first, target->fileSize());
    EXPECT_LE(told.size(), 51u);
}

INSTANTIATE_TEST_SUITE_P(
    Sides, CameraFileDownload,
    ::testing::Values(
        Case{"FolderIsAFile", Fault::folderIsAFile, Kind::folder, "保存先を作成できません（"},
        Case{"DiskFull", Fault::diskFull, Kind::diskFull, "保存先に書けません（"},
        Case{"CameraRefuses", Fault::cameraRefuses, Kind::refused, "カメラから読めません（"},
        Case{"TransferCut", Fault::transferCut, Kind::transport, "カメラから読めません（"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pexil::camera
