#include "camera/service/CameraFile.h"

#include "camera/service/CameraDevice.h"
#include "camera/session/JpegScaling.h"
#include "kit/async/Completion.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/Localized.h"
#include "kit/ptp/PTP.h"

#include <QDir>

#include <mutex>

namespace pexil::camera {

namespace {

using Kind = DownloadError::Kind;
using DownloadResult = Result<CameraFile::Downloaded, DownloadError>;
using DataResult = Result<Bytes, TransportError>;

QString noSessionText() {
    return QString::fromUtf8("カメラとのセッションが開いていません");
}
QString deviceGoneText() {
    return QString::fromUtf8("カメラとの接続が終わったため転送を中止しました");
}
QString refusedText(std::uint16_t code) {
    return QString::fromUtf8("カメラが応答しました: ") + PTP::responseName(code);
}

// Answers a request exactly once: with what its task found, or, when the task is abandoned
// with its device before it could say, with `ifAbandoned`.
template <class T>
class Reply {
public:
    Reply(async::Resolver<T> resolver, T ifAbandoned)
        : resolver_(std::move(resolver)), ifAbandoned_(std::move(ifAbandoned)) {}
    ~Reply() {
        if (ifAbandoned_) resolver_.resolve(std::move(*ifAbandoned_));
    }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    void operator()(T value) {
        ifAbandoned_.reset();
        resolver_.resolve(std::move(value));
    }

private:
    async::Resolver<T> resolver_;
    std::optional<T> ifAbandoned_;
};

// Runs the request as a task of the device's scope and waits for its answer on the caller's
// task: the device's end abandons the request, whose Reply then says so. The waiting task
// holds only a weak reference, so it keeps no device alive.
template <class T, class Start>
async::Task<T> onDevice(std::weak_ptr<CameraDevice> weak, T withoutSession, Start start) {
    auto begin = [weak = std::move(weak), withoutSession = std::move(withoutSession),
                  start = std::move(start)](async::Resolver<T> resolver) mutable {
        auto device = weak.lock();
        auto engine = device ? device->engine() : nullptr;
        if (!engine) {
            resolver.resolve(std::move(withoutSession));
            return;
        }
        device->tasks().spawn(start(device->fileQueue(), std::move(engine), std::move(resolver)));
    };
    T answer = co_await async::waitFor<T>(std::move(begin));
    co_return answer;
}

// The download's file on its way to the disk, which the I/O thread writes while the task may
// give up: a task abandoned with its device removes the file while the transaction may still
// be out, so writing and discarding take turns.
//
// The object's announced size is also a ceiling: a camera that keeps sending past it would
// otherwise grow the temporary file until the disk is full, for a picture that is refused
// at the end anyway. 0xFFFFFFFF announces "4 GiB or more" and sets no ceiling.
class DownloadSink final : public DataSink {
public:
    using Progress = std::function<void(std::uint64_t, std::uint64_t)>;

    DownloadSink(std::unique_ptr<PendingFile> file, std::uint64_t announced, Progress progress)
        : file_(std::move(file)), announced_(announced), progress_(std::move(progress)) {}

