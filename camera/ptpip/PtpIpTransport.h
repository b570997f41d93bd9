#pragma once

#include "camera/ptpip/PtpIpConnection.h"
#include "camera/ptpip/PtpIpPackets.h"
#include "camera/transport/LinkTransport.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace pexil::camera {

// A camera on the network over PTP/IP (CIPA DC-005): a command connection carrying
// operations and data phases, and an event connection carrying events and probes.
//
// connect() opens the command connection (at most connectTimeout, 5 s by default, for the
// TCP connection, then at most initTimeout for the camera's answer to Init Command
// Request), then the event connection the same way. A camera that refuses the initiator
// (Init Fail) gives a TransportError that says why: busy with another computer, or
// pairing refused.
//
// Data phases are streamed: the device's data reaches the sink in pieces of at most
// PtpIpConnection::defaultCapacity bytes as they arrive, whether the camera sends Start
// Data, Data… and End Data or puts the whole payload into End Data; memory stays flat
// whatever the object's size. A data phase that ends short of (or runs past) the announced
// total fails the transaction with a TransportError unless the camera's response is
// itself an error, which is then returned.
//
// Waits: transact() waits for the camera's answer as long as it makes progress. The session
// engine's watchdog bounds it: it reads progress() (the bytes of the transaction's own
// request, data and response phases) and, while a transaction is silent, calls probe(); the
// Probe Request then goes out on the event connection from the thread in waitEvent(), which
// the request wakes at once. A transaction that moves no byte of its own for ioTimeout (20 s
// by default) is given up with interrupt(), whether or not the camera answers probes or sends
// events meanwhile: those show a camera alive, not a transaction moving. Without a
// waitEvent() call running, probes wait for the next one.
// waitEvent() waits at most its timeout. The camera's Probe Requests are answered by
// whichever call is reading the connection they arrive on.
//
// Failures: a cut connection, a protocol violation or interrupt() leave the transport
// unusable: that call and every later one return a TransportError, the first one logged
// once. A refused sink or a wrong data length fail only their transaction.
//
// Threads: as Transport says. The log sink is called from the calling threads, one call
// at a time.
class PtpIpTransport final : public LinkTransport {
public:
    using LogFn = std::function<void(const QString&)>;

    struct Options {
        std::string host;
        std::uint16_t port = ptpip::defaultPort;
        // Cameras remember the computers they were paired with by this identifier.
        ptpip::Guid guid = PtpIpTransport::defaultGuid();
        // The name the camera shows for this computer.
        QString friendlyName = PtpIpTransport::defaultFriendlyName();
        std::chrono::milliseconds connectTimeout{5000};
        std::chrono::milliseconds initTimeout{10000};
        // Where the bytes come from instead of TCP (fuzzing, tests): a connected socket for
        // each connection in turn (command first), owned by the transport from then on; -1
        // as a refused connection. Empty: TCP to host and port.
        std::function<int(const ptpip::Endpoint&)> dial;
        // Each connection's read buffer: the most of a data phase read in one piece.
        std::size_t bufferCapacity = ptpip::PtpIpConnection::defaultCapacity;
        std::chrono::milliseconds ioTimeout = defaultIoTimeout;
    };

    PtpIpTransport(Options options, LogFn log = {});
    ~PtpIpTransport() override;

    // The camera's Init Command Ack (its name and GUID); none until connect() succeeded.
    // Call from the thread that called connect().
    const std::optional<ptpip::InitCommandAck>& camera() const;

    // Derived from the machine's identifier, so that the same computer always presents
    // the same GUID (a camera pairs with it once).
    static ptpip::Guid defaultGuid();
    // "Pexil " and the host name, as long as a camera shows (at most 39 characters).
    static QString defaultFriendlyName();
};

}  // namespace pexil::camera
