#include "kit/async/VirtualClock.h"

#include <cmath>

namespace pexil::async {

VirtualClock::VirtualClock(QDateTime start) : wallBase_(std::move(start)) {}

QDateTime VirtualClock::now() const {
    const auto ms = std::llround((elapsed_ + wallOffset_).count() * 1000.0);
    return wallBase_.addMSecs(ms);
}

TimerId VirtualClock::startTimer(Seconds after, std::function<void()> fire) {
    const TimerId id = nextId_++;
    const Seconds due = elapsed_ + std::max(Seconds{0}, after);
    timers_.emplace(Key{due, id}, std::move(fire));
    dueOf_.emplace(id, due);
    return id;
}

void VirtualClock::cancelTimer(TimerId id) {
    const auto it = dueOf_.find(id);
    if (it == dueOf_.end()) return;
    timers_.erase(Key{it->second, id});
    dueOf_.erase(it);
}

std::optional<Seconds> VirtualClock::nextDue() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.first;
}

bool VirtualClock::fireNext() {
    if (timers_.empty()) return false;
    auto node = timers_.extract(timers_.begin());
    dueOf_.erase(node.key().second);
    moveTo(node.key().first);
    node.mapped()();
    return true;
}

void VirtualClock::advance(Seconds by) {
    const Seconds until = elapsed_ + by;
    while (!timers_.empty() && timers_.begin()->first.first <= until) fireNext();
    moveTo(until);
}

void VirtualClock::moveTo(Seconds to) {
    if (to <= elapsed_) return;
    const Seconds by = to - elapsed_;
    elapsed_ = to;
    if (onMoved) onMoved(by);
}

void VirtualClock::setWallTime(const QDateTime& wall) {
    wallBase_ = wall;
    wallOffset_ = -elapsed_;
}

}  // namespace pexil::async