    bool begin(std::optional<std::uint64_t> total) override {
        std::lock_guard lock(mutex_);
        if (total && beyondAnnounced(*total)) overlong_ = true;
        return !discarded_ && !overlong_ && file_->begin(total);
    }
    bool write(ByteView piece) override {
        std::lock_guard lock(mutex_);
        if (beyondAnnounced(file_->written() + piece.size())) overlong_ = true;
        const bool taken = !discarded_ && !overlong_ && file_->write(piece);
        if (taken && progress_) {
            const std::uint64_t written = file_->written();
            if (written - reported_ >= announced_ / 50 || written == announced_) {
                reported_ = written;
                progress_(written, announced_);
            }
        }
        return taken;
    }
    // Whether the camera sent (or announced) more than the object's announced size.
    bool overlong() {
        std::lock_guard lock(mutex_);
        return overlong_;
    }
    // The name written; none when the download was given up first.
    std::optional<Result<QString, PlacementError>> place() {
        std::lock_guard lock(mutex_);
        if (discarded_) return std::nullopt;
        auto placed = file_->place();
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
    // Why the disk refused the data; the transport may still be offering pieces.
    std::optional<PlacementError> problem() {
        std::lock_guard lock(mutex_);
        return file_->problem();
    }
    std::uint64_t written() {
        std::lock_guard lock(mutex_);
        return file_->written();
    }

private:
    bool beyondAnnounced(std::uint64_t size) const {
        return announced_ < 0xFFFFFFFF && size > announced_;
    }
    std::mutex mutex_;
    std::unique_ptr<PendingFile> file_;
    std::uint64_t announced_;
    Progress progress_;
    std::uint64_t reported_ = 0;
    bool overlong_ = false;
    bool discarded_ = false;
    std::optional<QString> placed_;
};

// A download's answer. When the task is abandoned with its device, a picture already under
// its name is saved (only its deletion did not happen); otherwise the temporary file goes
// before the failure is told.
class DownloadAnswer {
public:
    DownloadAnswer(async::Resolver<DownloadResult> resolver, QString wanted)
        : resolver_(std::move(resolver)), wanted_(std::move(wanted)) {}
    ~DownloadAnswer() {
        if (answered_) return;
        const auto placed = sink_ ? sink_->discard() : std::nullopt;
        if (placed) {
            resolver_.resolve(CameraFile::Downloaded{*placed, TransportError{deviceGoneText()}});
        } else {
            resolver_.resolve(DownloadError::camera(Kind::sessionEnded, wanted_, deviceGoneText()));
        }
    }
    DownloadAnswer(const DownloadAnswer&) = delete;
    DownloadAnswer& operator=(const DownloadAnswer&) = delete;

