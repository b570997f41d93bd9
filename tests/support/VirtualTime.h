#pragma once

// The virtual camera on a test's virtual clock.
#include "camera/virtual/BodyClock.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/VirtualRuntime.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace pexil::testing {

// A camera clock that keeps step with the runtime's virtual clock: the camera's busy periods,
// the start of its live view and its captures take virtual time, as the program's waits do,
// so a loaded machine changes nothing of what a test sees. One per runtime; `moved` is
// called after each move.
inline std::shared_ptr<camera::ManualBodyClock> bodyClockFollowing(
    async::VirtualRuntime& rt, std::function<void()> moved = {}) {
    auto clock = std::make_shared<camera::ManualBodyClock>();
    rt.clock().onMoved = [weak = std::weak_ptr<camera::ManualBodyClock>(clock),
                          moved = std::move(moved)](async::Seconds by) {
        if (auto body = weak.lock())
            body->advance(std::chrono::duration_cast<camera::BodyClock::Duration>(by));
        if (moved) moved();
    };
    return clock;
}

// Makes `options` a camera without a thread of its own on `clock`, which follows `rt`: its
// answers, its captures and its events all happen on the main queue as virtual time moves.
// Each capture starts a timer (that does nothing) for when it is due, so that a runtime with
// nothing else to do still moves time there.
inline void runOnVirtualTime(camera::VirtualCamera::Options& options, async::VirtualRuntime& rt,
                             std::shared_ptr<camera::ManualBodyClock> clock) {
    options.clock = clock;
    options.bodyThread = false;
    options.wakeAt = [clock, &rt](camera::BodyClock::TimePoint due) {
        const auto in = std::chrono::duration_cast<async::Seconds>(due - clock->now());
        rt.clock().startTimer(std::max(in, async::Seconds{0}), [] {});
    };
}

}  // namespace pexil::testing
