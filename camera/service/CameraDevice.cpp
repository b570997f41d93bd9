#include "camera/service/CameraDevice.h"

#include "camera/service/CameraFile.h"
#include "camera/session/ObjectPropList.h"
#include "kit/async/Completion.h"
#include "kit/device/DeviceInfo.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/PTPReader.h"

#include <algorithm>
#include <map>

namespace pexil::camera {

namespace {

using PTP::Op;
constexpr std::size_t batchSize = 200;
constexpr std::size_t firstBatchSize = 20;
// GetObjectInfo questions queued ahead of the one awaited; small, so that other callers'
// transactions (event polls, the user's commands) wait for a few objects at most.
constexpr std::size_t infoWindowSize = 4;

// A PTP array of 32-bit values (storage IDs, object handles); empty when malformed.
std::vector<std::uint32_t> readArray(const Bytes& data) {
    PTPReader reader(data);
    const auto count = reader.read<std::uint32_t>();
    if (!count || reader.remaining() < 4 * static_cast<std::int64_t>(*count)) return {};
    std::vector<std::uint32_t> out;
    out.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i) out.push_back(*reader.read<std::uint32_t>());
    return out;
}

// GetObjectInfo answers asked for ahead of need: while the main thread handles one object,
// the wire already carries the next questions, so a card costs the camera's own time per
// object and not also a round trip through the main thread. Main thread only, apart from the
// transport's completions, which post here.
struct InfoWindow {
    std::map<std::uint32_t, std::optional<ObjectInfo>> ready;
    std::optional<std::pair<std::uint32_t, async::Resolver<std::optional<ObjectInfo>>>> waiting;

    void deliver(std::uint32_t handle, std::optional<ObjectInfo> info) {
        if (waiting && waiting->first == handle) {
            auto resolver = std::move(waiting->second);
            waiting.reset();
            resolver.resolve(std::move(info));
            return;
        }
        ready[handle] = std::move(info);
    }
};

TransportError noSession() {
    return TransportError{QString::fromUtf8("カメラとのセッションが開いていません")};
}

// Asks one object's info for the window; the answer goes there whatever it is.
async::Task<void> askInfo(std::shared_ptr<SessionEngine> engine, std::uint32_t handle,
                          std::shared_ptr<InfoWindow> window) {
    std::vector<std::uint32_t> params{handle};
    auto answer = co_await engine->exchange(PTP::code(Op::getObjectInfo), std::move(params));
    std::optional<ObjectInfo> info;
    if (answer && answer.value().response.code == PTP::Response::ok)
        info = ObjectInfo::parse(answer.value().data);
    window->deliver(handle, std::move(info));
}

// The functions of a Callbacks, as a listener.
class CallbackListener final : public CameraDeviceListener {
public:
    explicit CallbackListener(CameraDevice::Callbacks callbacks) : c_(std::move(callbacks)) {}
    void sessionOpened(const DevicePtr&, std::optional<TransportError> error) override {
        if (c_.sessionOpened) c_.sessionOpened(std::move(error));
    }
    void sessionClosed(const DevicePtr&, std::optional<TransportError> error) override {
        if (c_.sessionClosed) c_.sessionClosed(std::move(error));
    }
    void itemsAdded(const DevicePtr&, const CameraItems& items) override {
        if (c_.itemsAdded) c_.itemsAdded(items);
    }
    void catalogComplete(const DevicePtr&) override {
        if (c_.catalogComplete) c_.catalogComplete();
    }
    void ptpEvent(const DevicePtr&, const PTPEvent& event) override {
        if (c_.ptpEvent) c_.ptpEvent(event);
    }

private:
    CameraDevice::Callbacks c_;
};

}  // namespace

std::shared_ptr<CameraDevice> CameraDevice::create(async::Runtime& runtime, QString name,
                                                   QString address, TransportFactory transport) {
    return std::shared_ptr<CameraDevice>(
        new CameraDevice(runtime, std::move(name), std::move(address), std::move(transport)));
}

CameraDevice::CameraDevice(async::Runtime& runtime, QString name, QString address,
                           TransportFactory transport)
    : runtime_(runtime),
      name_(std::move(name)),
      address_(std::move(address)),
      makeTransport_(std::move(transport)),
      scope_(runtime) {}

CameraDevice::~CameraDevice() = default;

void CameraDevice::requestOpenSession() {
    scope_.spawn(open());
}

