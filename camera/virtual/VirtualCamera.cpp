#include "camera/virtual/VirtualCamera.h"

#include "camera/virtual/LiveViewFrames.h"
#include "camera/virtual/PictureFactory.h"
#include "camera/virtual/PictureProbe.h"
#include "camera/virtual/VirtualCard.h"
#include "camera/virtual/VirtualProperties.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPEvent.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace pexil::camera {

namespace {

using SteadyClock = std::chrono::steady_clock;

enum OperationCode : std::uint16_t {
    kGetDeviceInfo = 0x1001,
    kOpenSession = 0x1002,
    kCloseSession = 0x1003,
    kGetStorageIDs = 0x1004,
    kGetStorageInfo = 0x1005,
    kGetNumObjects = 0x1006,
    kGetObjectHandles = 0x1007,
    kGetObjectInfo = 0x1008,
    kGetObject = 0x1009,
    kGetThumb = 0x100A,
    kDeleteObject = 0x100B,
    kInitiateCapture = 0x100E,
    kGetDevicePropDesc = 0x1014,
    kGetDevicePropValue = 0x1015,
    kSetDevicePropValue = 0x1016,
    kGetPartialObject = 0x101B,
    kGetObjectPropList = 0x9805,
    kNikonCapture = 0x90C0,
    kNikonAfDrive = 0x90C1,
    kNikonChangeCameraMode = 0x90C2,
    kNikonCheckEvent = 0x90C7,
    kNikonDeviceReady = 0x90C8,
    kNikonGetVendorPropCodes = 0x90CA,
    kNikonStartLiveView = 0x9201,
    kNikonEndLiveView = 0x9202,
    kNikonGetLiveViewImg = 0x9203,
};

enum ResponseCode : std::uint16_t {
    kOK = 0x2001,
    kGeneralError = 0x2002,
    kSessionNotOpen = 0x2003,
    kOperationNotSupported = 0x2005,
    kParameterNotSupported = 0x2006,
    kInvalidStorageID = 0x2008,
    kInvalidObjectHandle = 0x2009,
    kDevicePropNotSupported = 0x200A,
    kAccessDenied = 0x200F,
    kNoThumbnailPresent = 0x2010,
    kDeviceBusy = 0x2019,
    kInvalidParentObject = 0x201A,
    kInvalidParameter = 0x201D,
    kSessionAlreadyOpen = 0x201E,
    kObjectPropNotSupported = 0xA80A,
    kNikonOutOfFocus = 0xA002,
    kNikonInvalidStatus = 0xA004,
    kNikonNotLiveView = 0xA00B,
};

enum Event : std::uint16_t {
    kObjectAdded = 0x4002,
    kObjectRemoved = 0x4003,
    kDevicePropChanged = 0x4006,
    kCaptureComplete = 0x400D,
};

constexpr std::uint16_t kCompression = 0x5004;
constexpr std::uint16_t kDateTime = 0x5011;
constexpr std::uint16_t kProgram = 0x500E;
constexpr std::uint16_t kBuffer = 0xD103;
constexpr std::uint16_t kRecordingMedia = 0xD10B;
constexpr std::uint16_t kLiveViewStatus = 0xD1A2;
constexpr std::uint16_t kProhibition = 0xD1A4;
constexpr std::uint32_t kProhibitRecordingToCard = 0x1;
constexpr std::uint32_t kProhibitCapturing = 0x8000;

constexpr std::uint32_t kSdramHandle = 0xFFFF0001;
constexpr std::uint32_t kAllStorages = 0xFFFFFFFF;
constexpr std::uint32_t kAllObjects = 0xFFFFFFFF;
constexpr std::size_t kPiece = 1 << 20;
constexpr std::size_t kMaxQueued = 4096;
constexpr int kMaxEventsPerCheck = 255;

// The operations a busy camera still answers (see setBusyFor).
bool exemptFromBusy(std::uint16_t code) {
    return code == kGetDeviceInfo || code == kOpenSession || code == kCloseSession ||
           code == kNikonDeviceReady || code == kNikonCheckEvent;
}

QString linkGone() {
    return QString::fromUtf8("仮想カメラとの接続が切れています");
}

QString linkClosed() {
    return QString::fromUtf8("仮想カメラへの接続は閉じられました");
}

Bytes eventContainer(std::uint16_t code, std::uint32_t param) {
    return PTPEvent{code, param}.toContainer();
}

enum class FileKind { jpeg, raw, both };

// What the quality setting (0x5004) makes, in Nikon's numbering: 4 raw, 5–7 and 11–13 raw
// plus JPEG, the rest JPEG. TIFF (3) is written as JPEG.
FileKind fileKind(const VirtualModel& model, std::int64_t compression) {
    if (!model.isNikon()) return FileKind::jpeg;
    if (compression == 4) return FileKind::raw;
    if ((compression >= 5 && compression <= 7) || (compression >= 11 && compression <= 13))
        return FileKind::both;
    return FileKind::jpeg;
}

}  // namespace

struct VirtualCamera::CaptureOrder {
    QDateTime taken;  // the camera's clock at the shutter
    VirtualProperties::Exposure exposure;
    FileKind kind = FileKind::jpeg;
    bool toSdram = false;
    std::uint32_t transactionId = 0;
};

