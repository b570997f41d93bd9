#pragma once

// Internal to camera/usb: libusb descriptor walking shared by the transport and the camera
// list. Includes libusb.h, so only the library's own .cpp files include it.

#include <libusb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace pexil::camera::usbdetail {

struct ConfigRelease {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
using ConfigDescriptor = std::unique_ptr<libusb_config_descriptor, ConfigRelease>;

struct DeviceUnref {
    void operator()(libusb_device* device) const { libusb_unref_device(device); }
};
using DeviceRef = std::unique_ptr<libusb_device, DeviceUnref>;

struct HandleClose {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using DeviceHandle = std::unique_ptr<libusb_device_handle, HandleClose>;

// The active configuration, or the first one of an unconfigured device; none when the
// descriptors cannot be read.
inline ConfigDescriptor configOf(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) == 0) return ConfigDescriptor(config);
    if (libusb_get_config_descriptor(device, 0, &config) == 0) return ConfigDescriptor(config);
    return nullptr;
}

// A still-image (PTP) interface with what the transport needs of it.
struct PtpInterface {
    int number = -1;
    int alternate = 0;
    int protocol = 0;
    std::uint8_t bulkIn = 0;
    std::uint8_t bulkOut = 0;
    std::uint8_t eventIn = 0;  // 0: the interface has no interrupt endpoint
    std::size_t packetIn = 0;
    std::size_t packetOut = 0;
    std::size_t packetEvent = 0;
};

// The interface of class 6 / subclass 1 with a bulk pipe each way, preferring protocol 1
// (PIMA 15740) when several qualify. None when the device has none.
inline std::optional<PtpInterface> findPtpInterface(libusb_device* device) {
    const ConfigDescriptor config = configOf(device);
    if (!config) return std::nullopt;
    std::optional<PtpInterface> best;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& d = interface.altsetting[a];
            if (d.bInterfaceClass != LIBUSB_CLASS_IMAGE || d.bInterfaceSubClass != 1) continue;
            PtpInterface found;
            found.number = d.bInterfaceNumber;
            found.alternate = d.bAlternateSetting;
            found.protocol = d.bInterfaceProtocol;
            for (int e = 0; e < d.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = d.endpoint[e];
                const int type = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
                const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
                // Bits 11-12 count extra transactions per microframe; the packet is the rest.
                const std::size_t packet = ep.wMaxPacketSize & 0x7FF;
                if (packet == 0) continue;
                if (type == LIBUSB_TRANSFER_TYPE_BULK && in && found.bulkIn == 0) {
                    found.bulkIn = ep.bEndpointAddress;
                    found.packetIn = packet;
                } else if (type == LIBUSB_TRANSFER_TYPE_BULK && !in && found.bulkOut == 0) {
                    found.bulkOut = ep.bEndpointAddress;
                    found.packetOut = packet;
                } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT && in && found.eventIn == 0) {
                    found.eventIn = ep.bEndpointAddress;
                    found.packetEvent = packet;
                }
            }
            if (found.bulkIn == 0 || found.bulkOut == 0) continue;
            if (!best || (found.protocol == 1 && best->protocol != 1)) best = found;
        }
    }
    return best;
}

}  // namespace pexil::camera::usbdetail