void CameraDevice::requestCloseSession(
    std::function<void(std::optional<TransportError>)> completion) {
    scope_.spawn(close(std::move(completion)));
}

std::shared_ptr<CameraDeviceListener> CameraDevice::listenerFrom(Callbacks callbacks) {
    return std::make_shared<CallbackListener>(std::move(callbacks));
}

async::Task<Result<PTPAnswer, TransportError>> CameraDevice::transact(PTPRequest request) {
    using Outcome = Result<PTPAnswer, TransportError>;
    auto engine = engine_;
    if (!engine) {
        // Through the main executor all the same, as the transport's contract says.
        auto refuse = [](async::Resolver<Outcome> resolver) { resolver.resolve(noSession()); };
        auto refused = co_await async::waitFor<Outcome>(std::move(refuse));
        co_return refused;
    }
    // The device may go while the camera answers; the answer still reaches the caller.
    std::weak_ptr<CameraDevice> weak = weak_from_this();
    const Op op = request.op;
    auto exchanged = co_await engine->exchange(PTP::code(op), std::move(request.params),
                                               std::move(request.data));
    if (!exchanged) co_return exchanged.error();
    PTPAnswer answer{exchanged.value().response.code, std::move(exchanged.value().response.params),
                     std::move(exchanged.value().data)};
    if (auto self = weak.lock();
        self && op == Op::getDeviceInfo && answer.code == PTP::Response::ok)
        self->learn(*engine, answer.data);
    co_return answer;
}

async::Task<Result<std::vector<PTPEvent>, CameraError>> CameraDevice::pollEvents() {
    auto engine = engine_;
    if (!engine) co_return CameraError(noSession());
    std::weak_ptr<CameraDevice> weak = weak_from_this();
    std::vector<std::uint32_t> none;
    auto answer = co_await engine->exchange(PTP::code(Op::nikonCheckEvent), std::move(none));
    if (!answer) co_return CameraError(answer.error());
    if (answer.value().response.code != PTP::Response::ok)
        co_return CameraError(PTPError::response(answer.value().response.code));
    auto events = PTPEvent::checkEvent(answer.value().data);
    // Nikon bodies may queue ObjectAdded for CheckEvent rather than send it on the event
    // channel: into the stream before the poller hears of them, unless the session ended.
    if (auto self = weak.lock(); self && self->engine_ == engine)
        for (const PTPEvent& event : events) self->deliver(engine, event);
    co_return events;
}

void CameraDevice::deliver(const std::shared_ptr<SessionEngine>& engine, const PTPEvent& event) {
    tell([&](Listener& l, const DevicePtr& d) { l.ptpEvent(d, event); });
    if (event.code == PTP::Event::objectAdded && engine && engine_ == engine)
        scope_.spawn(objectAdded(engine, event.param));
}

void CameraDevice::learn(SessionEngine& engine, const Bytes& deviceInfo) {
    const auto info = DeviceInfo::parse(deviceInfo);
    if (!info) return;
    engine.learn(*info);
    // Also kept for the catalogue of later sessions: whether the list operation exists.
    announcesPropList_ = std::find(info->operations.begin(), info->operations.end(),
                                   PTP::code(Op::getObjectPropList)) != info->operations.end();
}