struct VirtualCamera::Reply {
    std::uint16_t code = kOK;
    std::vector<std::uint32_t> params;
    std::optional<Bytes> data;
    struct FileRange {
        QString path;
        std::uint64_t offset = 0;
        std::optional<std::uint64_t> length;  // none: to the end
        std::optional<std::uint64_t> cutAfter;
    };
    std::optional<FileRange> file;
    std::optional<double> liveViewSeconds;  // a frame to make, this far into live view
    bool breaksLink = false;

    static Reply answer(std::uint16_t code) {
        Reply r;
        r.code = code;
        return r;
    }
    static Reply withData(Bytes bytes) {
        Reply r;
        r.data = std::move(bytes);
        return r;
    }
};

struct VirtualCamera::State {
    State(Options o, const VirtualModel& m) : options(std::move(o)), model(m), properties(model) {
        if (!options.objectPropList)
            model.operations.erase(
                std::remove(model.operations.begin(), model.operations.end(), kGetObjectPropList),
                model.operations.end());
    }

    Options options;
    // This body's own copy: an option may take an operation out of what it announces.
    VirtualModel model;
    QString serial;
    std::unique_ptr<QTemporaryDir> temporary;
    std::unique_ptr<VirtualCard> card;
    std::unique_ptr<LiveViewFrames> frames;

    mutable std::mutex mutex;
    std::condition_variable changed;  // events, unplugging, wake(), work for the body thread

    VirtualProperties properties;
    std::optional<std::uint32_t> session;
    int busyCommands = 0;
    SteadyClock::time_point busyUntil{};
    int capturesPending = 0;
    std::optional<std::uint16_t> focusResult;
    bool focusSucceeds = true;
    bool liveView = false;
    SteadyClock::time_point liveViewSince{};
    SteadyClock::time_point liveViewReady{};
    bool hostMode = false;
    std::uint32_t prohibition = 0;
    bool noFramesOnCard = false;
    std::optional<std::uint64_t> cutAfter;
    std::optional<std::uint64_t> stallAfter;
    bool stalled = false;
    std::uint64_t initiatorsGone = 0;  // counts initiatorGone(): a stall waits for the next
    double latencyMs = 0;
    double bandwidth = 0;
    double drift = 0;
    std::atomic<bool> unplugged{false};
    std::deque<std::pair<std::uint16_t, std::uint32_t>> events;
    std::deque<std::pair<std::uint16_t, std::uint32_t>> checkEvents;
    std::map<std::uint16_t, int> calls;
    struct Refusal {
        std::uint16_t response = 0;
        bool afterDoing = false;
    };
    std::map<std::uint16_t, Refusal> refusals;

    struct Sdram {
        Bytes data;
        QString name;
        QDateTime date;
        PictureFacts facts;
    };
    std::optional<Sdram> sdram;
    int sdramShots = 0;

    struct Job {
        SteadyClock::time_point due;
        CaptureOrder order;
    };
    std::deque<Job> jobs;
    bool stopping = false;
    std::thread body;

    QDateTime wallNow() const {
        return options.wallClock ? options.wallClock() : QDateTime::currentDateTime();
    }
    QDateTime cameraNow() const { return wallNow().addMSecs(std::llround(drift * 1000.0)); }
    bool bodyBusy() const { return capturesPending > 0 || SteadyClock::now() < busyUntil; }
    void log(const QString& line) const {
        if (options.log) options.log(line);
    }
};

Result<std::shared_ptr<VirtualCamera>, QString> VirtualCamera::create(Options options) {
    const VirtualBody body = options.model;
    auto state = std::make_unique<State>(std::move(options), virtualModel(body));
    const VirtualModel& model = state->model;
    QString dir = state->options.cardDir;
    if (dir.isEmpty()) {
        state->temporary = std::make_unique<QTemporaryDir>();
        if (!state->temporary->isValid())
            return QString::fromUtf8("仮想カメラのカードを一時フォルダに作れません: ") +
                   state->temporary->errorString();
        dir = state->temporary->path();
    }
    state->latencyMs = state->options.latencyMs;
    state->bandwidth = state->options.bandwidthMBps;
    state->drift = state->options.clockDriftSeconds;
    state->stallAfter = state->options.stallAfter;

    VirtualCard::Fill fill;
    fill.photos = std::max(0, state->options.photos);
    fill.seed = state->options.seed;
    fill.gpsEvery = state->options.gpsEvery;
    fill.now = state->cameraNow();
    fill.fullSize = state->options.fullSizePictures;
    auto card = VirtualCard::open(dir, model, fill);
    if (!card) return card.error();
    state->card = std::move(card).value();

    state->serial =
        QString::number(3000000 + state->options.seed % 7000000).rightJustified(32, u'0');
    if (model.liveViewHeaderSize > 0)
        state->frames =
            std::make_unique<LiveViewFrames>(model.liveViewWidth, model.liveViewHeight,
                                             model.liveViewHeaderSize, state->options.seed);
    std::shared_ptr<VirtualCamera> camera(new VirtualCamera(std::move(state)));
    return camera;
}

VirtualCamera::VirtualCamera(std::unique_ptr<State> state) : state_(std::move(state)) {
    state_->body = std::thread([this] { bodyLoop(); });
}

VirtualCamera::~VirtualCamera() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (state_->body.joinable()) state_->body.join();
}

// ---- Responder ----

Result<Response, TransportError> VirtualCamera::handle(const Operation& operation,
                                                       std::optional<ByteView> outData,
                                                       DataSink& sink) {
    return run(operation, outData, sink, nullptr);
}

