#pragma once

// The virtual camera's event queues: the event channel's and CheckEvent's.

#include "camera/virtual/VirtualBodyState.h"

namespace pexil::camera {

// The next event of the event channel as a standard container; none after `timeout`. Fails
// at once when the body is unplugged or `closed` (may be null) is set and woken.
Result<std::optional<Bytes>, TransportError> waitForEvent(VirtualBodyState& body,
                                                          std::chrono::milliseconds timeout,
                                                          const std::atomic<bool>* closed);

}  // namespace pexil::camera
