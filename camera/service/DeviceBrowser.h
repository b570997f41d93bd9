#pragma once

#include "camera/service/CameraDevice.h"

#include <functional>
#include <memory>
#include <vector>

namespace pexil::camera {

// Something that finds cameras: USB enumeration and hot-plug, a PTP/IP address, the
// virtual camera. It reports on the main thread.
class DeviceSource {
public:
    using Report = std::function<void(const std::shared_ptr<CameraDevice>&)>;
    virtual ~DeviceSource() = default;
    // Reports the devices present now (never inside this call), then every change.
    virtual void start(Report added, Report removed) = 0;
};

// A source whose devices are added and removed by its owner: a PTP/IP address given on
// the command line, the virtual camera (whose unplug is a removal), tests.
class ManualSource final : public DeviceSource {
public:
    explicit ManualSource(async::Runtime& runtime) : runtime_(runtime) {}
    void start(Report added, Report removed) override;
    void add(std::shared_ptr<CameraDevice> device);
    void remove(const std::shared_ptr<CameraDevice>& device);

private:
    async::Runtime& runtime_;
    Report added_, removed_;
    bool started_ = false;
    std::vector<std::shared_ptr<CameraDevice>> devices_;
};

// Reports each camera the sources find (also those present before start()) and each
// removal, the removed object being the one that was added. Main thread only.
class DeviceBrowser {
public:
    std::function<void(const std::shared_ptr<CameraDevice>&)> onDeviceAdded;
    std::function<void(const std::shared_ptr<CameraDevice>&)> onDeviceRemoved;

    void addSource(std::unique_ptr<DeviceSource> source);
    void start();
    const std::vector<std::shared_ptr<CameraDevice>>& devices() const { return devices_; }

private:
    void startSource(DeviceSource& source);
    std::vector<std::unique_ptr<DeviceSource>> sources_;
    std::vector<std::shared_ptr<CameraDevice>> devices_;
    bool started_ = false;
};

}  // namespace pexil::camera