Result<Response, TransportError> VirtualCamera::handle(const Operation& operation,
                                                       std::optional<ByteView> outData,
                                                       DataSink& sink,
                                                       const std::atomic<bool>& closed) {
    return run(operation, outData, sink, &closed);
}

Result<std::optional<Bytes>, TransportError> VirtualCamera::waitEvent(
    std::chrono::milliseconds timeout) {
    return waitFor(timeout, nullptr);
}

Result<std::optional<Bytes>, TransportError> VirtualCamera::waitEvent(
    std::chrono::milliseconds timeout, const std::atomic<bool>& closed) {
    return waitFor(timeout, &closed);
}

void VirtualCamera::wake() {
    // Taking the lock orders the caller's flag before the waiters' next look at it.
    { std::lock_guard lock(state_->mutex); }
    state_->changed.notify_all();
}

Result<std::optional<Bytes>, TransportError> VirtualCamera::waitFor(
    std::chrono::milliseconds timeout, const std::atomic<bool>* closed) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    const auto over = [&] { return s.unplugged.load() || (closed && closed->load()); };
    // A stalled body is out of reach: its events wait until it is back.
    s.changed.wait_for(lock, timeout, [&] { return over() || (!s.events.empty() && !s.stalled); });
    if (s.unplugged) return TransportError{linkGone()};
    if (closed && closed->load()) return TransportError{linkClosed()};
    if (s.events.empty() || s.stalled) return std::optional<Bytes>{};
    const auto [code, param] = s.events.front();
    s.events.pop_front();
    return std::optional<Bytes>{eventContainer(code, param)};
}

bool VirtualCamera::pause(std::chrono::duration<double> period, const std::atomic<bool>* closed) {
    State& s = *state_;
    const auto over = [&] { return s.unplugged.load() || (closed && closed->load()); };
    if (period.count() <= 0) return !over();
    std::unique_lock lock(s.mutex);
    s.changed.wait_for(lock, period, over);
    return !over();
}

std::optional<std::uint64_t> VirtualCamera::takeStall(std::uint64_t total) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.stallAfter || *s.stallAfter >= total) return std::nullopt;
    return std::exchange(s.stallAfter, std::nullopt);
}

TransportError VirtualCamera::stall(const std::atomic<bool>* closed) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.stalled = true;
    const auto gone = s.initiatorsGone;
    s.log(QString::fromUtf8("仮想カメラ: データの途中で止まりました（圏外）"));
    s.changed.wait(lock, [&] {
        return s.unplugged.load() || (closed && closed->load()) || s.initiatorsGone != gone;
    });
    s.stalled = false;
    // Events raised meanwhile may go out again.
    s.changed.notify_all();
    return TransportError{QString::fromUtf8("仮想カメラ: 止まっている間に接続が閉じられました")};
}

Result<Response, TransportError> VirtualCamera::run(const Operation& operation,
                                                    std::optional<ByteView> outData, DataSink& sink,
                                                    const std::atomic<bool>* closed) {
    State& s = *state_;
    if (s.unplugged) return TransportError{linkGone()};
    if (closed && closed->load()) return TransportError{linkClosed()};
    double latency = 0;
    {
        std::lock_guard lock(s.mutex);
        ++s.calls[operation.code];
        latency = s.latencyMs;
    }
    if (!pause(std::chrono::duration<double, std::milli>(latency), closed))
        return TransportError{s.unplugged ? linkGone() : linkClosed()};
    Reply reply;
    {
        std::lock_guard lock(s.mutex);
        const auto refusal = s.refusals.find(operation.code);
        if (refusal == s.refusals.end() || refusal->second.afterDoing)
            reply = dispatch(operation, outData);
        if (refusal != s.refusals.end()) {
            reply.code = refusal->second.response;
            reply.data.reset();
            reply.file.reset();
        }
        if (reply.breaksLink) {
            s.unplugged = true;
            s.changed.notify_all();
        }
    }
    if (reply.breaksLink)
        return TransportError{QString::fromUtf8("仮想カメラが応答しなくなりました")};
    return deliver(operation, std::move(reply), sink, closed);
}

