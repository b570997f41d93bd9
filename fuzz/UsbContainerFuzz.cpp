#include "camera/usb/UsbContainer.h"

#include <cstddef>
#include <cstdint>

// What comes back over USB: response and event containers, Get Device Status answers and
// string descriptors are all the device's choice.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace C = pexil::camera::UsbContainer;
    const pexil::ByteView bytes(data, size);
    (void)C::parseHeader(bytes);
    (void)C::parseResponse(bytes);
    (void)C::parseEvent(bytes);
    (void)C::parseDeviceStatus(bytes);
    (void)C::parseStringDescriptor(bytes);
    (void)C::parseFirstLanguage(bytes);
    return 0;
}
