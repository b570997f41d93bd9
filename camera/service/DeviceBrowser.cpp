#include "camera/service/DeviceBrowser.h"

#include <algorithm>

namespace pexil::camera {

void ManualSource::start(Report added, Report removed) {
    added_ = std::move(added);
    removed_ = std::move(removed);
    started_ = true;
    for (const auto& device : devices_) runtime_.main().post([report = added_, device] { report(device); });
}

void ManualSource::add(std::shared_ptr<CameraDevice> device) {
    devices_.push_back(device);
    if (started_) runtime_.main().post([report = added_, device] { report(device); });
}

void ManualSource::remove(const std::shared_ptr<CameraDevice>& device) {
    const auto it = std::find(devices_.begin(), devices_.end(), device);
    if (it == devices_.end()) return;  // reported once, however often it is pulled
    devices_.erase(it);
    if (started_) runtime_.main().post([report = removed_, device] { report(device); });
}

void DeviceBrowser::addSource(std::unique_ptr<DeviceSource> source) {
    sources_.push_back(std::move(source));
    if (started_) startSource(*sources_.back());
}

void DeviceBrowser::start() {
    if (started_) return;
    started_ = true;
    for (auto& source : sources_) startSource(*source);
}

void DeviceBrowser::startSource(DeviceSource& source) {
    {
        source.start(
            [this](const std::shared_ptr<CameraDevice>& device) {
                if (std::find(devices_.begin(), devices_.end(), device) != devices_.end()) return;
                devices_.push_back(device);
                if (onDeviceAdded) onDeviceAdded(device);
            },
            [this](const std::shared_ptr<CameraDevice>& device) {
                const auto it = std::find(devices_.begin(), devices_.end(), device);
                if (it == devices_.end()) return;
                devices_.erase(it);
                if (onDeviceRemoved) onDeviceRemoved(device);
            });
    }
}

}  // namespace pexil::camera