async::Task<void> CameraDevice::open() {
    if (engine_) {
        // Already open or opening: answer once, as the service does for a repeated request.
        tell([](Listener& l, const DevicePtr& d) { l.sessionOpened(d, std::nullopt); });
        co_return;
    }
    auto engine = SessionEngine::create(runtime_, makeTransport_());
    engine_ = engine;
    folders_.clear();
    parentOf_.clear();
    known_.clear();
    droppedTold_ = 0;
    catalogDone_ = false;
    std::weak_ptr<CameraDevice> weak = weak_from_this();
    engine->setEventHandler([weak](Bytes container) {
        auto self = weak.lock();
        const auto event = PTPEvent::container(container);
        if (!self || !event) return;
        // Said at the first drop of a flood and then every 10,000, not once per event.
        if (const auto dropped = self->engine_ ? self->engine_->droppedEvents() : 0;
            dropped > self->droppedTold_ &&
            (self->droppedTold_ == 0 || dropped >= self->droppedTold_ + 10000) && self->log_) {
            self->log_(
                QString::fromUtf8("カメラからの知らせが多すぎるため読み飛ばしました（計 %1 件）")
                    .arg(dropped));
            self->droppedTold_ = dropped;
        }
        self->deliver(self->engine_, *event);
    });
    engine->setRefusalHandler(
        [weak](std::uint16_t code, std::span<const std::uint32_t> params, const Refusal& refusal) {
            auto self = weak.lock();
            if (!self) return;
            if (const auto line = self->refusals_.note(code, params, refusal); line && self->log_)
                self->log_(*line);
        });
    engine->setLossHandler([weak, raw = engine.get()](TransportError error) {
        auto self = weak.lock();
        if (self && self->engine_.get() == raw) self->endSession(std::move(error));
    });
    auto opened = co_await engine->open();
    if (engine_ != engine) co_return;  // closed or lost meanwhile: that path answered
    if (!opened) {
        engine_.reset();
        tell([&](Listener& l, const DevicePtr& d) { l.sessionOpened(d, opened.error()); });
        co_return;
    }
    // What the camera can do is known before anything else goes out: the gate then passes
    // vendor commands and the catalogue asks for the list operation as DeviceInfo says. A
    // camera that does not answer is left to whoever prepares it, who asks again.
    std::vector<std::uint32_t> none;
    auto info = co_await engine->exchange(PTP::code(Op::getDeviceInfo), std::move(none));
    if (engine_ != engine) co_return;
    if (info && info.value().response.code == PTP::Response::ok) learn(*engine, info.value().data);
    tell([](Listener& l, const DevicePtr& d) { l.sessionOpened(d, std::nullopt); });
    co_await catalog(engine);
}

async::Task<void> CameraDevice::close(
    std::function<void(std::optional<TransportError>)> completion) {
    auto engine = std::exchange(engine_, nullptr);
    if (engine) co_await engine->close();
    if (completion) completion(std::nullopt);
    if (engine) tell([](Listener& l, const DevicePtr& d) { l.sessionClosed(d, std::nullopt); });
}

void CameraDevice::endSession(std::optional<TransportError> error) {
    auto engine = std::exchange(engine_, nullptr);
    if (!engine) return;
    // Stop the engine's threads off the main path; the session is over either way.
    scope_.spawn(
        [](std::shared_ptr<SessionEngine> e) -> async::Task<void> { co_await e->close(); }(engine));
    tell([&](Listener& l, const DevicePtr& d) { l.sessionClosed(d, std::move(error)); });
}

async::Task<QString> CameraDevice::folderPath(std::shared_ptr<SessionEngine> engine,
                                              std::uint32_t handle) {
    QStringList parts;
    std::set<std::uint32_t> seen;  // a camera that names a folder its own ancestor must not loop us
    while (handle != 0 && handle != 0xFFFFFFFF && seen.insert(handle).second) {
        auto it = folders_.find(handle);
        if (it == folders_.end()) {
            const auto info = co_await describe(engine, handle);
            if (!info || !info->isFolder()) break;
            it = folders_.find(handle);
            if (it == folders_.end()) break;
        }
        parts.prepend(it->second.name);
        auto parentIt = parentOf_.find(handle);
        handle = parentIt == parentOf_.end() ? 0 : parentIt->second;
    }
    co_return parts.join(u'/');
}

async::Task<std::optional<ObjectInfo>> CameraDevice::describe(std::shared_ptr<SessionEngine> engine,
                                                              std::uint32_t handle) {
    std::vector<std::uint32_t> params{handle};
    auto answer = co_await engine->exchange(PTP::code(Op::getObjectInfo), std::move(params));
    // An answer from a session that ended meanwhile describes another card's numbering.
    if (engine_ != engine) co_return std::nullopt;
    if (!answer || answer.value().response.code != PTP::Response::ok) co_return std::nullopt;
    auto info = ObjectInfo::parse(answer.value().data);
    if (info && info->isFolder()) {
        folders_[handle] = CameraFolder{handle, info->filename, {}};
        parentOf_[handle] = info->parent;
    }
    co_return info;
}

std::shared_ptr<CameraFile> CameraDevice::fileFor(std::uint32_t handle, const ObjectInfo& info,
                                                  const QString& path) {
    return std::make_shared<CameraFile>(weak_from_this(), handle, info, path);
}

