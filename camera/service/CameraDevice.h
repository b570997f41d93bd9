#pragma once

#include "camera/service/CameraItems.h"
#include "camera/session/ObjectInfo.h"
#include "camera/session/SessionEngine.h"
#include "camera/transport/Transport.h"
#include "kit/async/Spawn.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/CommandTransport.h"
#include "kit/ptp/PTPEvent.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace pexil::camera {

class CameraDevice;

// Whoever watches a device: what it tells, in the order CameraDevice describes. Each call
// names the device, so a watcher of several (or of one it has let go of) can tell them apart.
// Main thread only.
class CameraDeviceListener {
public:
    using DevicePtr = std::shared_ptr<CameraDevice>;
    virtual ~CameraDeviceListener() = default;
    virtual void sessionOpened(const DevicePtr& device, std::optional<TransportError> error) = 0;
    virtual void sessionClosed(const DevicePtr& device, std::optional<TransportError> error) = 0;
    virtual void itemsAdded(const DevicePtr& device, const CameraItems& items) = 0;
    virtual void catalogComplete(const DevicePtr& device) = 0;
    // An event of the event channel.
    virtual void ptpEvent(const DevicePtr& device, const PTPEvent& event) = 0;
};

// One camera the service knows: opens and closes its PTP session, carries PTPCamera's
// operations, reports its card's contents and its events to its listener.
//
// Notifications, in this order for a session: sessionOpened (exactly once per
// requestOpenSession, with an error when it failed), then itemsAdded batches and one
// catalogComplete for the initial catalogue, then itemsAdded for each new object and ptpEvent
// for every event, in the order the camera told them, whether on the event channel or in the
// answer to a Nikon CheckEvent (pollEvents()), and finally sessionClosed (whoever ended the
// session; with the error when the link was lost). Everything arrives on the main thread; every
// request is answered exactly once.
//
// Every transaction, the catalogue's and the downloads' as well as PTPCamera's, passes the
// session engine's capability gate; the device teaches it each DeviceInfo it sees and logs
// what it refused, once per operation.
//
// A session reads DeviceInfo once before it says it is open; then the catalogue: a camera
// that offers GetObjectPropList describes every object in one
// transaction; one that does not (or fails it: not asked again, logged once) is read with
// GetObjectHandles and one GetObjectInfo per object, newest handle first, so that the newest
// pictures are reported first.
class CameraDevice final : public CommandTransport,
                           public std::enable_shared_from_this<CameraDevice> {
public:
    using TransportFactory = std::function<std::unique_ptr<Transport>()>;
    using Listener = CameraDeviceListener;
    using DevicePtr = std::shared_ptr<CameraDevice>;
    // A listener made of functions, any of them empty, for callers that need no device
    // argument (tools, tests, benchmarks): see listenerFrom().
    struct Callbacks {
        std::function<void(std::optional<TransportError>)> sessionOpened;
        std::function<void(std::optional<TransportError>)> sessionClosed;
        std::function<void(const CameraItems&)> itemsAdded;
        std::function<void()> catalogComplete;
        std::function<void(const PTPEvent&)> ptpEvent;
    };
    static std::shared_ptr<Listener> listenerFrom(Callbacks callbacks);

    // `name` may be empty when the device does not tell (the link then says "カメラ").
    static std::shared_ptr<CameraDevice> create(async::Runtime& runtime, QString name,
                                                QString address, TransportFactory transport);
    ~CameraDevice() override;
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    const QString& name() const { return name_; }
    const QString& address() const { return address_; }
    bool hasOpenSession() const { return engine_ && engine_->isOpen(); }
    // The device keeps the listener until another (or none) is set; whoever may die first
    // sets none before it goes.
    void setListener(std::shared_ptr<Listener> listener) { listener_ = std::move(listener); }
    // Where the device's own diagnostic lines go (a camera that refuses a catalogue read);
    // main thread. Without one they are dropped.
    void setLog(std::function<void(const QString&)> log) { log_ = std::move(log); }

    void requestOpenSession();
    void requestCloseSession(std::function<void(std::optional<TransportError>)> completion);

    // One operation of the open session (CommandTransport); fails with a TransportError
    // without one. The answer to GetDeviceInfo is read on the way: what the gate lets through
    // and whether the list operation exists.
    async::Task<Result<PTPAnswer, TransportError>> transact(PTPRequest request) override;

    // Asks a Nikon for the events it queued (CheckEvent) and puts them into the session's
    // event stream as if they had come on the event channel: ptpEvent for each, new pictures
    // to the catalogue. The events, in the camera's order, or why there are none: the
    // camera's (or the gate's) response code, or the transport's error.
    async::Task<Result<std::vector<PTPEvent>, CameraError>> pollEvents();

    // For CameraFile: the open session, or none.
    std::shared_ptr<SessionEngine> engine() const { return engine_; }
    async::Runtime& runtime() const { return runtime_; }
    async::Executor& fileQueue() { return files_; }
    async::Scope& tasks() { return scope_; }

private:
    CameraDevice(async::Runtime& runtime, QString name, QString address,
                 TransportFactory transport);
    async::Task<void> open();
    async::Task<void> close(std::function<void(std::optional<TransportError>)> completion);
    async::Task<void> catalog(std::shared_ptr<SessionEngine> engine);
    // The whole card from GetObjectPropList; false when the camera does not offer it or it
    // failed (nothing reported then).
    async::Task<bool> catalogFromPropList(std::shared_ptr<SessionEngine> engine);
    async::Task<void> catalogObjectByObject(std::shared_ptr<SessionEngine> engine);
    void report(CameraItems& batch, bool last);
    void finish(CameraItems& batch, std::vector<CameraFolder> folders);
    async::Task<void> objectAdded(std::shared_ptr<SessionEngine> engine, std::uint32_t handle);
    // Reads an object's info; folders are remembered so files can name their folder.
    async::Task<std::optional<ObjectInfo>> describe(std::shared_ptr<SessionEngine> engine,
                                                    std::uint32_t handle);
    async::Task<QString> folderPath(std::shared_ptr<SessionEngine> engine, std::uint32_t handle);
    // What DeviceInfo tells: the engine's gate, and whether the list operation exists.
    void learn(SessionEngine& engine, const Bytes& deviceInfo);
    // One event into the stream: the listener hears it, and a new picture goes to the
    // catalogue (one already known is skipped there).
    void deliver(const std::shared_ptr<SessionEngine>& engine, const PTPEvent& event);
    // The listener, held for the call, and this device as the calls name it.
    template <class Call>
    void tell(Call call) {
        if (auto listener = listener_) call(*listener, shared_from_this());
    }
    std::shared_ptr<CameraFile> fileFor(std::uint32_t handle, const ObjectInfo& info,
                                        const QString& folderPath);
    void endSession(std::optional<TransportError> error);

    async::Runtime& runtime_;
    QString name_;
    QString address_;
    TransportFactory makeTransport_;
    std::shared_ptr<Listener> listener_;
    std::shared_ptr<SessionEngine> engine_;
    std::map<std::uint32_t, CameraFolder> folders_;
    std::map<std::uint32_t, std::uint32_t> parentOf_;  // folder → its parent folder
    std::set<std::uint32_t> known_;
    // New objects being described at once; beyond the bound, announcements are dropped.
    static constexpr int maxAddedPending = 256;
    int addedPending_ = 0;
    bool floodLogged_ = false;
    std::uint64_t droppedTold_ = 0;  // the engine's dropped events already logged
    bool catalogDone_ = false;
    bool propListRefused_ = false;           // for the life of the device: a refusal is not retried
    std::optional<bool> announcesPropList_;  // from a DeviceInfo read through this device
    RefusalNotes refusals_;                  // the gate's refusals told in the log
    std::size_t reported_ = 0;               // objects reported in this session's catalogue
    std::function<void(const QString&)> log_;
    async::WorkQueue files_{QStringLiteral("app.pexil.camera.files")};
    async::Scope scope_;
};

}  // namespace pexil::camera
