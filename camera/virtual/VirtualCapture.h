#pragma once

// The virtual camera's capture: the shutter under the lock, the picture on the body thread.

#include "camera/virtual/VirtualBodyState.h"

namespace pexil::camera {

// Fires the shutter: the body is busy until the picture is on the card, and the body thread
// is given the order. The lock is held.
void startCapture(VirtualBodyState& body, std::uint32_t transactionId);

// The body thread: finishes each capture when it is due, until `stopping`.
void runBody(VirtualBodyState& body);

// For a body without a thread: finishes every capture that has fallen due, letting `lock`
// (held on the body's mutex) go while it writes each one.
void finishDueCaptures(VirtualBodyState& body, std::unique_lock<std::mutex>& lock);

}  // namespace pexil::camera