// Sends the data phase, if any, then gives the response. Runs without the lock: a long
// download must not hold up events or the body.
Result<Response, TransportError> VirtualCamera::deliver(const Operation& operation, Reply reply,
                                                        DataSink& sink,
                                                        const std::atomic<bool>* closed) {
    State& s = *state_;
    const auto stopped = [&]() -> std::optional<TransportError> {
        if (s.unplugged) return TransportError{linkGone()};
        if (closed && closed->load()) return TransportError{linkClosed()};
        return std::nullopt;
    };
    const auto throttle = [&](std::size_t bytes) {
        double rate = 0;
        {
            std::lock_guard lock(s.mutex);
            rate = s.bandwidth;
        }
        if (rate <= 0) return true;
        return pause(std::chrono::duration<double>(static_cast<double>(bytes) / (rate * 1e6)),
                     closed);
    };
    const auto refused = [] {
        return TransportError{QString::fromUtf8("受け手がデータの受け取りをやめました")};
    };

    if (reply.liveViewSeconds && s.frames) {
        auto frame = s.frames->next(*reply.liveViewSeconds);
        if (frame) {
            reply.data = std::move(frame).value();
        } else {
            s.log(QString::fromUtf8("仮想カメラ: ライブビューの映像を作れません: ") +
                  frame.error());
            reply.code = kGeneralError;
        }
    }

    if (reply.data) {
        const ByteView data(*reply.data);
        const auto stallAt = takeStall(data.size());
        if (!sink.begin(data.size())) return refused();
        for (std::size_t sent = 0; sent < data.size();) {
            if (const auto error = stopped()) return *error;
            std::size_t n = std::min(kPiece, data.size() - sent);
            if (stallAt) n = std::min<std::size_t>(n, static_cast<std::size_t>(*stallAt - sent));
            if (n > 0 && !sink.write(data.subspan(sent, n))) return refused();
            sent += n;
            if (stallAt && sent == *stallAt) return stall(closed);
            if (!throttle(n)) return *stopped();
        }
    } else if (reply.file) {
        QFile file(reply.file->path);
        if (!file.open(QIODevice::ReadOnly) ||
            !file.seek(static_cast<qint64>(reply.file->offset))) {
            s.log(QString::fromUtf8("仮想カメラ: カードのファイルを読めません: ") +
                  reply.file->path);
            return Response{kGeneralError, operation.transactionId, {}};
        }
        const auto size = static_cast<std::uint64_t>(file.size());
        const std::uint64_t available = size > reply.file->offset ? size - reply.file->offset : 0;
        const std::uint64_t total = std::min(available, reply.file->length.value_or(available));
        const auto stallAt = takeStall(total);
        if (!sink.begin(total)) return refused();
        Bytes piece;
        for (std::uint64_t sent = 0; sent < total;) {
            if (const auto error = stopped()) return *error;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, total - sent));
            if (stallAt) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *stallAt - sent));
            const auto cut = reply.file->cutAfter;
            const bool cutting = cut && sent + n >= *cut && *cut < total;
            if (cutting) n = static_cast<std::size_t>(*cut - sent);
            piece.resize(n);
            const qint64 got =
                file.read(reinterpret_cast<char*>(piece.data()), static_cast<qint64>(n));
            if (got != static_cast<qint64>(n))
                return TransportError{
                    QString::fromUtf8("カードのファイルが途中で読めなくなりました: ") +
                    reply.file->path};
            if (n > 0 && !sink.write(piece)) return refused();
            sent += n;
            if (cutting) {
                unplug();
                return TransportError{QString::fromUtf8("転送の途中で接続が切れました")};
            }
            if (stallAt && sent == *stallAt) return stall(closed);
            if (!throttle(n)) return *stopped();
        }
    }
    return Response{reply.code, operation.transactionId, std::move(reply.params)};
}

