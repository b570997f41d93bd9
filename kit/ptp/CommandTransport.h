#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPError.h"

#include <functional>
#include <optional>

namespace pexil {

// What a transport gives back for one command.
struct PTPExchange {
    Bytes data;      // the camera's data phase, empty when there was none
    Bytes response;  // the response container, starting with its 12-byte header
    std::optional<TransportError> error;  // none when the transport did its part
};

// The raw PTP pass-through of an open camera session.
//
// Contract: sendPTPCommand() takes a command container (its transaction ID is the
// transport's to replace) and an optional host-to-camera data phase, and calls
// `completion` exactly once, on any thread, with the exchange. It may be called again
// before earlier commands complete; the transport decides how they reach the wire.
class CommandTransport {
public:
    virtual ~CommandTransport() = default;
    virtual void sendPTPCommand(Bytes command, std::optional<Bytes> outData,
                                std::function<void(PTPExchange)> completion) = 0;
};

}  // namespace pexil
