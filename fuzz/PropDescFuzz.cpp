#include "kit/device/PropDesc.h"
#include "kit/device/PropFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// Formatting is the slow part: a range description may hold thousands of choices. A few
// from each end meet every formatting rule as well as all of them would.
constexpr std::size_t formattedChoices = 8;

}  // namespace

// The first byte picks the vendor whose conventions apply (none, Nikon or Sony, the ones whose
// rules differ); the rest is a GetDevicePropDesc data phase. What parses is rendered under its
// own property and every other one, so that each formatting rule meets every value width.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    constexpr std::uint32_t vendors[] = {0, pexil::PropFormat::vendorNikon,
                                         pexil::PropFormat::vendorSony};
    const std::uint32_t vendor = vendors[data[0] % 3];
    const auto desc = pexil::PropDesc::parse(pexil::ByteView(data + 1, size - 1), vendor);
    if (!desc) return 0;
    (void)desc->currentText();
    // A text property's choices are the positions of its texts.
    if (desc->isString() && desc->choices.size() != static_cast<std::size_t>(desc->strings.size())) __builtin_trap();
    (void)pexil::PropFormat::whiteBalanceSymbol(desc->current, vendor);
    const std::size_t count = desc->choices.size();
    const std::size_t head = std::min(count, formattedChoices / 2);
    const std::size_t tail = std::min(count - head, formattedChoices / 2);
    for (const pexil::PTP::Prop prop : pexil::PTP::allProps) {
        (void)pexil::PropFormat::text(prop, desc->current, vendor);
        for (std::size_t i = 0; i < head; ++i)
            (void)pexil::PropFormat::text(prop, desc->choices[i], vendor);
        for (std::size_t i = count - tail; i < count; ++i)
            (void)pexil::PropFormat::text(prop, desc->choices[i], vendor);
    }
    return 0;
}