// Everything the camera decides about one operation; the lock is held.
VirtualCamera::Reply VirtualCamera::dispatch(const Operation& operation,
                                             std::optional<ByteView> outData) {
    State& s = *state_;
    const VirtualModel& model = s.model;
    const std::uint16_t code = operation.code;
    const auto param = [&](std::size_t i) -> std::optional<std::uint32_t> {
        if (i >= operation.params.size()) return std::nullopt;
        return operation.params[i];
    };

    if (std::find(model.linkBreakingOperations.begin(), model.linkBreakingOperations.end(), code) !=
        model.linkBreakingOperations.end()) {
        Reply r;
        r.breaksLink = true;
        return r;
    }
    if (code == kGetDeviceInfo) return Reply::withData(deviceInfoDataset(model, s.serial));
    if (!model.hasOperation(code)) return Reply::answer(kOperationNotSupported);
    if (code == kOpenSession) {
        const auto id = param(0);
        if (!id || *id == 0) return Reply::answer(kInvalidParameter);
        if (s.session) {
            Reply r = Reply::answer(kSessionAlreadyOpen);
            r.params = {*s.session};
            return r;
        }
        s.session = *id;
        s.events.clear();
        s.checkEvents.clear();
        return Reply::answer(kOK);
    }
    if (code == kCloseSession) {
        if (!s.session) return Reply::answer(kSessionNotOpen);
        s.session.reset();
        // Closing the session ends live view and hands control back to the camera.
        s.liveView = false;
        s.properties.setStatus(kLiveViewStatus, 0);
        s.hostMode = false;
        return Reply::answer(kOK);
    }
    if (!s.session) return Reply::answer(kSessionNotOpen);
    if (s.busyCommands > 0 && !exemptFromBusy(code)) {
        --s.busyCommands;
        return Reply::answer(kDeviceBusy);
    }

    const auto storageMatches = [&](std::uint32_t storage) {
        return storage == kAllStorages || storage == model.storageId;
    };

    switch (code) {
        case kGetStorageIDs: {
            Bytes out;
            PTP::appendLE(out, std::uint32_t{1});
            PTP::appendLE(out, model.storageId);
            return Reply::withData(std::move(out));
        }
        case kGetStorageInfo: {
            const auto storage = param(0);
            if (!storage) return Reply::answer(kInvalidParameter);
            if (*storage != model.storageId) return Reply::answer(kInvalidStorageID);
            return Reply::withData(s.card->storageInfo());
        }
        case kGetNumObjects:
        case kGetObjectHandles: {
            const auto storage = param(0);
            if (!storage) return Reply::answer(kInvalidParameter);
            if (!storageMatches(*storage)) return Reply::answer(kInvalidStorageID);
            const auto list = s.card->handles(param(2).value_or(0),
                                              static_cast<std::uint16_t>(param(1).value_or(0)));
            if (!list) return Reply::answer(kInvalidParentObject);
            if (code == kGetNumObjects) {
                Reply r;
                r.params = {static_cast<std::uint32_t>(list->size())};
                return r;
            }
            Bytes out;
            PTP::appendLE(out, static_cast<std::uint32_t>(list->size()));
            for (const std::uint32_t handle : *list) PTP::appendLE(out, handle);
            return Reply::withData(std::move(out));
        }
        case kGetObjectInfo: {
            const auto handle = param(0);
            if (!handle) return Reply::answer(kInvalidParameter);
            if (*handle == kSdramHandle && s.sdram) {
                return Reply::withData(pictureObjectInfo(s.sdram->facts, s.sdram->name,
                                                         s.sdram->date, s.sdram->data.size())
                                           .encode());
            }
            auto info = s.card->objectInfo(*handle);
            if (!info) return Reply::answer(kInvalidObjectHandle);
            return Reply::withData(std::move(*info));
        }
        case kGetObject:
        case kGetPartialObject: {
            const auto handle = param(0);
            if (!handle) return Reply::answer(kInvalidParameter);
            std::uint64_t offset = 0;
            std::optional<std::uint64_t> length;
            if (code == kGetPartialObject) {
                const auto from = param(1);
                const auto most = param(2);
                if (!from || !most) return Reply::answer(kInvalidParameter);
                offset = *from;
                length = *most;
            }
            Reply r;
            if (*handle == kSdramHandle && s.sdram) {
                const std::uint64_t size = s.sdram->data.size();
                if (offset > size) return Reply::answer(kInvalidParameter);
                const std::uint64_t n = std::min(size - offset, length.value_or(size));
                r.data = Bytes(s.sdram->data.begin() + static_cast<std::ptrdiff_t>(offset),
                               s.sdram->data.begin() + static_cast<std::ptrdiff_t>(offset + n));
                if (code == kGetPartialObject) r.params = {static_cast<std::uint32_t>(n)};
                return r;
            }
            const CardObject* object = s.card->object(*handle);
            if (!object || object->folder) return Reply::answer(kInvalidObjectHandle);
            Reply::FileRange range{object->path, offset, length, std::nullopt};
            if (code == kGetPartialObject) {
                const auto size = static_cast<std::uint64_t>(QFileInfo(object->path).size());
                if (offset > size) return Reply::answer(kInvalidParameter);
                r.params = {static_cast<std::uint32_t>(std::min(size - offset, *length))};
            } else {
                if (const auto failing = s.options.failObjects.find(object->name);
                    failing != s.options.failObjects.end())
                    return Reply::answer(failing->second);
                range.cutAfter = std::exchange(s.cutAfter, std::nullopt);
            }
            r.file = std::move(range);
            return r;
        }
        case kGetThumb: {
            const auto handle = param(0);
            if (!handle) return Reply::answer(kInvalidParameter);
            if (*handle == kSdramHandle && s.sdram) {
                const auto& t = s.sdram->facts.thumbnail;
                if (!t) return Reply::answer(kNoThumbnailPresent);
                return Reply::withData(Bytes(
                    s.sdram->data.begin() + static_cast<std::ptrdiff_t>(t->offset),
                    s.sdram->data.begin() + static_cast<std::ptrdiff_t>(t->offset + t->length)));
            }
            const CardObject* object = s.card->object(*handle);
            if (!object) return Reply::answer(kInvalidObjectHandle);
            auto thumbnail = s.card->thumbnail(*handle);
            if (!thumbnail) return Reply::answer(kNoThumbnailPresent);
            return Reply::withData(std::move(*thumbnail));
        }
        case kDeleteObject: {
            const auto handle = param(0);
            if (!handle) return Reply::answer(kInvalidParameter);
            if (*handle == 0xFFFFFFFF)
                return Reply::answer(kAccessDenied);  // "all objects": not from here
            if (*handle == kSdramHandle && s.sdram) {
                s.sdram.reset();
                raise(kObjectRemoved, *handle);
                return Reply::answer(kOK);
            }
            const std::uint16_t result = s.card->remove(*handle);
            if (result == kOK) raise(kObjectRemoved, *handle);
            return Reply::answer(result);
        }
        case kInitiateCapture: {
            const auto storage = param(0).value_or(0);
            if (storage != 0 && !storageMatches(storage)) return Reply::answer(kInvalidStorageID);
            if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
            startCapture(operation.transactionId);
            return Reply::answer(kOK);
        }
        case kNikonCapture: {
            if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
            startCapture(operation.transactionId);
            return Reply::answer(kOK);
        }
        case kNikonAfDrive: {
            if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
            s.busyUntil = SteadyClock::now() + s.options.timings.autofocus;
            s.focusResult =
                s.focusSucceeds ? std::nullopt : std::optional<std::uint16_t>(kNikonOutOfFocus);
            return Reply::answer(kOK);
        }
        case kNikonChangeCameraMode: {
            const auto mode = param(0);
            if (!mode || *mode > 1) return Reply::answer(kInvalidParameter);
            s.hostMode = *mode == 1;
            return Reply::answer(kOK);
        }
        case kNikonCheckEvent: {
            const auto n = std::min<std::size_t>(s.checkEvents.size(), kMaxEventsPerCheck);
            Bytes out;
            PTP::appendLE(out, static_cast<std::uint16_t>(n));
            for (std::size_t i = 0; i < n; ++i) {
                PTP::appendLE(out, s.checkEvents.front().first);
                PTP::appendLE(out, s.checkEvents.front().second);
                s.checkEvents.pop_front();
            }
            return Reply::withData(std::move(out));
        }
        case kNikonDeviceReady: {
            if (s.bodyBusy()) return Reply::answer(kDeviceBusy);
            if (s.focusResult) return Reply::answer(*std::exchange(s.focusResult, std::nullopt));
            return Reply::answer(kOK);
        }
        case kNikonGetVendorPropCodes: {
            const auto codes = model.vendorPropertyCodes();
            Bytes out;
            PTP::appendLE(out, static_cast<std::uint32_t>(codes.size()));
            for (const std::uint16_t c : codes) PTP::appendLE(out, c);
            return Reply::withData(std::move(out));
        }
        case kGetDevicePropDesc:
        case kGetDevicePropValue: {
            const auto property = param(0);
            if (!property) return Reply::answer(kInvalidParameter);
            if (*property > 0xFFFF) return Reply::answer(kDevicePropNotSupported);
            refreshDynamic();
            const auto prop = static_cast<std::uint16_t>(*property);
            auto bytes = code == kGetDevicePropDesc ? s.properties.descriptor(prop)
                                                    : s.properties.value(prop);
            if (!bytes) return Reply::answer(kDevicePropNotSupported);
            return Reply::withData(std::move(*bytes));
        }
        case kSetDevicePropValue: {
            const auto property = param(0);
            if (!property) return Reply::answer(kInvalidParameter);
            if (*property > 0xFFFF || !s.properties.has(static_cast<std::uint16_t>(*property)))
                return Reply::answer(kDevicePropNotSupported);
            if (!outData) return Reply::answer(kParameterNotSupported);
            if (*property == kDateTime) {
                const auto text = PTP::decodeString(*outData);
                const QString stamp = text.value_or(QString()).left(15);
                const QDateTime date =
                    QDateTime::fromString(stamp, QStringLiteral("yyyyMMdd'T'HHmmss"));
                if (stamp.size() != 15 || !date.isValid()) return Reply::answer(kInvalidParameter);
                s.drift = static_cast<double>(s.wallNow().msecsTo(date)) / 1000.0;
                raise(kDevicePropChanged, kDateTime);
                return Reply::answer(kOK);
            }
            const auto result = s.properties.write(static_cast<std::uint16_t>(*property), *outData);
            raiseChanged(result.changed);
            return Reply::answer(result.response);
        }
        case kNikonStartLiveView: {
            if (!s.frames) return Reply::answer(kOperationNotSupported);
            if (s.capturesPending > 0) return Reply::answer(kDeviceBusy);
            refreshDynamic();
            if (s.properties.number(kProhibition) != 0) return Reply::answer(kNikonInvalidStatus);
            if (!s.liveView) {
                const auto now = SteadyClock::now();
                s.liveView = true;
                s.liveViewSince = now;
                s.liveViewReady = now + s.options.timings.liveViewStart;
                s.busyUntil = std::max(s.busyUntil, s.liveViewReady);
                s.properties.setStatus(kLiveViewStatus, 1);
                raise(kDevicePropChanged, kLiveViewStatus);
            }
            return Reply::answer(kOK);
        }
        case kNikonEndLiveView: {
            if (!s.liveView) return Reply::answer(kNikonNotLiveView);
            s.liveView = false;
            s.properties.setStatus(kLiveViewStatus, 0);
            raise(kDevicePropChanged, kLiveViewStatus);
            return Reply::answer(kOK);
        }
        case kNikonGetLiveViewImg: {
            if (!s.liveView || !s.frames) return Reply::answer(kNikonNotLiveView);
            const auto now = SteadyClock::now();
            if (now < s.liveViewReady || s.capturesPending > 0) return Reply::answer(kDeviceBusy);
            if (s.noFramesOnCard && s.properties.number(kRecordingMedia) == 0)
                return Reply::withData(s.frames->headerOnly());
            Reply r;
            r.liveViewSeconds = std::chrono::duration<double>(now - s.liveViewSince).count();
            return r;
        }
        case kGetObjectPropList: {
            // Handle 0xFFFFFFFF, or the root (0) with unlimited depth: the whole card.
            // Format 0 and property 0xFFFFFFFF ask for everything; the group is not looked at.
            const auto handle = param(0);
            const auto format = param(1);
            const auto property = param(2);
            const auto depth = param(4);
            if (!handle || !format || !property) return Reply::answer(kInvalidParameter);
            const bool wholeCard = *handle == kAllObjects || (*handle == 0 && depth == kAllObjects);
            if (!wholeCard && !s.card->object(*handle)) return Reply::answer(kInvalidObjectHandle);
            const auto list =
                s.card->objectPropList(wholeCard ? std::nullopt : std::optional(*handle),
                                       static_cast<std::uint16_t>(*format), *property);
            if (!list) return Reply::answer(kObjectPropNotSupported);
            return Reply::withData(std::move(*list));
        }
        default:
            return Reply::answer(kOperationNotSupported);
    }
}

