#include "kit/device/CameraCapabilities.h"
#include "kit/device/DeviceInfo.h"

#include <cstddef>
#include <cstdint>

// A camera's first answer: every byte of it is the camera's choice.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto info = pexil::DeviceInfo::parse(pexil::ByteView(data, size));
    if (!info) return 0;
    (void)info->effectiveVendor();
    const pexil::CameraCapabilities capabilities(*info);
    const std::uint32_t params[] = {0xD100};
    (void)capabilities.refusal(pexil::PTP::Op::getDevicePropValue, params);
    return 0;
}
