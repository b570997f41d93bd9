#include "camera/service/CameraFile.h"

#include "camera/service/CameraDevice.h"
#include "camera/session/FilePlacement.h"
#include "camera/session/JpegScaling.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/PTP.h"

namespace pexil::camera {

namespace {

constexpr std::uint16_t getObject = 0x1009;
constexpr std::uint16_t getThumb = 0x100A;
constexpr std::uint16_t deleteObject = 0x100B;
constexpr std::uint16_t getPartialObject = 0x101B;
using PTP::responseOK;

TransportError noSession() { return TransportError{QString::fromUtf8("カメラとのセッションが開いていません")}; }

TransportError refused(std::uint16_t code) {
    return TransportError{QString::fromUtf8("カメラが応答しました: ") + PTP::responseName(code)};
}

async::Task<void> download(std::shared_ptr<CameraDevice> device, std::shared_ptr<SessionEngine> engine,
                           std::uint32_t handle, std::uint64_t expected, CameraFile::DownloadOptions options,
                           CameraFile::DownloadDone done) {
    auto created = PendingFile::create(options.folder, options.fileName);
    if (!created) {
        done(std::nullopt, created.error());
        co_return;
    }
    std::shared_ptr<PendingFile> pending = std::move(created.value());
    // The session thread may still hold the sink a moment after the answer: the temporary
    // file goes before the failure is told, not whenever that reference drops.
    auto fail = [&pending, &done](TransportError error) {
        pending->discard();
        done(std::nullopt, std::move(error));
    };
    std::vector<std::uint32_t> params{handle};
    auto got = co_await engine->transact(getObject, std::move(params), std::nullopt, pending);
    if (!got) {
        const QString problem = pending->problem();
        fail(problem.isEmpty() ? got.error() : TransportError{problem});
        co_return;
    }
    if (got.value().code != responseOK) {
        fail(refused(got.value().code));
        co_return;
    }
    // 0xFFFFFFFF stands for "4 GiB or more": only a smaller announced size can be checked.
    if (expected < 0xFFFFFFFF && pending->written() != expected) {
        fail(TransportError{QString::fromUtf8("転送が途中で切れました（%1 / %2 バイト）")
                                .arg(pending->written())
                                .arg(expected)});
        co_return;
    }
    // fsync and rename off the main thread: a large file takes a moment to reach the disk.
    // The lambda is named: g++ 12 destroys a capturing lambda temporary twice inside co_await.
    auto place = [pending, name = options.fileName, folder = options.folder,
                  durable = options.deleteAfterDownload] {
        auto placed = pending->place(name);
        if (placed && durable) syncFolder(folder);
        return placed;
    };
    auto placed = co_await async::runOn(device->fileQueue(), std::move(place));
    if (!placed) {
        fail(placed.error());
        co_return;
    }
    if (options.deleteAfterDownload) {
        std::vector<std::uint32_t> target{handle};
        auto removed = co_await engine->exchange(deleteObject, std::move(target));
        if (!removed) {
            done(placed.value(), removed.error());
            co_return;
        }
        if (removed.value().response.code != responseOK) {
            done(placed.value(), refused(removed.value().response.code));
            co_return;
        }
    }
    done(placed.value(), std::nullopt);
}

async::Task<void> readData(std::shared_ptr<SessionEngine> engine, std::uint16_t code,
                           std::vector<std::uint32_t> params, int maxPixel, CameraFile::DataDone done) {
    auto answer = co_await engine->exchange(code, std::move(params));
    if (!answer) {
        done(std::nullopt, answer.error());
        co_return;
    }
    if (answer.value().response.code != responseOK) {
        done(std::nullopt, refused(answer.value().response.code));
        co_return;
    }
    if (maxPixel <= 0) {
        done(std::move(answer.value().data), std::nullopt);
        co_return;
    }
    auto scaled = fitJpeg(answer.value().data, maxPixel);
    if (!scaled) {
        done(std::nullopt, TransportError{QString::fromUtf8("サムネイルを読めません")});
        co_return;
    }
    done(std::move(*scaled), std::nullopt);
}

}  // namespace

CameraFile::CameraFile(std::weak_ptr<CameraDevice> device, std::uint32_t handle, ObjectInfo info, QString folderPath)
    : device_(std::move(device)), handle_(handle), info_(std::move(info)), folderPath_(std::move(folderPath)) {}

QString CameraFile::parentFolder() const { return folderPath_.section(u'/', -1); }

void CameraFile::requestDownload(DownloadOptions options, DownloadDone done) {
    auto device = device_.lock();
    auto engine = device ? device->engine() : nullptr;
    if (!engine) {
        done(std::nullopt, noSession());
        return;
    }
    device->tasks().spawn(download(device, engine, handle_, info_.size, std::move(options), std::move(done)));
}

void CameraFile::requestReadData(std::uint64_t offset, std::uint32_t length, DataDone done) {
    auto device = device_.lock();
    auto engine = device ? device->engine() : nullptr;
    if (!engine) {
        done(std::nullopt, noSession());
        return;
    }
    if (offset > 0xFFFFFFFF) {
        done(std::nullopt, TransportError{QString::fromUtf8("4 GiB より先は部分読み出しできません")});
        return;
    }
    std::vector<std::uint32_t> params{handle_, static_cast<std::uint32_t>(offset), length};
    device->tasks().spawn(readData(engine, getPartialObject, std::move(params), 0, std::move(done)));
}

void CameraFile::requestThumbnail(int maxPixel, DataDone done) {
    auto device = device_.lock();
    auto engine = device ? device->engine() : nullptr;
    if (!engine) {
        done(std::nullopt, noSession());
        return;
    }
    std::vector<std::uint32_t> params{handle_};
    device->tasks().spawn(readData(engine, getThumb, std::move(params), maxPixel, std::move(done)));
}

}  // namespace pexil::camera