// ---- Capture ----

// The lock is held.
void VirtualCamera::startCapture(std::uint32_t transactionId) {
    State& s = *state_;
    CaptureOrder order;
    order.taken = s.cameraNow();
    order.exposure = s.properties.exposure();
    order.kind =
        fileKind(s.model, s.properties.has(kCompression) ? s.properties.number(kCompression) : 2);
    order.toSdram = s.properties.has(kRecordingMedia) && s.properties.number(kRecordingMedia) == 1;
    order.transactionId = transactionId;
    const auto now = SteadyClock::now();
    ++s.capturesPending;
    s.busyUntil = std::max(s.busyUntil, now + s.options.timings.capture);
    s.jobs.push_back({now + s.options.timings.capture, order});
    if (s.properties.has(kBuffer))
        raiseChanged(s.properties.force(
            kBuffer, std::max<std::int64_t>(0, s.properties.number(kBuffer) - 1)));
    s.changed.notify_all();
}

void VirtualCamera::bodyLoop() {
    State& s = *state_;
    PictureFactory factory;
    std::unique_lock lock(s.mutex);
    while (!s.stopping) {
        if (s.jobs.empty()) {
            s.changed.wait(lock);
            continue;
        }
        const auto due = s.jobs.front().due;
        if (SteadyClock::now() < due) {
            s.changed.wait_until(lock, due);
            continue;
        }
        const CaptureOrder order = s.jobs.front().order;
        s.jobs.pop_front();
        lock.unlock();
        finishCapture(order, factory);
        lock.lock();
    }
}