    const QString& wanted() const { return wanted_; }
    const std::shared_ptr<DownloadSink>& sink() const { return sink_; }
    void adopt(std::shared_ptr<DownloadSink> sink) { sink_ = std::move(sink); }
    void operator()(DownloadResult result) {
        answered_ = true;
        resolver_.resolve(std::move(result));
    }

private:
    async::Resolver<DownloadResult> resolver_;
    QString wanted_;
    std::shared_ptr<DownloadSink> sink_;
    bool answered_ = false;
};

// Removes the temporary file on the file queue, then tells the failure.
async::Task<void> failDownload(async::Executor& files, DownloadAnswer& answer,
                               DownloadError error) {
    if (auto sink = answer.sink()) {
        auto discard = [sink] { sink->discard(); };
        co_await async::runOn(files, std::move(discard));
    }
    answer(std::move(error));
}

// A task of the device's scope: it holds neither the device (that would keep a hung camera's
// device alive for ever) nor anything it owns beyond its file queue, which outlives the scope.
// Every touch of the disk runs on that queue.
async::Task<void> downloadTask(async::Executor& files, std::shared_ptr<SessionEngine> engine,
                               std::uint32_t handle, std::uint64_t expected, QString cameraName,
                               std::optional<QDateTime> captured,
                               CameraFile::DownloadOptions options,
                               async::Resolver<DownloadResult> resolver) {
    DownloadAnswer answer(std::move(resolver),
                          QDir(options.folder).filePath(safeFileName(cameraName)));
    auto open = [folder = options.folder, name = cameraName, writer = options.writer,
                 captured = std::move(captured)] {
        auto file = PendingFile::create(folder, name, writer);
        if (file) file.value()->setCaptured(captured);
        return file;
    };
    auto created = co_await async::runOn(files, std::move(open));
    if (!created) {
        answer(DownloadError::destination(created.error()));
        co_return;
    }
    auto sink = std::make_shared<DownloadSink>(std::move(created).value(), expected, options.progress);
    answer.adopt(sink);
    std::vector<std::uint32_t> params{handle};
    auto got = co_await engine->transact(PTP::code(PTP::Op::getObject), std::move(params),
                                         std::nullopt, sink);
    // Each failure is built in a local first: g++ 12 destroys a temporary twice when it is
    // converted to a coroutine's parameter inside a co_await expression.
    if (sink->overlong()) {
        DownloadError overlong = DownloadError::camera(
            Kind::transport, answer.wanted(),
            QString::fromUtf8(
                "告げた大きさ（%1 バイト）を超えるデータが届いたため受け取りを止めました")
                .arg(expected));
        co_await failDownload(files, answer, std::move(overlong));
        co_return;
    }
    if (!got) {
        // A sink that refused (a full disk) fails the transaction: the disk's word decides.
        const auto problem = sink->problem();
        DownloadError error =
            problem ? DownloadError::destination(*problem)
                    : DownloadError::camera(Kind::transport, answer.wanted(), got.error().message);
        co_await failDownload(files, answer, std::move(error));
        co_return;
    }
    const std::uint16_t code = got.value().code;
    if (code != PTP::Response::ok) {
        DownloadError refused =
            DownloadError::camera(Kind::refused, answer.wanted(), refusedText(code));
        refused.response = code;
        co_await failDownload(files, answer, std::move(refused));
        co_return;
    }
    // 0xFFFFFFFF stands for "4 GiB or more": only a smaller announced size can be checked.
    const std::uint64_t written = sink->written();
    if (expected < 0xFFFFFFFF && written != expected) {
        DownloadError cut =
            DownloadError::camera(Kind::transport, answer.wanted(),
                                  QString::fromUtf8("転送が途中で切れました（%1 / %2 バイト）")
                                      .arg(written)
                                      .arg(expected));
        co_await failDownload(files, answer, std::move(cut));
        co_return;
    }
    // The lambda is named: g++ 12 destroys a capturing lambda temporary twice inside co_await.
    auto place = [sink, folder = options.folder, durable = options.deleteAfterDownload] {
        auto placed = sink->place();
        if (placed && *placed && durable) syncFolder(folder);
        return placed;
    };
    auto placed = co_await async::runOn(files, std::move(place));
    if (!placed || !*placed) {
        DownloadError error =
            placed ? DownloadError::destination(placed->error())
                   : DownloadError::camera(Kind::sessionEnded, answer.wanted(), deviceGoneText());
        co_await failDownload(files, answer, std::move(error));
        co_return;
    }
    CameraFile::Downloaded done{placed->value(), std::nullopt};
    if (options.deleteAfterDownload) {
        std::vector<std::uint32_t> target{handle};
        auto removed =
            co_await engine->exchange(PTP::code(PTP::Op::deleteObject), std::move(target));
        if (!removed) {
            done.notDeleted = removed.error();
        } else if (removed.value().response.code != PTP::Response::ok) {
            done.notDeleted = TransportError{refusedText(removed.value().response.code)};
        }
    }
    answer(std::move(done));
}

async::Task<void> readTask(async::Executor& files, std::shared_ptr<SessionEngine> engine,
                           std::uint16_t code, std::vector<std::uint32_t> params, int maxPixel,
                           async::Resolver<DataResult> resolver) {
    Reply<DataResult> reply(std::move(resolver), TransportError{deviceGoneText()});
    auto answer = co_await engine->exchange(code, std::move(params));
    if (!answer) {
        reply(answer.error());
        co_return;
    }
    if (answer.value().response.code != PTP::Response::ok) {
        reply(TransportError{refusedText(answer.value().response.code)});
        co_return;
    }
    if (maxPixel <= 0) {
        reply(std::move(answer.value().data));
        co_return;
    }
    // Decoding is work for a worker, never for the thread that draws.
    auto fit = [data = std::move(answer.value().data), maxPixel] {
        return fitJpeg(data, maxPixel);
    };
    auto scaled = co_await async::runOn(files, std::move(fit));
    if (!scaled) {
        reply(TransportError{QString::fromUtf8("サムネイルを読めません")});
        co_return;
    }
    reply(std::move(*scaled));
}

async::Task<DataResult> answered(DataResult result) {
    co_return result;
}

}  // namespace

DownloadError DownloadError::camera(Kind kind, QString path, QString reason) {
    return DownloadError{kind, std::move(path), std::move(reason), 0};
}

DownloadError DownloadError::destination(const PlacementError& error) {
    Kind kind = Kind::write;
    switch (error.kind) {
        case PlacementError::Kind::folder:
            kind = Kind::folder;
            break;
        case PlacementError::Kind::diskFull:
            kind = Kind::diskFull;
            break;
        case PlacementError::Kind::permission:
            kind = Kind::permission;
            break;
        case PlacementError::Kind::write:
            kind = Kind::write;
            break;
        case PlacementError::Kind::rename:
            kind = Kind::rename;
            break;
    }
    return DownloadError{kind, error.path, error.reason, 0};
}

QString DownloadError::message() const {
    // Whoever shows it to the user adds that the picture is still on the card (the session's
    // alert already says so; saying it twice reads badly).
    const char* text = fromCamera()           ? "カメラから読めません（%1）: %2"
                       : kind == Kind::folder ? "保存先を作成できません（%1）: %2"
                                              : "保存先に書けません（%1）: %2";
    return localized(text).arg(path, reason);
}

CameraFile::CameraFile(std::weak_ptr<CameraDevice> device, std::uint32_t handle, ObjectInfo info,
                       QString folderPath)
    : device_(std::move(device)),
      handle_(handle),
      info_(std::move(info)),
      folderPath_(std::move(folderPath)) {}

QString CameraFile::parentFolder() const {
    return folderPath_.section(u'/', -1);
}

async::Task<Result<CameraFile::Downloaded, DownloadError>> CameraFile::download(
    DownloadOptions options) const {
    const QString name = options.name.isEmpty() ? info_.filename : options.name;
    const QString wanted = QDir(options.folder).filePath(safeFileName(name));
    auto start = [handle = handle_, expected = info_.size, name, captured = info_.captureDate,
                  options = std::move(options)](async::Executor& files,
                                                std::shared_ptr<SessionEngine> engine,
                                                async::Resolver<DownloadResult> resolver) {
        return downloadTask(files, std::move(engine), handle, expected, name, captured, options,
                            std::move(resolver));
    };
    return onDevice<DownloadResult>(
        device_, DownloadError::camera(Kind::sessionEnded, wanted, noSessionText()),
        std::move(start));
}

async::Task<Result<Bytes, TransportError>> CameraFile::readData(std::uint64_t offset,
                                                                std::uint32_t length) const {
    // GetPartialObject's offset has 32 bits.
    if (offset > 0xFFFFFFFF)
        return answered(TransportError{QString::fromUtf8("4 GiB より先は部分読み出しできません")});
    auto start =
        [params = std::vector<std::uint32_t>{handle_, static_cast<std::uint32_t>(offset), length}](
            async::Executor& files, std::shared_ptr<SessionEngine> engine,
            async::Resolver<DataResult> resolver) {
            return readTask(files, std::move(engine), PTP::code(PTP::Op::getPartialObject), params,
                            0, std::move(resolver));
        };
    return onDevice<DataResult>(device_, TransportError{noSessionText()}, std::move(start));
}

async::Task<Result<Bytes, TransportError>> CameraFile::thumbnail(int maxPixel) const {
    auto start = [handle = handle_, maxPixel](async::Executor& files,
                                              std::shared_ptr<SessionEngine> engine,
                                              async::Resolver<DataResult> resolver) {
        return readTask(files, std::move(engine), PTP::code(PTP::Op::getThumb),
                        std::vector<std::uint32_t>{handle}, maxPixel, std::move(resolver));
    };
    return onDevice<DataResult>(device_, TransportError{noSessionText()}, std::move(start));
}

}  // namespace pexil::camera
