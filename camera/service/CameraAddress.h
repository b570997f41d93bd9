#pragma once

#include "kit/ptp/Result.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace pexil::camera {

// Where a camera is reached: `usb` (the first camera found), `usb:BUS:ADDRESS`,
// `ptpip://HOST[:PORT]` (port 15740 by default) or `virtual` (the built-in camera).
struct CameraAddress {
    enum class Kind { usb, ptpip, virtualCamera };
    static constexpr std::uint16_t ptpipPort = 15740;

    Kind kind = Kind::usb;
    std::optional<int> bus;      // usb:BUS:ADDRESS
    std::optional<int> address;
    QString host;                // ptpip
    std::uint16_t port = ptpipPort;

    // A Japanese description of what is wrong when the text is not an address.
    static Result<CameraAddress, QString> parse(const QString& text);
    QString toString() const;
    friend bool operator==(const CameraAddress&, const CameraAddress&) = default;
};

}  // namespace pexil::camera
