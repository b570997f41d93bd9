#pragma once

#include "kit/ptp/PTP.h"

#include <QString>

#include <cstdint>

namespace pexil::PropFormat {

inline constexpr std::uint32_t vendorNikon = 10;
inline constexpr std::uint32_t vendorSony = 17;

// The display text of one property value, as a photographer expects it (1/250, f/5.6,
// −0.3, JPEG Fine, AF-C …), in the conventions of `vendor`: the camera's
// (DeviceInfo::effectiveVendor()); 0 gives the standard's names alone. Never fails: unnamed
// values fall back to decimal or "0x%04X".
QString text(PTP::Prop prop, std::int64_t value, std::uint32_t vendor = 0);

// The icon name shown next to a white-balance value of `vendor`'s camera.
QString whiteBalanceSymbol(std::int64_t value, std::uint32_t vendor = 0);

}  // namespace pexil::PropFormat
