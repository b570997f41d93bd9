#pragma once

#include "camera/service/CameraAddress.h"
#include "camera/service/DeviceBrowser.h"
#include "camera/usb/UsbTransport.h"
#include "camera/virtual/VirtualCamera.h"

#include <chrono>
#include <memory>

namespace pexil::camera {

class UsbCameraList;
struct UsbCameraInfo;

// The cameras on USB, as CameraDevices: each arrival becomes a device, each removal
// removes the same device object. With a bus and address only that device is reported.
class UsbSource final : public DeviceSource {
public:
    // Every transfer of its devices is bounded by `ioTimeout`.
    UsbSource(async::Runtime& runtime, std::optional<UsbAddress> only,
              std::function<void(const QString&)> log,
              std::chrono::milliseconds ioTimeout = defaultIoTimeout);
    ~UsbSource() override;
    void start(Report added, Report removed) override;

private:
    async::Runtime& runtime_;
    std::optional<UsbAddress> only_;
    std::function<void(const QString&)> log_;
    std::chrono::milliseconds ioTimeout_;
    std::unique_ptr<UsbCameraList> list_;
    std::vector<std::pair<UsbAddress, std::shared_ptr<CameraDevice>>> devices_;
};

// The built-in virtual camera as a device; unplug() pulls its cable and reports the
// removal once.
class VirtualSource final : public DeviceSource {
public:
    VirtualSource(async::Runtime& runtime, std::shared_ptr<VirtualCamera> camera,
                  std::chrono::milliseconds ioTimeout = defaultIoTimeout);
    void start(Report added, Report removed) override {
        manual_.start(std::move(added), std::move(removed));
    }
    void unplug();
    const std::shared_ptr<VirtualCamera>& camera() const { return camera_; }
    const std::shared_ptr<CameraDevice>& device() const { return device_; }

private:
    std::shared_ptr<VirtualCamera> camera_;
    std::shared_ptr<CameraDevice> device_;
    ManualSource manual_;
};

// A device for a PTP/IP address (no discovery: the camera is reported at once).
std::shared_ptr<CameraDevice> ptpipDevice(async::Runtime& runtime, const CameraAddress& address,
                                          std::function<void(const QString&)> log,
                                          std::chrono::milliseconds ioTimeout = defaultIoTimeout);

// What a program needs to reach the camera at `address`: the source to give the
// browser, and for `virtual` the camera itself (its options from `virtualOptions`). A
// transaction without progress for `ioTimeout` loses the camera, whatever the link.
struct CameraSetup {
    std::unique_ptr<DeviceSource> source;
    std::shared_ptr<VirtualCamera> virtualCamera;
    VirtualSource* virtualSource = nullptr;
};
Result<CameraSetup, QString> setUpCamera(async::Runtime& runtime, const CameraAddress& address,
                                         VirtualCamera::Options virtualOptions,
                                         std::function<void(const QString&)> log,
                                         std::chrono::milliseconds ioTimeout = defaultIoTimeout);

// The device's name as the service shows it: the USB product name or the model.
QString nameOf(const UsbCameraInfo& info);

}  // namespace pexil::camera