async::Task<void> CameraDevice::catalog(std::shared_ptr<SessionEngine> engine) {
    reported_ = 0;
    const bool listed = co_await catalogFromPropList(engine);
    if (engine_ != engine) co_return;
    if (!listed) co_await catalogObjectByObject(engine);
    if (engine_ != engine) co_return;
    catalogDone_ = true;
    tell([](Listener& l, const DevicePtr& d) { l.catalogComplete(d); });
}

void CameraDevice::report(CameraItems& batch, bool last) {
    const std::size_t size = batch.files.size() + batch.folders.size();
    // A small first batch, so that the newest pictures show while the rest is read.
    const std::size_t wanted = reported_ == 0 ? firstBatchSize : batchSize;
    if (size == 0 || (!last && size < wanted)) return;
    reported_ += size;
    tell([&](Listener& l, const DevicePtr& d) { l.itemsAdded(d, batch); });
    batch = {};
}

void CameraDevice::finish(CameraItems& batch, std::vector<CameraFolder> folders) {
    // Folders go last, outermost first: the pictures are what the reader waits for.
    std::sort(folders.begin(), folders.end(),
              [](const CameraFolder& a, const CameraFolder& b) { return a.handle < b.handle; });
    batch.folders.insert(batch.folders.end(), folders.begin(), folders.end());
    report(batch, true);
}

async::Task<bool> CameraDevice::catalogFromPropList(std::shared_ptr<SessionEngine> engine) {
    // Asked for unless DeviceInfo said it is absent (or could not be read: the gate then
    // answers "not supported" without asking the camera).
    if (propListRefused_ || announcesPropList_ == false) co_return false;
    std::vector<std::uint32_t> params{ObjectPropList::allObjects, 0, ObjectPropList::allProperties,
                                      0, ObjectPropList::allDepths};
    auto listed = co_await engine->exchange(PTP::code(Op::getObjectPropList), std::move(params));
    if (engine_ != engine) co_return false;
    std::optional<ObjectPropList::Objects> objects;
    QString problem;
    if (!listed)
        problem = listed.error().message;
    else if (listed.value().response.code != PTP::Response::ok)
        problem = QStringLiteral("0x%1").arg(listed.value().response.code, 4, 16, QLatin1Char('0'));
    else if (!(objects = ObjectPropList::parse(listed.value().data)))
        problem = QString::fromUtf8("読めない応答");
    if (!objects) {
        // Some bodies announce the operation and then fail it; asking again in every session
        // would only cost time. One that never announced it just does not have it.
        propListRefused_ = true;
        const bool unsupported =
            listed && listed.value().response.code == PTP::Response::operationNotSupported;
        if (log_ && !(unsupported && announcesPropList_ != true))
            log_(QString::fromUtf8("カードの一覧を一度に読めないため 1 件ずつ読みます: ") +
                 problem);
        co_return false;
    }

    // Folders first, so that every file can name its folder without a question to the camera.
    for (const auto& [handle, object] : *objects) {
        if (!object.isFolder()) continue;
        folders_[handle] = CameraFolder{handle, object.filename, {}};
        parentOf_[handle] = object.parent;
    }
    // The newest (highest) handles first, as object by object.
    std::sort(objects->begin(), objects->end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    CameraItems batch;
    std::vector<CameraFolder> folders;
    for (const auto& [handle, object] : *objects) {
        if (!known_.insert(handle).second) continue;
        const QString path =
            co_await folderPath(engine, object.isFolder() ? handle : object.parent);
        if (engine_ != engine) co_return true;
        if (object.isFolder())
            folders.push_back(CameraFolder{handle, object.filename, path});
        else
            batch.files.push_back(fileFor(handle, object, path));
        report(batch, false);
    }
    finish(batch, std::move(folders));
    co_return true;
}

async::Task<void> CameraDevice::catalogObjectByObject(std::shared_ptr<SessionEngine> engine) {
    std::vector<std::uint32_t> none;
    auto storages = co_await engine->exchange(PTP::code(Op::getStorageIDs), std::move(none));
    std::vector<std::uint32_t> handles;
    if (storages && storages.value().response.code == PTP::Response::ok) {
        for (std::uint32_t storage : readArray(storages.value().data)) {
            // Format 0 and association 0: every object of the storage, folders included
            // (0xFFFFFFFF would ask for the root objects alone).
            std::vector<std::uint32_t> params{storage, 0, 0};
            auto listed =
                co_await engine->exchange(PTP::code(Op::getObjectHandles), std::move(params));
            if (engine_ != engine) co_return;
            if (!listed || listed.value().response.code != PTP::Response::ok) continue;
            const auto more = readArray(listed.value().data);
            handles.insert(handles.end(), more.begin(), more.end());
        }
    }
    // Cameras number objects as they are made: the highest handles are the newest pictures,
    // which the browser shows first. A full card takes minutes this way; this order lets
    // the top of the list fill at once.
    std::sort(handles.begin(), handles.end(), std::greater<>());
    // No real card holds more; a camera that says otherwise would have us ask for, and hold,
    // millions of objects. The newest are kept: they are the ones a photographer is after.
    if (handles.size() > ObjectPropList::maxObjects) {
        if (log_)
            log_(QString::fromUtf8(
                     "カードのオブジェクトが多すぎます（%1 件）。新しい %2 件だけを一覧にします")
                     .arg(handles.size())
                     .arg(ObjectPropList::maxObjects));
        handles.resize(ObjectPropList::maxObjects);
    }
    auto window = std::make_shared<InfoWindow>();
    std::size_t asked = 0;
    auto askAhead = [&](std::size_t upTo) {
        for (; asked < std::min(upTo, handles.size()); ++asked) {
            const std::uint32_t handle = handles[asked];
            if (known_.count(handle) > 0 || folders_.count(handle) > 0) continue;
            scope_.spawn(askInfo(engine, handle, window));
        }
    };
    CameraItems batch;
    std::vector<CameraFolder> folders;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (engine_ != engine) co_return;
        askAhead(i + infoWindowSize);
        const std::uint32_t handle = handles[i];
        if (!known_.insert(handle).second) continue;
        std::optional<ObjectInfo> info;
        if (const auto folder = folders_.find(handle); folder != folders_.end()) {
            // Described already as some file's folder.
            ObjectInfo known;
            known.format = ObjectInfo::associationFormat;
            known.filename = folder->second.name;
            known.parent = parentOf_[handle];
            info = known;
        } else if (auto ready = window->ready.find(handle); ready != window->ready.end()) {
            info = std::move(ready->second);
            window->ready.erase(ready);
        } else {
            auto wait = [window, handle](async::Resolver<std::optional<ObjectInfo>> resolver) {
                window->waiting.emplace(handle, std::move(resolver));
            };
            info = co_await async::waitFor<std::optional<ObjectInfo>>(std::move(wait));
        }
        if (engine_ != engine) co_return;
        if (!info) continue;
        if (info->isFolder()) {
            folders_[handle] = CameraFolder{handle, info->filename, {}};
            parentOf_[handle] = info->parent;
        }
        const QString path = co_await folderPath(engine, info->isFolder() ? handle : info->parent);
        if (engine_ != engine) co_return;
        if (info->isFolder()) {
            folders.push_back(CameraFolder{handle, info->filename, path});
        } else {
            batch.files.push_back(fileFor(handle, *info, path));
        }
        report(batch, false);
    }
    finish(batch, std::move(folders));
}

