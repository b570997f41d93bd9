#pragma once

#include "camera/transport/Transport.h"
#include "kit/async/Runtime.h"
#include "kit/async/Task.h"
#include "kit/async/WorkQueue.h"
#include "kit/device/CameraCapabilities.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace pexil::camera {

// What one transaction gave back when its data phase was collected in memory.
struct Exchange {
    Response response;
    Bytes data;
};

// One PTP session over a transport: opens and closes it, numbers the transactions, puts
// every caller's transactions on the wire one at a time in the order they were asked for
// (event polls, live view, user commands, downloads and the catalogue all share the
// wire), and forwards the camera's events.
//
// Threads: the API is for the main thread; transactions run on the engine's own I/O
// thread and events are read on a second thread; results, events and the loss notice come
// back on the runtime's main executor. The engine may be destroyed with work queued: that
// work fails with a TransportError, and nothing is delivered after destruction. At most
// maxEventsWaiting events wait for the main thread at a time; a body that floods us with
// more has the rest dropped (droppedEvents() counts them) rather than fill memory.
//
// A transport that answers at once (Transport::answersAtOnce(): the in-process camera on
// time that moves only when told) gets no thread at all: its transactions run on the main
// executor in the order asked, and its events are read there after every transaction and
// whenever the transport says one is waiting. Nothing then happens behind the virtual
// clock's back, and no watchdog is needed.
//
// Waits: when the transport has an I/O time-out, a watchdog on the runtime's clock runs
// while transactions are queued. A transaction that makes no progress (Transport::
// progress(): not one byte of its own either way; events show a live camera, not a moving
// transaction) is probed (Transport::probe()) after a quarter of the
// time-out and again at each further quarter; once the whole time-out passes without
// progress, the transport is interrupted: that transaction, every queued one and the loss
// handler all get one TransportError that says the camera did not answer for so long. The
// watchdog looks every eighth of the time-out (at most every second), so the camera is
// given up between the time-out and one look later.
class SessionEngine : public std::enable_shared_from_this<SessionEngine> {
public:
    using EventHandler = std::function<void(Bytes container)>;
    using LossHandler = std::function<void(TransportError error)>;

    static std::shared_ptr<SessionEngine> create(async::Runtime& runtime,
                                                 std::unique_ptr<Transport> transport);
    ~SessionEngine();
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    // Set before open(); called on the main thread. The loss handler is called at most
    // once, when the transport fails outside a close().
    void setEventHandler(EventHandler handler) { eventHandler_ = std::move(handler); }
    void setLossHandler(LossHandler handler) { lossHandler_ = std::move(handler); }

    // The capability gate, which every transaction of the session passes, whoever asks:
    // until learn(), no vendor command and no vendor property goes out; after, what the
    // camera's DeviceInfo allows (CameraCapabilities). A refused transaction never reaches
    // the transport: it is answered with the refusal's response code, and the refusal
    // handler hears of it. Main thread.
    using RefusalHandler = std::function<void(
        std::uint16_t code, std::span<const std::uint32_t> params, const Refusal& refusal)>;
    void setRefusalHandler(RefusalHandler handler) { refusalHandler_ = std::move(handler); }
    void learn(const DeviceInfo& info) { capabilities_.emplace(info); }
    bool knowsCapabilities() const { return capabilities_.has_value(); }

    static constexpr int maxEventsWaiting = 4096;
    // Events dropped so far because too many were waiting; any thread.
    std::uint64_t droppedEvents() const { return dropped_->load(); }

    // Connects the transport and opens session 1; a camera that says a session is
    // already open (SessionAlreadyOpen) is taken as open. Starts the event reader.
    async::Task<Result<Done, TransportError>> open();
    // Closes the session (errors ignored: the camera may be gone) and stops everything.
    async::Task<Done> close();
    bool isOpen() const { return open_; }

    // One transaction, its device data phase streamed into `sink` on the I/O thread.
    async::Task<Result<Response, TransportError>> transact(std::uint16_t code,
                                                           std::vector<std::uint32_t> params,
                                                           std::optional<Bytes> outData,
                                                           std::shared_ptr<DataSink> sink);
    // One transaction with its data phase collected (bounded to 64 MiB).
    async::Task<Result<Exchange, TransportError>> exchange(
        std::uint16_t code, std::vector<std::uint32_t> params,
        std::optional<Bytes> outData = std::nullopt);

private:
    SessionEngine(async::Runtime& runtime, std::unique_ptr<Transport> transport);
    // Runs on the I/O thread: numbers and sends one transaction.
    Result<Response, TransportError> run(std::uint16_t code, std::vector<std::uint32_t> params,
                                         const std::optional<Bytes>& outData, DataSink& sink);
    void startEvents();
    // Hands one event to the main thread, unless too many wait there already; any thread.
    void queueEvent(Bytes container);
    // Reads what a transport that answers at once has waiting; main thread.
    void readWaitingEvents();
    void reportLoss(const TransportError& error);
    // The watchdog, on the main thread.
    void armWatchdog();
    void disarmIfIdle();
    void scheduleWatch();
    void watch();

    async::Runtime& runtime_;
    std::unique_ptr<Transport> transport_;
    const bool atOnce_;                     // the transport never blocks: no threads
    std::unique_ptr<async::WorkQueue> io_;  // none when at once
    std::thread events_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> lossReported_ = false;
    std::uint32_t nextTransaction_ = 1;  // I/O thread only
    bool open_ = false;

    const std::optional<std::chrono::milliseconds> ioTimeout_;
    const TransportError timedOut_;       // what everything fails with once the watchdog fired
    std::atomic<int> queued_ = 0;         // transactions posted and not yet done
    std::atomic<bool> inFlight_ = false;  // the I/O thread is inside the transport
    std::atomic<bool> expired_ = false;
    std::optional<async::TimerId> watchdog_;  // main thread, as the rest below
    std::uint64_t lastProgress_ = 0;
    async::Seconds quietSince_{0};
    int probes_ = 0;

    EventHandler eventHandler_;
    LossHandler lossHandler_;
    RefusalHandler refusalHandler_;
    std::optional<CameraCapabilities> capabilities_;  // main thread
    // Shared with posted work so that nothing is delivered after destruction.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    // Events posted to the main thread and not yet handled there; shared with what is posted.
    std::shared_ptr<std::atomic<int>> eventsWaiting_ = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<std::uint64_t>> dropped_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    // A read of waiting events is posted and has not run yet (at once only).
    std::shared_ptr<std::atomic<bool>> readPosted_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace pexil::camera
