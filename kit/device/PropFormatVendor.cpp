#include "kit/device/PropFormat.h"

#include <atomic>

namespace pexil::PropFormat {

namespace {
// The one piece of process-wide state of the protocol library: the last camera's vendor
// decides how every value is shown, wherever it is formatted.
std::atomic<std::uint32_t> currentVendor{0};
}  // namespace

std::uint32_t vendor() {
    return currentVendor.load(std::memory_order_relaxed);
}

void setVendor(std::uint32_t value) {
    currentVendor.store(value, std::memory_order_relaxed);
}

}  // namespace pexil::PropFormat
