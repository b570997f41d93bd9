#include "camera/sources/CameraSources.h"

#include "camera/ptpip/PtpIpTransport.h"
#include "camera/usb/UsbCameraList.h"
#include "camera/usb/UsbTransport.h"
#include "camera/virtual/VirtualTransport.h"

#include <algorithm>

namespace pexil::camera {

QString nameOf(const UsbCameraInfo& info) {
    return info.product.trimmed();
}

UsbSource::UsbSource(async::Runtime& runtime, std::optional<UsbAddress> only,
                     std::function<void(const QString&)> log, std::chrono::milliseconds ioTimeout)
    : runtime_(runtime),
      only_(only),
      log_(std::move(log)),
      ioTimeout_(ioTimeout),
      list_(std::make_unique<UsbCameraList>(runtime.main())) {}

UsbSource::~UsbSource() = default;

void UsbSource::start(Report added, Report removed) {
    auto started = list_->start(
        [this, added](const UsbCameraInfo& info) {
            if (only_ && info.address != *only_) return;
            const QString address =
                QStringLiteral("usb:%1:%2").arg(info.address.bus).arg(info.address.address);
            UsbTransportOptions options;
            options.transferTimeout = ioTimeout_;
            auto device = CameraDevice::create(
                runtime_, nameOf(info), address, [where = info.address, options] {
                    return std::make_unique<UsbTransport>(where, options);
                });
            device->setLog(log_);
            devices_.emplace_back(info.address, device);
            added(device);
        },
        [this, removed](const UsbCameraInfo& info) {
            const auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& entry) {
                return entry.first == info.address;
            });
            if (it == devices_.end()) return;
            auto device = it->second;
            devices_.erase(it);
            removed(device);
        });
    if (!started && log_)
        log_(QString::fromUtf8("USB のカメラを探せない: ") + started.error().message);
}

VirtualSource::VirtualSource(async::Runtime& runtime, std::shared_ptr<VirtualCamera> camera,
                             std::chrono::milliseconds ioTimeout)
    : camera_(std::move(camera)), manual_(runtime) {
    device_ = CameraDevice::create(runtime, camera_->model().model, QStringLiteral("virtual"),
                                   [camera = camera_, ioTimeout] {
                                       return std::make_unique<VirtualTransport>(camera, ioTimeout);
                                   });
    manual_.add(device_);
}

void VirtualSource::unplug() {
    camera_->unplug();
    manual_.remove(device_);
}

std::shared_ptr<CameraDevice> ptpipDevice(async::Runtime& runtime, const CameraAddress& address,
                                          std::function<void(const QString&)> log,
                                          std::chrono::milliseconds ioTimeout) {
    auto device =
        CameraDevice::create(runtime, address.host, address.toString(), [address, log, ioTimeout] {
            PtpIpTransport::Options options;
            options.host = address.host.toStdString();
            options.port = address.port;
            options.ioTimeout = ioTimeout;
            return std::make_unique<PtpIpTransport>(options, log);
        });
    device->setLog(log);
    return device;
}

Result<CameraSetup, QString> setUpCamera(async::Runtime& runtime, const CameraAddress& address,
                                         VirtualCamera::Options virtualOptions,
                                         std::function<void(const QString&)> log,
                                         std::chrono::milliseconds ioTimeout) {
    CameraSetup setup;
    switch (address.kind) {
        case CameraAddress::Kind::virtualCamera: {
            auto camera = VirtualCamera::create(std::move(virtualOptions));
            if (!camera) return camera.error();
            setup.virtualCamera = camera.value();
            auto source = std::make_unique<VirtualSource>(runtime, camera.value(), ioTimeout);
            source->device()->setLog(log);
            setup.virtualSource = source.get();
            setup.source = std::move(source);
            return setup;
        }
        case CameraAddress::Kind::ptpip: {
            auto source = std::make_unique<ManualSource>(runtime);
            source->add(ptpipDevice(runtime, address, log, ioTimeout));
            setup.source = std::move(source);
            return setup;
        }
        case CameraAddress::Kind::usb: {
            std::optional<UsbAddress> only;
            if (address.bus) only = UsbAddress{*address.bus, *address.address};
            setup.source = std::make_unique<UsbSource>(runtime, only, log, ioTimeout);
            return setup;
        }
    }
    return QString::fromUtf8("知らないカメラの指定です");
}

}  // namespace pexil::camera
