#pragma once

#include "app/doctor/DoctorFinding.h"

namespace pexil {

// Whether the Avahi daemon answers on the system bus, which the geo link needs to announce
// this computer to the phone.
//
// Threads: any. Blocks while the client connects: at most D-Bus's own reply time-out
// (25 s) when the bus is alive but the daemon hangs; at once when nothing listens.
class AvahiProbe {
public:
    // "ok avahi: avahi-daemon VERSION に届く", or a warning with the command that starts
    // (or installs) the daemon. Never a failure: tethering works without it.
    static DoctorFinding examine();
};

}  // namespace pexil
