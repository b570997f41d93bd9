#pragma once

#include <csignal>

namespace pexil::cli {

// SIGINT and SIGTERM taken synchronously: blocked for this thread and every thread it starts
// afterwards (so make it before any), then read from a signalfd on an event loop or waited
// for. No handler and no global state. Restores the previous mask, after swallowing what
// arrived, when it goes.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable when a signal waits; negative when it could not be made.
    int fd() const { return fd_; }
    void drain() const;
    // Blocks until a signal comes or `seconds` pass (negative: no limit); true on a signal.
    bool wait(double seconds) const;

private:
    sigset_t set_{};
    sigset_t previous_{};
    bool blocked_ = false;
    int fd_ = -1;
};

}  // namespace pexil::cli