async::Task<void> CameraDevice::objectAdded(std::shared_ptr<SessionEngine> engine,
                                            std::uint32_t handle) {
    if (known_.count(handle) > 0) co_return;
    // A body that floods us with new objects must not queue questions without end: the
    // ones beyond the bound are dropped, said once per flood.
    if (addedPending_ >= maxAddedPending) {
        if (!floodLogged_ && log_)
            log_(QString::fromUtf8(
                     "新しいファイルの知らせが多すぎるため読み飛ばします（ハンドル %1 から）")
                     .arg(handle));
        floodLogged_ = true;
        co_return;
    }
    known_.insert(handle);
    ++addedPending_;
    struct Done {
        CameraDevice& device;
        ~Done() {
            if (--device.addedPending_ == 0) device.floodLogged_ = false;
        }
    } done{*this};
    const auto info = co_await describe(engine, handle);
    if (engine_ != engine || !info) co_return;
    const QString path = co_await folderPath(engine, info->isFolder() ? handle : info->parent);
    if (engine_ != engine) co_return;
    CameraItems items;
    items.added = true;
    if (info->isFolder()) {
        items.folders.push_back(CameraFolder{handle, info->filename, path});
    } else {
        items.files.push_back(fileFor(handle, *info, path));
    }
    tell([&](Listener& l, const DevicePtr& d) { l.itemsAdded(d, items); });
}

}  // namespace pexil::camera
