#pragma once

#include "camera/ptpip/PtpIpPackets.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pexil::camera::ptpip {

using SteadyClock = std::chrono::steady_clock;
// When a wait gives up; none waits without a time limit.
using Deadline = std::optional<SteadyClock::time_point>;
// `timeout` from now; none for a year or more.
Deadline deadlineAfter(std::chrono::milliseconds timeout);

// Wakes every wait that watches it, at once and for good: how interrupt() and stop() end
// calls blocked on a socket. Any thread may signal.
class Interrupter {
public:
    Interrupter();
    ~Interrupter();
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;

    void signal();
    bool signalled() const { return signalled_.load(std::memory_order_acquire); }
    int fd() const { return fd_; }

private:
    int fd_;
    std::atomic<bool> signalled_{false};
};

// Makes a read wait return early (IoStatus::rung) without ending anything: how another
// thread gets the reader of a connection to do something for it (send a probe). Rings stay
// rung until cleared. Any thread.
class Doorbell {
public:
    Doorbell();
    ~Doorbell();
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    void ring();
    // Whether it had rung since the last clear().
    bool clear();
    int fd() const { return fd_; }

private:
    int fd_;
};

// One socket address of a host.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
    std::string text;  // "192.0.2.1:15740", "[::1]:15740"
};

// The addresses of `host` (a name or a numeric address; empty with `passive` means every
// local interface), or the resolver's own message. Blocks for as long as the system resolver
// takes: numeric addresses never wait.
Result<std::vector<Endpoint>, std::string> resolve(const std::string& host, std::uint16_t port,
                                                   bool passive = false);

enum class IoStatus {
    ok,
    timedOut,     // the deadline passed
    closed,       // the peer closed the connection
    interrupted,  // the Interrupter was signalled
    failed,       // a socket error: lastError() tells which
    malformed,    // the peer sent a header no packet can have
    rung,         // a read was woken by the Doorbell: nothing lost, the caller may read on
};

// One TCP connection carrying PTP/IP packets: a non-blocking socket and a receive buffer.
// Reads never allocate from a length the peer announced: control packets are bounded by
// maxControlPacket and Data payloads are handed out piece by piece from the buffer.
//
// Threads: reading and writing from one thread each at most; shutdown(), received() and sent() from
// any thread while the connection exists. Every wait watches the Interrupter and the deadline;
// reads also watch the Doorbell, if one is set, and a partial packet stays buffered.
class PtpIpConnection {
public:
    static constexpr std::size_t defaultCapacity = std::size_t{1} << 20;

    // Connects within the deadline. The error is an errno value: ETIMEDOUT when the
    // deadline passed, EINTR when interrupted, ECONNREFUSED and the like from the system.
    static Result<PtpIpConnection, int> open(const Endpoint& to, const Interrupter& wake,
                                             Deadline deadline,
                                             std::size_t capacity = defaultCapacity);

    // Takes ownership of a connected socket; `pending` holds bytes already read from it.
    PtpIpConnection(int fd, const Interrupter& wake, std::size_t capacity = defaultCapacity,
                    ByteView pending = {});
    ~PtpIpConnection();
    PtpIpConnection(PtpIpConnection&& other) noexcept;
    PtpIpConnection& operator=(PtpIpConnection&& other) noexcept;
    PtpIpConnection(const PtpIpConnection&) = delete;
    PtpIpConnection& operator=(const PtpIpConnection&) = delete;

    int fd() const { return fd_; }
    // The errno of the last call that gave IoStatus::failed.
    int lastError() const { return lastError_; }
    void setInterrupter(const Interrupter& wake) { wake_ = &wake; }
    void setDoorbell(const Doorbell* bell) { bell_ = bell; }
    // Bytes received and sent so far.
    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
    std::uint64_t sent() const { return sent_.load(std::memory_order_relaxed); }

    // Waits until the next packet's header is here; the packet itself stays unread.
    IoStatus peekHeader(Header& header, Deadline deadline);
    // After peekHeader() of a packet other than Data and End Data: the whole packet.
    IoStatus takePacket(Bytes& packet, Deadline deadline);
    // After peekHeader() of a Data or End Data packet: its transaction ID, then its payload
    // handed to `deliver` in pieces as they arrive (views into the buffer, valid during the
    // call). On a failure part of the payload may have been delivered.
    IoStatus takeData(const Header& header, std::uint32_t& transactionId,
                      const std::function<void(ByteView)>& deliver, Deadline deadline);
    // Reads past the packet whose header was peeked, whatever its type and size.
    IoStatus skip(const Header& header, Deadline deadline);
    // Bytes received but not yet taken.
    ByteView buffered() const;

    IoStatus send(ByteView bytes, Deadline deadline);
    // `head` then `body` in one go, without copying them together.
    IoStatus send(ByteView head, ByteView body, Deadline deadline);

    // Ends both directions, waking the peer and any wait on this socket; the descriptor
    // stays open until destruction.
    void shutdown();

    // TCP_NODELAY and keep-alive probes that find a vanished peer within half a minute.
    static void configure(int fd);

private:
    IoStatus need(std::size_t count, Deadline deadline);
    IoStatus fill(Deadline deadline);
    IoStatus wait(short events, Deadline deadline, const Doorbell* bell);
    void consume(std::size_t count);
    void close();

    int fd_ = -1;
    const Interrupter* wake_ = nullptr;
    const Doorbell* bell_ = nullptr;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> sent_{0};
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    int lastError_ = 0;
};

}  // namespace pexil::camera::ptpip
