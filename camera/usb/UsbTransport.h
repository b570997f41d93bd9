#pragma once

#include "camera/transport/LinkTransport.h"

#include <chrono>
#include <cstddef>

namespace pexil::camera {

// Where a USB device sits: bus number and device address as the system numbers them
// (lsusb, /dev/bus/usb/BUS/ADDRESS). An address changes at every replug.
struct UsbAddress {
    int bus = 0;
    int address = 0;
    friend bool operator==(const UsbAddress&, const UsbAddress&) = default;
};

struct UsbTransportOptions {
    // Bound on every bulk transfer: the wait for a response, and for each chunk of a data
    // phase. A camera busy with a long operation still answers within it.
    std::chrono::milliseconds transferTimeout{20000};
    // Bound on the class-request recovery after a stall or time-out.
    std::chrono::milliseconds recoveryTimeout{3000};
    // Largest single bulk transfer of a data phase, rounded down to whole packets: the
    // memory a data phase needs whatever the object's size.
    std::size_t chunkSize = std::size_t{1} << 20;
};

// PTP over USB (still image class 6, subclass 1) with one camera: command container out,
// the host's data container out, the device's data container in (streamed to the sink),
// response container in, events from the interrupt pipe. After a stall or time-out it
// recovers with the class requests (Cancel, Get Device Status, Device Reset) and by
// clearing halted endpoints, then reports the failure; the next transaction may go ahead.
//
// Threads: as Transport. The destructor must run after every transact() and waitEvent()
// call has returned (interrupt() first to make them return). Every transfer has its own
// bound, so no ioTimeout is given.
//
// Failures to open carry a Japanese message that says what to do: a missing udev rule
// (no permission), a desktop volume monitor (gvfs) holding the camera, a device that is
// gone or has no PTP interface; anything else names libusb's error.
class UsbTransport final : public LinkTransport {
public:
    explicit UsbTransport(UsbAddress address, UsbTransportOptions options = {});
    ~UsbTransport() override;

    // The bulk packet size found by connect(); 0 before.
    std::size_t maxPacketSize() const;
};

}  // namespace pexil::camera
