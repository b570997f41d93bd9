#include "camera/virtual/VirtualEvents.h"

#include "kit/ptp/PTPEvent.h"

namespace pexil::camera {

namespace {

// Each queue keeps this many; older ones are dropped first.
constexpr std::size_t kMaxQueued = 4096;

}  // namespace

void VirtualBodyState::raise(std::uint16_t code, std::uint32_t param) {
    if (!session || unplugged) return;
    const bool checkEvent = model.hasOperation(PTP::code(PTP::Op::nikonCheckEvent));
    if (options.eventChannel || !checkEvent) {
        events.emplace_back(code, param);
        if (events.size() > kMaxQueued) events.pop_front();
    }
    if (checkEvent) {
        checkEvents.emplace_back(code, param);
        if (checkEvents.size() > kMaxQueued) checkEvents.pop_front();
    }
    changed.notify_all();
    if (eventNotice) eventNotice();
}

void VirtualBodyState::raiseChanged(const std::vector<std::uint16_t>& codes) {
    for (const std::uint16_t code : codes) raise(PTP::Event::devicePropChanged, code);
}

Result<std::optional<Bytes>, TransportError> waitForEvent(VirtualBodyState& s,
                                                          std::chrono::milliseconds timeout,
                                                          const std::atomic<bool>* closed) {
    std::unique_lock lock(s.mutex);
    ++s.eventReaders;
    s.changed.notify_all();
    // A stalled body is out of reach: its events wait until it is back.
    s.changed.wait_for(lock, timeout,
                       [&] { return s.over(closed) || (!s.events.empty() && !s.stalled); });
    --s.eventReaders;
    if (s.unplugged) return TransportError{linkGone()};
    if (closed && closed->load()) return TransportError{linkClosed()};
    if (s.events.empty() || s.stalled) return std::optional<Bytes>{};
    const auto [code, param] = s.events.front();
    s.events.pop_front();
    return std::optional<Bytes>{PTPEvent{code, param}.toContainer()};
}

}  // namespace pexil::camera
