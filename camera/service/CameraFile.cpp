#include "camera/service/CameraFile.h"

#include "camera/service/CameraDevice.h"
#include "camera/session/FilePlacement.h"
#include "camera/session/JpegScaling.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/PTP.h"

#include <mutex>

namespace pexil::camera {

namespace {

constexpr std::uint16_t getObject = 0x1009;
constexpr std::uint16_t getThumb = 0x100A;
constexpr std::uint16_t deleteObject = 0x100B;
constexpr std::uint16_t getPartialObject = 0x101B;

TransportError noSession() {
    return TransportError{QString::fromUtf8("カメラとのセッションが開いていません")};
}

TransportError refused(std::uint16_t code) {
    return TransportError{QString::fromUtf8("カメラが応答しました: ") + PTP::responseName(code)};
}

TransportError deviceGone() {
    return TransportError{QString::fromUtf8("カメラとの接続が終わったため転送を中止しました")};
}

// The download's file on its way to the disk, which the I/O thread writes while the task may
// give up: a task abandoned with its device (a camera that hangs is let go) removes the file
// while the transaction may still be out, so writing and discarding take turns.
class DownloadSink final : public DataSink {
public:
    explicit DownloadSink(std::unique_ptr<PendingFile> file) : file_(std::move(file)) {}

    bool begin(std::optional<std::uint64_t> total) override {
        std::lock_guard lock(mutex_);
        return !discarded_ && file_->begin(total);
    }
    bool write(ByteView piece) override {
        std::lock_guard lock(mutex_);
        return !discarded_ && file_->write(piece);
    }
    // The name written, unless the download was given up first.
    Result<QString, TransportError> place(const QString& name) {
        std::lock_guard lock(mutex_);
        if (discarded_) return deviceGone();
        auto placed = file_->place(name);
        if (placed) placed_ = placed.value();
        return placed;
    }
    // Removes the temporary file; a file already placed stays, and its name comes back.
    std::optional<QString> discard() {
        std::lock_guard lock(mutex_);
        discarded_ = true;
        file_->discard();
        return placed_;
    }
    // Only once the transaction has answered: the I/O thread is done with the file then.
    const PendingFile& file() const { return *file_; }

private:
    std::mutex mutex_;
    std::unique_ptr<PendingFile> file_;
    bool discarded_ = false;
    std::optional<QString> placed_;
};

// Answers a download exactly once: with what the task found, or, when the task is abandoned
// with its device before it could say, with deviceGone(). The temporary file goes before a
// failure is told, not whenever the I/O thread lets go of it.
class DownloadAnswer {
public:
    explicit DownloadAnswer(CameraFile::DownloadDone done) : done_(std::move(done)) {}
    ~DownloadAnswer() {
        if (!done_) return;
        // A picture already under its name is saved; only what came after did not happen.
        auto placed = sink_ ? sink_->discard() : std::nullopt;
        answer(placed, deviceGone());
    }
    DownloadAnswer(const DownloadAnswer&) = delete;
    DownloadAnswer& operator=(const DownloadAnswer&) = delete;

