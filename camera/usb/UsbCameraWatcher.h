#pragma once

#include "kit/async/Clock.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

struct udev_device;

namespace pexil::camera {

// Notices a camera on USB as soon as it shows up as a still-image (PTP) device, long
// before the camera service is ready with it, and says how long ago it was plugged in.
// It never talks to the camera.
//
// Source: udev. A monitor on subsystem "usb", devtype "usb_interface" (interfaces of
// class 06, subclass 01 kept), its socket watched on the main thread; the interfaces
// present at start() are the first batch. Without udev the watcher stays silent and
// inactive.
//
// Threads: main thread only (construction, start(), the callbacks, destruction).
class UsbCameraWatcher {
public:
    struct Camera {
        // The product name without "NIKON DSC "; "カメラ" when the device has none.
        QString name;
        // When the device appeared on USB (udev's initialisation time, if under an hour
        // old and not in the future), else when the watcher noticed it.
        QDateTime since;
        friend bool operator==(const Camera&, const Camera&) = default;
    };
    using LogSink = std::function<void(const QString&)>;

    // `clock` gives wall time for `since` and the monotonic time that udev's time stamps
    // are compared with (SystemClock's is CLOCK_MONOTONIC, the clock udev stamps with).
    UsbCameraWatcher(async::Clock& clock, LogSink log);
    ~UsbCameraWatcher();
    UsbCameraWatcher(const UsbCameraWatcher&) = delete;
    UsbCameraWatcher& operator=(const UsbCameraWatcher&) = delete;

    // Called after each batch of arrivals or departures that touched at least one
    // still-image interface. May be set at any time.
    std::function<void()> onChange;

    // Arms the monitor and takes in the interfaces already present. Once the monitor
    // exists, calling it again does nothing.
    void start();

    // The still-image interfaces present now, by a stable 64-bit identifier of each.
    const std::map<std::uint64_t, Camera>& cameras() const { return cameras_; }
    // The one with the earliest `since` (any of them for equal dates); none when empty.
    std::optional<Camera> camera() const;

private:
    struct Udev;
    void drainMonitor();
    // Whether the device counted: a still-image interface arriving or leaving.
    bool arrive(udev_device* interface);
    bool depart(udev_device* interface);
    Camera describe(udev_device* interface) const;

    async::Clock& clock_;
    LogSink log_;
    std::map<std::uint64_t, Camera> cameras_;
    std::unique_ptr<Udev> udev_;  // set once start() created the monitor
};

}  // namespace pexil::camera
