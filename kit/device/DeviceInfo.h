#pragma once

#include "kit/ptp/Bytes.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil {

// Who the camera is and what it announces, from the GetDeviceInfo data phase.
struct DeviceInfo {
    std::uint32_t vendor = 0;  // VendorExtensionID as announced
    QString manufacturer;
    QString model;
    QString version;  // firmware
    QString serialNumber;
    std::vector<std::uint16_t> operations;  // in dataset order
    std::vector<std::uint16_t> events;
    std::vector<std::uint16_t> properties;

    // None when anything up to and including the manufacturer is missing or cut short;
    // model, version and serial number read as empty when they are.
    static std::optional<DeviceInfo> parse(ByteView bytes);

    // The vendor whose conventions apply. Nikon bodies announce 6 (Microsoft's MTP ID) or
    // 0xFFFFFFFF, and some send 0, so for those the manufacturer decides.
    std::uint32_t effectiveVendor() const;
    bool isNikon() const;

    friend bool operator==(const DeviceInfo&, const DeviceInfo&) = default;
};

}  // namespace pexil