// On the body thread, without the lock but while it writes the files.
void VirtualCamera::finishCapture(const CaptureOrder& order, PictureFactory& factory) {
    State& s = *state_;
    const VirtualModel& model = s.model;
    const auto finished = [&] {
        std::lock_guard lock(s.mutex);
        --s.capturesPending;
        if (s.properties.has(kBuffer)) raiseChanged(s.properties.force(kBuffer, model.bufferShots));
        s.changed.notify_all();
    };

    std::optional<VirtualCard::Slot> slot;
    int number = 0;
    {
        std::lock_guard lock(s.mutex);
        if (order.toSdram) {
            number = ++s.sdramShots;
        } else {
            auto next = s.card->nextSlot();
            if (!next) {
                s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + next.error());
                s.changed.notify_all();
            } else {
                slot = std::move(next).value();
                number = slot->baseName.right(4).toInt();
            }
        }
    }
    if (!order.toSdram && !slot) {
        finished();
        return;
    }

    const auto [width, height] = pictureSize(model, s.options.fullSizePictures);
    auto scene = factory.render(
        width, height, s.options.seed ^ (static_cast<std::uint64_t>(number) << 20), number);
    if (!scene) {
        s.log(QString::fromUtf8("仮想カメラ: 撮影した画像を作れません: ") + scene.error());
        finished();
        return;
    }
    PictureMeta meta;
    meta.make = model.exifMake;
    meta.model = model.exifModel;
    meta.software = model.software;
    meta.taken = order.taken;
    meta.exposure = order.exposure;
    meta.sensorWidth = model.sensorWidth;
    meta.sensorHeight = model.sensorHeight;
    meta.rawBitDepth = model.rawBitDepth;
    if (carriesGps(number, s.options.gpsEvery)) meta.gps = cameraGpsFix();
    const std::uint32_t rawBytes = rawDataBytes(model, s.options.fullSizePictures);
    const std::uint64_t noiseSeed = s.options.seed ^ static_cast<std::uint64_t>(number);

    if (order.toSdram) {
        // The camera's memory holds one picture: the raw file when it records raw, else the JPEG.
        State::Sdram sdram;
        const bool raw = order.kind != FileKind::jpeg;
        sdram.name = model.filePrefix + QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0')) +
                     u'.' + (raw ? model.rawExtension : QStringLiteral("JPG"));
        sdram.date = order.taken;
        if (raw) {
            sdram.data = PictureFactory::rawHead(scene.value(), meta, 0);
        } else {
            sdram.data = PictureFactory::jpegFile(scene.value(), meta);
        }
        sdram.facts = probePicture(sdram.data, sdram.name);
        std::lock_guard lock(s.mutex);
        s.sdram = std::move(sdram);
        raise(kObjectAdded, kSdramHandle);
        raise(kCaptureComplete, order.transactionId);
        --s.capturesPending;
        if (s.properties.has(kBuffer)) raiseChanged(s.properties.force(kBuffer, model.bufferShots));
        s.changed.notify_all();
        return;
    }

    struct Written {
        QString path;
        PictureFacts facts;
    };
    std::vector<Written> written;
    const QString base = slot->folderPath + u'/' + slot->baseName;
    if (order.kind != FileKind::jpeg) {
        const QString path = base + u'.' + model.rawExtension;
        const auto result = writeCardFile(
            path,
            [&](QIODevice& out) {
                return PictureFactory::writeRawFile(out, scene.value(), meta, rawBytes, noiseSeed);
            },
            order.taken);
        if (result)
            written.push_back(
                {path, probePicture(PictureFactory::rawHead(scene.value(), meta, rawBytes), path)});
        else
            s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + result.error());
    }
    if (order.kind != FileKind::raw) {
        const QString path = base + QStringLiteral(".JPG");
        const Bytes bytes = PictureFactory::jpegFile(scene.value(), meta);
        const auto result = writeCardFile(path, bytes, order.taken);
        if (result)
            written.push_back({path, probePicture(bytes, path)});
        else
            s.log(QString::fromUtf8("仮想カメラ: 撮影を保存できません: ") + result.error());
    }

    std::lock_guard lock(s.mutex);
    for (const std::uint32_t folder : slot->newFolders) raise(kObjectAdded, folder);
    for (const Written& file : written)
        raise(kObjectAdded, s.card->addFile(slot->folder, file.path, file.facts));
    if (!written.empty()) raise(kCaptureComplete, order.transactionId);
    --s.capturesPending;
    if (s.properties.has(kBuffer)) raiseChanged(s.properties.force(kBuffer, model.bufferShots));
    s.changed.notify_all();
}