    void adopt(std::shared_ptr<DownloadSink> sink) { sink_ = std::move(sink); }
    void fail(TransportError error) {
        if (sink_) sink_->discard();
        answer(std::nullopt, std::move(error));
    }
    void answer(std::optional<QString> written, std::optional<TransportError> error) {
        auto done = std::exchange(done_, nullptr);
        if (done) done(std::move(written), std::move(error));
    }

private:
    CameraFile::DownloadDone done_;
    std::shared_ptr<DownloadSink> sink_;
};

// A task of the device's scope: it holds neither the device (that would keep a hung camera's
// device alive for ever) nor anything it owns beyond its file queue, which outlives the scope.
async::Task<void> download(async::Executor& fileQueue, std::shared_ptr<SessionEngine> engine,
                           std::uint32_t handle, std::uint64_t expected,
                           CameraFile::DownloadOptions options, CameraFile::DownloadDone done) {
    DownloadAnswer answer(std::move(done));
    auto created = PendingFile::create(options.folder, options.fileName);
    if (!created) {
        answer.answer(std::nullopt, created.error());
        co_return;
    }
    auto sink = std::make_shared<DownloadSink>(std::move(created.value()));
    answer.adopt(sink);
    std::vector<std::uint32_t> params{handle};
    auto got = co_await engine->transact(getObject, std::move(params), std::nullopt, sink);
    if (!got) {
        const QString problem = sink->file().problem();
        answer.fail(problem.isEmpty() ? got.error() : TransportError{problem});
        co_return;
    }
    if (got.value().code != PTP::Response::ok) {
        answer.fail(refused(got.value().code));
        co_return;
    }
    // 0xFFFFFFFF stands for "4 GiB or more": only a smaller announced size can be checked.
    if (expected < 0xFFFFFFFF && sink->file().written() != expected) {
        answer.fail(TransportError{QString::fromUtf8("転送が途中で切れました（%1 / %2 バイト）")
                                       .arg(sink->file().written())
                                       .arg(expected)});
        co_return;
    }
    // fsync and rename off the main thread: a large file takes a moment to reach the disk.
    // The lambda is named: g++ 12 destroys a capturing lambda temporary twice inside co_await.
    auto place = [sink, name = options.fileName, folder = options.folder,
                  durable = options.deleteAfterDownload] {
        auto placed = sink->place(name);
        if (placed && durable) syncFolder(folder);
        return placed;
    };
    auto placed = co_await async::runOn(fileQueue, std::move(place));
    if (!placed) {
        answer.fail(placed.error());
        co_return;
    }
    if (options.deleteAfterDownload) {
        std::vector<std::uint32_t> target{handle};
        auto removed = co_await engine->exchange(deleteObject, std::move(target));
        if (!removed) {
            answer.answer(placed.value(), removed.error());
            co_return;
        }
        if (removed.value().response.code != PTP::Response::ok) {
            answer.answer(placed.value(), refused(removed.value().response.code));
            co_return;
        }
    }
    answer.answer(placed.value(), std::nullopt);
}

async::Task<void> readData(std::shared_ptr<SessionEngine> engine, std::uint16_t code,
                           std::vector<std::uint32_t> params, int maxPixel,
                           CameraFile::DataDone done) {
    auto answer = co_await engine->exchange(code, std::move(params));
    if (!answer) {
        done(std::nullopt, answer.error());
        co_return;
    }
    if (answer.value().response.code != PTP::Response::ok) {
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

CameraFile::CameraFile(std::weak_ptr<CameraDevice> device, std::uint32_t handle, ObjectInfo info,
                       QString folderPath)
    : device_(std::move(device)),
      handle_(handle),
      info_(std::move(info)),
      folderPath_(std::move(folderPath)) {}

QString CameraFile::parentFolder() const {
    return folderPath_.section(u'/', -1);
}

void CameraFile::requestDownload(DownloadOptions options, DownloadDone done) {
    auto device = device_.lock();
    auto engine = device ? device->engine() : nullptr;
    if (!engine) {
        done(std::nullopt, noSession());
        return;
    }
    device->tasks().spawn(download(device->fileQueue(), engine, handle_, info_.size,
                                   std::move(options), std::move(done)));
}

void CameraFile::requestReadData(std::uint64_t offset, std::uint32_t length, DataDone done) {
    auto device = device_.lock();
    auto engine = device ? device->engine() : nullptr;
    if (!engine) {
        done(std::nullopt, noSession());
        return;
    }
    if (offset > 0xFFFFFFFF) {
        done(std::nullopt,
             TransportError{QString::fromUtf8("4 GiB より先は部分読み出しできません")});
        return;
    }
    std::vector<std::uint32_t> params{handle_, static_cast<std::uint32_t>(offset), length};
    device->tasks().spawn(
        readData(engine, getPartialObject, std::move(params), 0, std::move(done)));
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
