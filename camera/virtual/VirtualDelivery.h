#pragma once

// The virtual camera's data delivery: the data phase in pieces, slowed to the bandwidth,
// with the faults that strike mid-transfer (a cut cable, a stall), and the latency of every
// transaction. Runs without the lock: a long download must not hold up events or the body.

#include "camera/virtual/VirtualBodyState.h"

namespace pexil::camera {

// Waits `period` of the camera's time; false (at once) when the body is unplugged or
// `closed` (may be null) is set and woken.
bool pauseFor(VirtualBodyState& body, std::chrono::duration<double> period,
              const std::atomic<bool>* closed);

// Sends the data phase of `reply`, if any, then gives its response.
Result<Response, TransportError> deliverReply(VirtualBodyState& body, const Operation& operation,
                                              Reply reply, DataSink& sink,
                                              const std::atomic<bool>* closed);

}  // namespace pexil::camera
