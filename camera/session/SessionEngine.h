#pragma once

#include "camera/transport/Transport.h"
#include "kit/async/Runtime.h"
#include "kit/async/Task.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/CommandTransport.h"

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
// work fails with a TransportError, and nothing is delivered after destruction.
class SessionEngine : public std::enable_shared_from_this<SessionEngine> {
public:
    using EventHandler = std::function<void(Bytes container)>;
    using LossHandler = std::function<void(TransportError error)>;

    static std::shared_ptr<SessionEngine> create(async::Runtime& runtime, std::unique_ptr<Transport> transport);
    ~SessionEngine();
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    // Set before open(); called on the main thread. The loss handler is called at most
    // once, when the transport fails outside a close().
    void setEventHandler(EventHandler handler) { eventHandler_ = std::move(handler); }
    void setLossHandler(LossHandler handler) { lossHandler_ = std::move(handler); }

    // Connects the transport and opens session 1; a camera that says a session is
    // already open (0x201E) is taken as open. Starts the event reader.
    async::Task<Result<Done, TransportError>> open();
    // Closes the session (errors ignored: the camera may be gone) and stops everything.
    async::Task<Done> close();
    bool isOpen() const { return open_; }

    // One transaction, its device data phase streamed into `sink` on the I/O thread.
    async::Task<Result<Response, TransportError>> transact(std::uint16_t code, std::vector<std::uint32_t> params,
                                                           std::optional<Bytes> outData,
                                                           std::shared_ptr<DataSink> sink);
    // One transaction with its data phase collected (bounded to 64 MiB).
    async::Task<Result<Exchange, TransportError>> exchange(std::uint16_t code, std::vector<std::uint32_t> params,
                                                           std::optional<Bytes> outData = std::nullopt);

    // The raw pass-through of a command container: its transaction ID is replaced by the
    // engine's, the completion runs once on the I/O thread.
    void passThrough(Bytes command, std::optional<Bytes> outData, std::function<void(PTPExchange)> completion);

private:
    SessionEngine(async::Runtime& runtime, std::unique_ptr<Transport> transport);
    // Runs on the I/O thread: numbers and sends one transaction.
    Result<Response, TransportError> run(std::uint16_t code, std::vector<std::uint32_t> params,
                                         const std::optional<Bytes>& outData, DataSink& sink);
    void startEvents();
    void reportLoss(const TransportError& error);

    async::Runtime& runtime_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<async::WorkQueue> io_;
    std::thread events_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> lossReported_ = false;
    std::uint32_t nextTransaction_ = 1;  // I/O thread only
    bool open_ = false;
    EventHandler eventHandler_;
    LossHandler lossHandler_;
    // Shared with posted work so that nothing is delivered after destruction.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

// The 12-byte response container a pass-through caller expects.
Bytes responseContainer(const Response& response);

}  // namespace pexil::camera
