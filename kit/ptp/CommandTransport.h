#pragma once

#include "kit/async/Task.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil {

// One PTP operation as the host asks it: the transport numbers the transaction.
struct PTPRequest {
    PTP::Op op;
    std::vector<std::uint32_t> params;
    std::optional<Bytes> data;  // the host-to-camera data phase, if any
};

// What the camera answered, whatever the response code.
struct PTPAnswer {
    std::uint16_t code = 0;  // the response code; Response::none when the camera sent none
    std::vector<std::uint32_t> params;
    Bytes data;  // the camera's data phase, empty when there was none

    friend bool operator==(const PTPAnswer&, const PTPAnswer&) = default;
};

// The PTP operations of an open camera session.
//
// Contract: transact() runs one operation and completes with the camera's answer or the
// failure below PTP, resuming its caller through the main executor of the caller's runtime,
// never inline, even when the answer is at hand (callers rely on what they posted before
// asking running first).
// It may be called again before earlier operations complete; the transport decides how
// they reach the wire (in the order they were asked for).
class CommandTransport {
public:
    virtual ~CommandTransport() = default;
    virtual async::Task<Result<PTPAnswer, TransportError>> transact(PTPRequest request) = 0;
};

}  // namespace pexil