// ---- Events ----

// The lock is held.
void VirtualCamera::raise(std::uint16_t code, std::uint32_t param) {
    State& s = *state_;
    if (!s.session || s.unplugged) return;
    const bool checkEvent = s.model.hasOperation(kNikonCheckEvent);
    if (s.options.eventChannel || !checkEvent) {
        s.events.emplace_back(code, param);
        if (s.events.size() > kMaxQueued) s.events.pop_front();
    }
    if (checkEvent) {
        s.checkEvents.emplace_back(code, param);
        if (s.checkEvents.size() > kMaxQueued) s.checkEvents.pop_front();
    }
    s.changed.notify_all();
}

void VirtualCamera::raiseChanged(const std::vector<std::uint16_t>& codes) {
    for (const std::uint16_t code : codes) raise(kDevicePropChanged, code);
}

// The values the camera works out when asked: its clock, and the prohibition bits that
// follow its state. The lock is held.
void VirtualCamera::refreshDynamic() {
    State& s = *state_;
    if (s.properties.has(kDateTime))
        s.properties.forceText(kDateTime, formatPTPDate(s.cameraNow()));
    if (s.properties.has(kProhibition)) {
        std::uint32_t bits = s.prohibition;
        if (s.capturesPending > 0) bits |= kProhibitCapturing;
        if (s.properties.number(kRecordingMedia) == 1) bits &= ~kProhibitRecordingToCard;
        s.properties.setStatus(kProhibition, bits);
    }
}

// ---- Controls and knobs ----

void VirtualCamera::pressShutter() {
    std::lock_guard lock(state_->mutex);
    startCapture(0);
}

void VirtualCamera::turnModeDial(std::uint16_t program) {
    std::lock_guard lock(state_->mutex);
    raiseChanged(state_->properties.force(kProgram, program));
}

void VirtualCamera::unplug() {
    {
        std::lock_guard lock(state_->mutex);
        state_->unplugged = true;
    }
    state_->changed.notify_all();
}

bool VirtualCamera::isUnplugged() const {
    return state_->unplugged;
}

void VirtualCamera::refuse(std::uint16_t operation, std::uint16_t response, bool afterDoing) {
    std::lock_guard lock(state_->mutex);
    if (response == 0)
        state_->refusals.erase(operation);
    else
        state_->refusals[operation] = {response, afterDoing};
}

void VirtualCamera::failObject(const QString& name, std::uint16_t response) {
    std::lock_guard lock(state_->mutex);
    if (response == 0)
        state_->options.failObjects.erase(name);
    else
        state_->options.failObjects[name] = response;
}

void VirtualCamera::setBusyFor(int commands) {
    std::lock_guard lock(state_->mutex);
    state_->busyCommands = std::max(0, commands);
}

void VirtualCamera::setProhibition(std::uint32_t bits) {
    std::lock_guard lock(state_->mutex);
    const std::int64_t before = state_->properties.number(kProhibition);
    state_->prohibition = bits;
    refreshDynamic();
    if (state_->properties.number(kProhibition) != before) raise(kDevicePropChanged, kProhibition);
}

void VirtualCamera::setNoFramesWhileRecordingToCard(bool on) {
    std::lock_guard lock(state_->mutex);
    state_->noFramesOnCard = on;
}

void VirtualCamera::cutTransferAfter(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->cutAfter = bytes;
}

void VirtualCamera::stallAfter(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->stallAfter = bytes;
}

bool VirtualCamera::isStalled() const {
    std::lock_guard lock(state_->mutex);
    return state_->stalled;
}

void VirtualCamera::initiatorGone() {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->initiatorsGone;
    }
    state_->changed.notify_all();
}

void VirtualCamera::setLatency(double milliseconds) {
    std::lock_guard lock(state_->mutex);
    state_->latencyMs = std::max(0.0, milliseconds);
}

void VirtualCamera::setBandwidth(double megabytesPerSecond) {
    std::lock_guard lock(state_->mutex);
    state_->bandwidth = std::max(0.0, megabytesPerSecond);
}

void VirtualCamera::setClockDrift(double seconds) {
    std::lock_guard lock(state_->mutex);
    state_->drift = seconds;
}

void VirtualCamera::setFocusSucceeds(bool succeeds) {
    std::lock_guard lock(state_->mutex);
    state_->focusSucceeds = succeeds;
}

void VirtualCamera::setSceneBrightness(double ev) {
    std::lock_guard lock(state_->mutex);
    raiseChanged(state_->properties.setSceneEv(ev));
}

QString VirtualCamera::cardDir() const {
    return state_->card->root();
}

const VirtualModel& VirtualCamera::model() const {
    return state_->model;
}

QString VirtualCamera::serialNumber() const {
    return state_->serial;
}

QDateTime VirtualCamera::cameraClock() const {
    std::lock_guard lock(state_->mutex);
    return state_->cameraNow();
}

int VirtualCamera::callCount(std::uint16_t operation) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->calls.find(operation);
    return it == state_->calls.end() ? 0 : it->second;
}

bool VirtualCamera::isSessionOpen() const {
    std::lock_guard lock(state_->mutex);
    return state_->session.has_value();
}

bool VirtualCamera::isLiveViewOn() const {
    std::lock_guard lock(state_->mutex);
    return state_->liveView;
}

bool VirtualCamera::isHostControlled() const {
    std::lock_guard lock(state_->mutex);
    return state_->hostMode;
}

}  // namespace pexil::camera
