#pragma once

#include "camera/ptpip/PtpIpConnection.h"
#include "camera/ptpip/PtpIpPackets.h"
#include "camera/transport/Transport.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pexil::camera {

// Puts a camera responder (the virtual camera) on the network as a PTP/IP responder, so
// that any PTP/IP initiator can use it: Pexil's own transport, libgphoto2
// (`gphoto2 --port ptpip:127.0.0.1`) and the like.
//
// One initiator at a time: a second one that asks while a session is open gets Init Fail
// "busy"; once the first has gone, the next may connect. A connection that does not send
// its Init request within 5 s is closed.
//
// Each Operation Request goes to Responder::handle() with the host's data phase collected
// first (at most maxHostData bytes; a larger one is read past and answered GeneralError).
// The responder's data phase is streamed as it writes it: Start Data, then each piece as
// Data packets of at most maxPacketPayload bytes, the piece that completes the announced
// total as End Data (an empty End Data when the total was unknown or zero), then the
// Operation Response. Responder events become Event packets; Probe Requests are answered
// while the responder is in reach (Responder::inReach()), and go unanswered while it is not.
// A responder error (unplugged, cut) or a data phase that breaks its announced total ends
// the session: both connections are closed.
//
// Threads: start(), stop(), port() from one owning thread. The server runs an accept
// thread and, per session, a command thread (which calls handle()) and an event thread
// (which calls the responder's waitEvent() with short time-outs). stop() returns once all
// of them have ended; it waits for a handle() call in progress to return (a sink write
// fails at once after stop(), so a streaming responder returns promptly; a stalled one is
// told with Responder::initiatorGone() whenever a session ends). The log sink is
// called from the server's threads, one call at a time.
class PtpIpServer {
public:
    using LogFn = std::function<void(const QString&)>;

    static constexpr std::size_t maxHostData = std::size_t{32} << 20;
    static constexpr std::size_t maxPacketPayload = std::size_t{1} << 20;
    // The responder's identity in Init Command Ack.
    static constexpr ptpip::Guid guid{'P', 'e', 'x', 'i', 'l', '-', 'v', 'c',
                                      'a', 'm', 0,   0,   0,   0,   0,   1};
    static QString name() { return QStringLiteral("Pexil virtual camera"); }

    // `address` is a numeric address or a host name; empty means every interface. Port 0
    // takes any free port (port() tells which after start()).
    PtpIpServer(std::shared_ptr<Responder> responder, std::string address = "127.0.0.1",
                std::uint16_t port = ptpip::defaultPort, LogFn log = {});
    ~PtpIpServer();
    PtpIpServer(const PtpIpServer&) = delete;
    PtpIpServer& operator=(const PtpIpServer&) = delete;

    // Binds and starts accepting. Fails with a Japanese message when the address does not
    // resolve or the port is taken or not allowed. Starting a running server does nothing.
    Result<Done, TransportError> start();
    // Closes the listening socket and every connection, joins every thread. Idempotent.
    void stop();

    // The bound port after start(); the asked one before.
    std::uint16_t port() const { return port_; }
    // "ADDRESS:PORT" as bound, for messages ("listening on …"); empty before start().
    const std::string& endpoint() const { return endpoint_; }

private:
    class Session;
    struct Pending;

    void acceptLoop();
    void admit(std::unique_ptr<ptpip::PtpIpConnection> connection, const ptpip::Packet& init);
    // True when no session holds the responder, after ending one whose initiator is gone.
    bool reclaimResponder();
    void log(const QString& line) const;

    std::shared_ptr<Responder> responder_;
    std::string address_;
    std::uint16_t port_;
    std::string endpoint_;
    LogFn log_;
    mutable std::mutex logMutex_;

    int listenFd_ = -1;
    std::unique_ptr<ptpip::Interrupter> wake_;
    std::thread acceptThread_;
    // Owned by the accept thread while it runs, by stop() after.
    std::unique_ptr<Session> session_;
    std::uint32_t lastConnectionNumber_ = 0;
};

}  // namespace pexil::camera
