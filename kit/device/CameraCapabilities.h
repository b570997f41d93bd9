#pragma once

#include "kit/device/DeviceInfo.h"
#include "kit/ptp/PTP.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <utility>

namespace pexil {

// Why a command is not sent, and the response code its caller gets instead.
struct Refusal {
    QString reason;
    std::uint16_t code = 0;
    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// Tells each refusal once per operation and first parameter, as the log line
// "送らなかった 0x90C7: …": a poll refused every second must not fill the log.
class RefusalNotes {
public:
    // The line to log, or none when this refusal was told already.
    std::optional<QString> note(std::uint16_t op, std::span<const std::uint32_t> params,
                                const Refusal& refusal);

private:
    std::set<std::pair<std::uint16_t, std::uint32_t>> told_;
};

// What a camera announced, and the rule that keeps harmful commands off its wire.
struct CameraCapabilities {
    QString model;
    std::set<std::uint16_t> operations;
    std::set<std::uint16_t> events;
    std::set<std::uint16_t> properties;
    bool isNikon1 = false;

    explicit CameraCapabilities(const DeviceInfo& info);

    // Operations that break the USB link of Nikon 1 bodies: capture, camera mode, event
    // poll and the vendor property list.
    static const std::set<std::uint16_t>& nikon1Unsafe();

    // While DeviceInfo is unknown, no vendor command and no vendor property goes out.
    static std::optional<Refusal> refusalBeforeDeviceInfo(PTP::Op op,
                                                          std::span<const std::uint32_t> params);
    // After DeviceInfo: only a Nikon 1 has anything refused.
    std::optional<Refusal> refusal(PTP::Op op, std::span<const std::uint32_t> params) const;
};

}  // namespace pexil
