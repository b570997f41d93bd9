#pragma once

#include "kit/ptp/PTP.h"

#include <QString>

#include <cstdint>

namespace pexil::PropFormat {

inline constexpr std::uint32_t vendorNikon = 10;
inline constexpr std::uint32_t vendorSony = 17;

// The vendor whose display conventions apply: process-wide, 0 at start, set to the
// camera's effective vendor when its DeviceInfo is read. Any thread.
std::uint32_t vendor();
void setVendor(std::uint32_t vendor);

// The display text of one property value, as a photographer expects it (1/250, f/5.6,
// −0.3, JPEG Fine, AF-C …). Never fails: unnamed values fall back to decimal or "0x%04X".
QString text(PTP::Prop prop, std::int64_t value);

// The icon name shown next to a white-balance value.
QString whiteBalanceSymbol(std::int64_t value);

}  // namespace pexil::PropFormat
