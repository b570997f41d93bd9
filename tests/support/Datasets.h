#pragma once

#include "kit/ptp/PTP.h"

#include <QString>

#include <vector>

namespace pexil::testing {

// Builders of the datasets cameras send, for tests that need realistic bytes.
inline void appendString(Bytes& out, const QString& text) {
    const Bytes encoded = PTP::encodeString(text);
    if (text.isEmpty()) {
        out.push_back(0);  // cameras send an empty string as a bare zero count
        return;
    }
    out.insert(out.end(), encoded.begin(), encoded.end());
}

inline void appendArray(Bytes& out, const std::vector<std::uint16_t>& values) {
    PTP::appendLE(out, static_cast<std::uint32_t>(values.size()));
    for (auto v : values) PTP::appendLE(out, v);
}

struct DeviceInfoSpec {
    std::uint32_t vendor = 6;
    QString manufacturer = QStringLiteral("Nikon Corporation");
    QString model = QStringLiteral("D850");
    QString version = QStringLiteral("V1.02");
    QString serial = QStringLiteral("3000123");
    std::vector<std::uint16_t> operations{0x1001, 0x1002, 0x1003, 0x1004, 0x1007, 0x1008, 0x1009,
                                          0x100A, 0x100E, 0x1014, 0x1015, 0x1016, 0x90C0, 0x90C1,
                                          0x90C2, 0x90C7, 0x90C8, 0x90CA, 0x9201, 0x9202, 0x9203};
    std::vector<std::uint16_t> events{0x4002, 0x4006, 0x400D};
    std::vector<std::uint16_t> properties{0x5001, 0x5003, 0x5004, 0x5005, 0x5007, 0x5008,
                                          0x500A, 0x500D, 0x500E, 0x500F, 0x5010, 0x5011};
};

inline Bytes deviceInfo(const DeviceInfoSpec& spec = {}) {
    Bytes out;
    PTP::appendLE(out, std::uint16_t{100});
    PTP::appendLE(out, spec.vendor);
    PTP::appendLE(out, std::uint16_t{100});
    appendString(out, QStringLiteral("Microsoft.com: 1.0"));
    PTP::appendLE(out, std::uint16_t{0});
    appendArray(out, spec.operations);
    appendArray(out, spec.events);
    appendArray(out, spec.properties);
    appendArray(out, {0x3801, 0x3000});
    appendArray(out, {0x3801, 0x3000, 0x3001, 0xB982});
    appendString(out, spec.manufacturer);
    appendString(out, spec.model);
    appendString(out, spec.version);
    appendString(out, spec.serial);
    return out;
}

// A response container for transaction 1 with no parameters, as a camera answers.
inline Bytes responseContainer(std::uint16_t code) {
    Bytes out;
    PTP::appendLE(out, std::uint32_t{12});
    PTP::appendLE(out, std::uint16_t{3});
    PTP::appendLE(out, code);
    PTP::appendLE(out, std::uint32_t{1});
    return out;
}

}  // namespace pexil::testing
