#pragma once

#include "camera/usb/UsbTransport.h"
#include "kit/async/Executor.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pexil::camera {

// A USB device with a still-image (PTP) interface, as the device browser lists it.
struct UsbCameraInfo {
    UsbAddress address;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // The product string descriptor when the device could be opened, else the "product"
    // attribute in sysfs; empty when neither is there.
    QString product;
    friend bool operator==(const UsbCameraInfo&, const UsbCameraInfo&) = default;
};

// The PTP cameras on USB: a one-off enumeration, and hot-plug arrivals and removals.
//
// Threads: construct, start(), cameras() and destroy on the main thread. A libusb event
// thread of its own watches the bus and reads names (which opens the device briefly);
// arrivals and removals are posted through the executor given to the constructor, in the
// order they happened. Nothing posted runs after the list is destroyed.
class UsbCameraList {
public:
    using Callback = std::function<void(const UsbCameraInfo&)>;

    explicit UsbCameraList(async::Executor& main);
    ~UsbCameraList();
    UsbCameraList(const UsbCameraList&) = delete;
    UsbCameraList& operator=(const UsbCameraList&) = delete;

    // The cameras attached now, in bus order. Blocks while names are read (a few control
    // transfers per camera, each bounded to one second): call it off the main thread or
    // at start-up. Fails only when USB cannot be used at all.
    static Result<std::vector<UsbCameraInfo>, TransportError> enumerate();

    // Starts watching: `arrived` first for every camera attached now, then for each one
    // plugged in; `left` for each camera unplugged. Again after success: nothing. Fails
    // when USB cannot be used or the system has no hot-plug support.
    Result<Done, TransportError> start(Callback arrived, Callback left);

    // The cameras reported so far and not removed, in arrival order (main thread).
    std::vector<UsbCameraInfo> cameras() const;

private:
    struct Shared;
    struct Watch;
    async::Executor& main_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<Watch> watch_;
};

}  // namespace pexil::camera
