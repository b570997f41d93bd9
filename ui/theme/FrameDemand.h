#pragma once

#include "ui/theme/FrameClock.h"

#include <QPointer>

namespace pexil::ui {

// One client's balanced request for frames from a FrameClock: set(true) acquires once,
// set(false) releases once, and the destructor or a change of clock gives the request back.
class FrameDemand final {
public:
    FrameDemand() = default;
    ~FrameDemand() { set(false); }
    FrameDemand(const FrameDemand&) = delete;
    FrameDemand& operator=(const FrameDemand&) = delete;

    void setClock(FrameClock* clock) {
        const bool wanted = held_;
        set(false);
        clock_ = clock;
        set(wanted);
    }

    void set(bool wanted) {
        if (wanted == held_) return;
        held_ = wanted;
        if (!clock_) return;
        wanted ? clock_->acquire() : clock_->release();
    }

    bool isHeld() const { return held_; }

private:
    QPointer<FrameClock> clock_;
    bool held_ = false;
};

}  // namespace pexil::ui
