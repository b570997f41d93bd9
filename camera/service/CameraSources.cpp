#include "camera/service/CameraSources.h"

#include "camera/ptpip/PtpIpTransport.h"
#include "camera/usb/UsbCameraList.h"
#include "camera/usb/UsbTransport.h"
#include "camera/virtual/VirtualTransport.h"

#include <algorithm>

namespace pexil::camera {

QString nameOf(const UsbCameraInfo& info) { return info.product.trimmed(); }

UsbSource::UsbSource(async::Runtime& runtime, std::optional<UsbAddress> only, std::function<void(const QString&)> log)
    : runtime_(runtime), only_(only), log_(std::move(log)), list_(std::make_unique<UsbCameraList>(runtime.main())) {}

UsbSource::~UsbSource() = default;

void UsbSource::start(Report added, Report removed) {
    auto started = list_->start(
        [this, added](const UsbCameraInfo& info) {
            if (only_ && info.address != *only_) return;
            const QString address = QStringLiteral("usb:%1:%2").arg(info.address.bus).arg(info.address.address);
            auto device = CameraDevice::create(runtime_, nameOf(info), address, [where = info.address] {
                return std::make_unique<UsbTransport>(where);
            });
            device->setLog(log_);
            devices_.emplace_back(info.address, device);
            added(device);
        },
        [this, removed](const UsbCameraInfo& info) {
            const auto it = std::find_if(devices_.begin(), devices_.end(),
                                         [&](const auto& entry) { return entry.first == info.address; });
            if (it == devices_.end()) return;
            auto device = it->second;
            devices_.erase(it);
            removed(device);
        });
    if (!started && log_) log_(QString::fromUtf8("USB のカメラを探せない: ") + started.error().message);
}

VirtualSource::VirtualSource(async::Runtime& runtime, std::shared_ptr<VirtualCamera> camera)
    : camera_(std::move(camera)), manual_(runtime) {
    device_ = CameraDevice::create(runtime, camera_->model().model, QStringLiteral("virtual"),
                                   [camera = camera_] { return std::make_unique<VirtualTransport>(camera); });
    manual_.add(device_);
}

void VirtualSource::unplug() {
    camera_->unplug();
    manual_.remove(device_);
}

std::shared_ptr<CameraDevice> ptpipDevice(async::Runtime& runtime, const CameraAddress& address,
                                          std::function<void(const QString&)> log) {
    auto device = CameraDevice::create(runtime, address.host, address.toString(), [address, log] {
        PtpIpTransport::Options options;
        options.host = address.host.toStdString();
        options.port = address.port;
        return std::make_unique<PtpIpTransport>(options, log);
    });
    device->setLog(log);
    return device;
}

Result<CameraSetup, QString> setUpCamera(async::Runtime& runtime, const CameraAddress& address,
                                         VirtualCamera::Options virtualOptions,
                                         std::function<void(const QString&)> log) {
    CameraSetup setup;
    switch (address.kind) {
        case CameraAddress::Kind::virtualCamera: {
            auto camera = VirtualCamera::create(std::move(virtualOptions));
            if (!camera) return camera.error();
            setup.virtualCamera = camera.value();
            auto source = std::make_unique<VirtualSource>(runtime, camera.value());
            source->device()->setLog(log);
            setup.virtualSource = source.get();
            setup.source = std::move(source);
            return setup;
        }
        case CameraAddress::Kind::ptpip: {
            auto source = std::make_unique<ManualSource>(runtime);
            source->add(ptpipDevice(runtime, address, log));
            setup.source = std::move(source);
            return setup;
        }
        case CameraAddress::Kind::usb: {
            std::optional<UsbAddress> only;
            if (address.bus) only = UsbAddress{*address.bus, *address.address};
            setup.source = std::make_unique<UsbSource>(runtime, only, log);
            return setup;
        }
    }
    return QString::fromUtf8("知らないカメラの指定です");
}

}  // namespace pexil::camera
