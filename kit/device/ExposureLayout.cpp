#include "kit/device/ExposureLayout.h"

#include <optional>

namespace pexil::ExposureLayout {

namespace {

using PTP::Prop;

enum Program : std::int64_t {
    manual = 1,
    programAuto = 2,
    aperturePriority = 3,
    shutterPriority = 4
};

std::optional<std::int64_t> program(const Descriptors& in) {
    const auto it = in.find(Prop::exposureProgram);
    if (it == in.end()) return std::nullopt;
    return it->second.current;
}

bool hasChoices(const Descriptors& in, Prop prop) {
    const auto it = in.find(prop);
    return it != in.end() && !it->second.choices.empty();
}

}  // namespace

PTP::Prop shutter(const Descriptors& in) {
    // Nikon bodies that offer their own shutter property list speeds there (with Bulb, Time
    // and x200) that the standard property cannot express.
    return hasChoices(in, Prop::nikonExposureTime) ? Prop::nikonExposureTime : Prop::exposureTime;
}

std::vector<PTP::Prop> adjustable(const Descriptors& in) {
    const Prop s = shutter(in);
    std::vector<Prop> candidates;
    switch (program(in).value_or(0)) {
        case manual:
            candidates = {s, Prop::fNumber, Prop::iso};
            break;
        case programAuto:
            candidates = {Prop::iso, Prop::exposureBias};
            break;
        case aperturePriority:
            candidates = {Prop::fNumber, Prop::iso, Prop::exposureBias};
            break;
        case shutterPriority:
            candidates = {s, Prop::iso, Prop::exposureBias};
            break;
        default:
            // An unknown mode (scene programs, or no mode at all): trust what the camera
            // says may be written.
            for (const Prop prop : {s, Prop::fNumber, Prop::iso, Prop::exposureBias}) {
                const auto it = in.find(prop);
                if (it != in.end() && it->second.writable) candidates.push_back(prop);
            }
            break;
    }
    std::vector<Prop> result;
    for (const Prop prop : candidates)
        if (hasChoices(in, prop)) result.push_back(prop);
    return result;
}

std::vector<PTP::Prop> cameraDecided(const Descriptors& in) {
    const Prop s = shutter(in);
    std::vector<Prop> candidates;
    switch (program(in).value_or(0)) {
        case programAuto:
            candidates = {s, Prop::fNumber};
            break;
        case aperturePriority:
            candidates = {s};
            break;
        case shutterPriority:
            candidates = {Prop::fNumber};
            break;
        default:
            break;
    }
    std::vector<Prop> result;
    for (const Prop prop : candidates)
        if (in.contains(prop)) result.push_back(prop);
    return result;
}

bool meterMeaningful(const Descriptors& in) {
    return program(in) == std::int64_t{manual};
}

}  // namespace pexil::ExposureLayout
