#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pexil::camera {

// How long a transaction may go without progress before the camera is given up: the USB
// transfer time-out's figure, long enough for a body writing a large file to its card.
inline constexpr std::chrono::milliseconds defaultIoTimeout{20000};

// A PTP operation request as it goes to the device: code, transaction ID, parameters (at most 5).
struct Operation {
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
    std::vector<std::uint32_t> params;
    friend bool operator==(const Operation&, const Operation&) = default;
};

// The device's response: code, the transaction it answers, response parameters.
struct Response {
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
    std::vector<std::uint32_t> params;
    friend bool operator==(const Response&, const Response&) = default;
};

// Receives a data phase piece by piece, so that a 100 MB object never sits in memory.
// begin() comes once before the first piece with the announced total (none when the
// sender does not know it); write() may come any number of times. Returning false from
// either asks the producer to stop: the transaction then ends with a TransportError.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool begin(std::optional<std::uint64_t> total) = 0;
    virtual bool write(ByteView piece) = 0;
};

// Collects a data phase in memory (small datasets: DeviceInfo, ObjectInfo, property values).
class BufferSink final : public DataSink {
public:
    explicit BufferSink(std::uint64_t limit = 64ULL << 20) : limit_(limit) {}
    bool begin(std::optional<std::uint64_t> total) override {
        if (total && *total > limit_) return false;
        // Growing piece by piece would copy a large object several times over.
        if (total) data_.reserve(data_.size() + static_cast<std::size_t>(*total));
        return true;
    }
    bool write(ByteView piece) override {
        if (data_.size() + piece.size() > limit_) return false;
        data_.insert(data_.end(), piece.begin(), piece.end());
        return true;
    }
    const Bytes& data() const { return data_; }
    Bytes take() { return std::move(data_); }

private:
    std::uint64_t limit_;
    Bytes data_;
};

// Moves PTP transactions between the host and one camera: USB, PTP/IP or in process.
// It carries bytes and knows nothing of what they mean; the session engine decides.
//
// Threads: every call blocks. transact() is called from one thread at a time (the
// session's I/O thread); waitEvent() from one other thread (the event thread) and may
// run at the same time as transact(). interrupt() may be called from any thread.
class Transport {
public:
    virtual ~Transport() = default;

    // Connects and does whatever the link needs before the first transaction (claiming
    // the USB interface; the PTP/IP init handshake). Does not open a PTP session.
    virtual Result<Done, TransportError> connect() = 0;

    // One transaction: the request, then the host's data phase when `outData` is given,
    // then the device's data phase into `sink` (if any), then the response. A device data
    // phase when the host sent one, or the reverse, is the device's business: whatever
    // arrives goes to the sink.
    virtual Result<Response, TransportError> transact(const Operation& operation,
                                                      std::optional<ByteView> outData,
                                                      DataSink& sink) = 0;

    // The next event as a standard PTP event container (length, type 4, code, transaction
    // ID, parameters, little-endian), none when `timeout` passed first, an error when the
    // link is gone.
    virtual Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) = 0;

    // Makes blocked and later calls return a TransportError at once (closing, unplugged).
    virtual void interrupt() = 0;

    // What the session engine's watchdog needs. A transport whose every wait has its own
    // bound (USB: each transfer) gives no ioTimeout and no watchdog runs for it.
    //
    // How long a transaction may go without progress before the camera counts as lost.
    virtual std::optional<std::chrono::milliseconds> ioTimeout() const { return std::nullopt; }
    // Grows with every byte moved either way, on any of the link's channels (a probe's
    // answer included). Only its changes mean anything. Any thread.
    virtual std::uint64_t progress() const { return 0; }
    // Asks the camera for a sign of life without disturbing the transaction under way
    // (PTP/IP: a Probe Request on the event connection); its answer shows in progress().
    // Never blocks; does nothing where the link has no such request. Any thread.
    virtual void probe() {}

    // A transport that never blocks: an in-process camera on time that moves only when
    // told. transact() answers at once, waitEvent() with a zero timeout looks without
    // waiting, and whatever could make an event readable (one raised, the link gone)
    // calls the notice given to watchEvents(), on the thread that did it. The session
    // engine then runs such a transport on the main executor with no thread of its own,
    // so that a test's run follows the virtual clock alone.
    virtual bool answersAtOnce() const { return false; }
    // Only for a transport that answers at once; empty to stop. Main thread.
    virtual void watchEvents(std::function<void()> notice) { (void)notice; }
};

// The camera side of a PTP session: what the virtual camera implements and what a
// server (PTP/IP) puts on the network. Same threading as Transport: handle() from one
// thread at a time, waitEvent() from another.
class Responder {
public:
    virtual ~Responder() = default;
    // Answers one operation. The device's data phase, if any, goes to `sink` (begin()
    // with its total, then the pieces). An error means the connection is gone (unplugged,
    // cut), and no response is sent.
    virtual Result<Response, TransportError> handle(const Operation& operation,
                                                    std::optional<ByteView> outData,
                                                    DataSink& sink) = 0;
    virtual Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) = 0;

    // False while the camera is out of reach (the virtual camera's stall: a body that has
    // walked away): a server then answers nothing for it, not even a probe. Any thread.
    virtual bool inReach() const { return true; }
    // The initiator has gone: a handle() call blocked for it gives up at once. Any thread.
    virtual void initiatorGone() {}
};

}  // namespace pexil::camera
