#include "kit/device/PropDesc.h"
#include "kit/device/PropFormat.h"

#include <cstddef>
#include <cstdint>

// Parses a GetDevicePropDesc data phase and renders every value under each vendor whose
// conventions differ, so that both the parser and every formatting rule see hostile input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto desc = pexil::PropDesc::parse(pexil::ByteView(data, size));
    if (!desc) return 0;
    for (const std::uint32_t vendor :
         {0u, pexil::PropFormat::vendorNikon, pexil::PropFormat::vendorSony}) {
        pexil::PropFormat::setVendor(vendor);
        (void)desc->currentText();
        (void)desc->choiceTexts();
        (void)pexil::PropFormat::whiteBalanceSymbol(desc->current);
        // The same values under every property, so each rule meets every value width.
        for (const pexil::PTP::Prop prop : pexil::PTP::allProps) {
            (void)pexil::PropFormat::text(prop, desc->current);
            for (const std::int64_t choice : desc->choices)
                (void)pexil::PropFormat::text(prop, choice);
        }
    }
    pexil::PropFormat::setVendor(0);
    return 0;
}
