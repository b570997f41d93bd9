#include "camera/virtual/VirtualProperties.h"

#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPCodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pexil::camera {

namespace {

// Special shutter values, the same in 0x500D and 0xD100.
constexpr std::int64_t kBulb = 0xFFFFFFFF;
constexpr std::int64_t kFlashSync = 0xFFFFFFFE;  // "x200"
constexpr std::int64_t kTime = 0xFFFFFFFD;

constexpr int kManual = 1;
constexpr int kAperturePriority = 3;
constexpr int kShutterPriority = 4;

bool isShutter(std::uint16_t code) {
    return code == PTP::code(PTP::Prop::exposureTime) ||
           code == PTP::code(PTP::Prop::nikonExposureTime);
}

bool isSpecialShutter(std::int64_t value) {
    return value == kBulb || value == kFlashSync || value == kTime;
}

// Seconds of a numeric shutter value; none for Bulb and Time.
std::optional<double> secondsOf(std::uint16_t code, std::int64_t value) {
    if (value == kBulb || value == kTime) return std::nullopt;
    if (value == kFlashSync) return 1.0 / 200.0;
    if (code == PTP::code(PTP::Prop::nikonExposureTime)) {
        const auto numerator = static_cast<double>((value >> 16) & 0xFFFF);
        const auto denominator = static_cast<double>(value & 0xFFFF);
        if (numerator <= 0 || denominator <= 0) return std::nullopt;
        return numerator / denominator;
    }
    if (value <= 0) return std::nullopt;
    return static_cast<double>(value) / 10000.0;
}

// The choice closest to `target` on a logarithmic scale (stops), among those `measure`
// turns into a positive number; none when there is none.
template <class Measure>
std::optional<std::int64_t> nearest(const std::vector<std::int64_t>& choices, double target,
                                    Measure measure) {
    std::optional<std::int64_t> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const std::int64_t choice : choices) {
        const std::optional<double> m = measure(choice);
        if (!m || *m <= 0) continue;
        const double distance = std::abs(std::log2(*m) - std::log2(target));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = choice;
        }
    }
    return best;
}

void appendValue(Bytes& out, PTP::DataType type, std::int64_t value) {
    using PTP::DataType;
    switch (type) {
        case DataType::int8:
        case DataType::uint8:
            PTP::appendLE(out, static_cast<std::uint8_t>(value));
            break;
        case DataType::int16:
        case DataType::uint16:
            PTP::appendLE(out, static_cast<std::uint16_t>(value));
            break;
        case DataType::int32:
        case DataType::uint32:
            PTP::appendLE(out, static_cast<std::uint32_t>(value));
            break;
        case DataType::int64:
        case DataType::uint64:
            PTP::appendLE(out, static_cast<std::uint64_t>(value));
            break;
        case DataType::string:
            break;
    }
}

void appendText(Bytes& out, const QString& text) {
    if (text.isEmpty()) {
        out.push_back(0);  // as the bodies send an empty string
        return;
    }
    const Bytes encoded = PTP::encodeString(text);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

// One value of `type` from exactly its width of little-endian bytes.
std::optional<std::int64_t> decodeValue(PTP::DataType type, ByteView data) {
    const int width = PTP::byteCount(type);
    if (width == 0 || data.size() != static_cast<std::size_t>(width)) return std::nullopt;
    std::uint64_t bits = 0;
    for (int i = 0; i < width; ++i)
        bits |= static_cast<std::uint64_t>(data[static_cast<std::size_t>(i)]) << (8 * i);
    using PTP::DataType;
    switch (type) {
        case DataType::int8:
            return static_cast<std::int8_t>(bits);
        case DataType::int16:
            return static_cast<std::int16_t>(bits);
        case DataType::int32:
            return static_cast<std::int32_t>(bits);
        default:
            return static_cast<std::int64_t>(bits);
    }
}

// A PTP string that fills `data` exactly (count byte, units, terminator), or a bare zero
// count for the empty text.
std::optional<QString> decodeText(ByteView data) {
    if (data.empty()) return std::nullopt;
    const std::size_t count = data[0];
    if (count == 0) return data.size() == 1 ? std::optional<QString>(QString()) : std::nullopt;
    if (data.size() != 1 + 2 * count) return std::nullopt;
    if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return std::nullopt;
    if (count == 1) return QString();
    return PTP::decodeString(data);
}

}  // namespace

VirtualProperties::VirtualProperties(const VirtualModel& model)
    : model_(model), sceneEv_(model.sceneEv) {
    for (const PropertySpec& spec : model.properties)
        specs_.emplace(spec.code, Entry{spec, spec.current, spec.text});
    settle();
    // What the camera settled on at power-on counts as the factory setting.
    for (auto& [code, entry] : specs_) {
        entry.factory = entry.spec.current;
        entry.factoryText = entry.spec.text;
    }
}

int VirtualProperties::program() const {
    const auto it = specs_.find(PTP::code(PTP::Prop::exposureProgram));
    return it == specs_.end() ? kManual : static_cast<int>(it->second.spec.current);
}

PropertySpec VirtualProperties::effective(const Entry& entry) const {
    PropertySpec spec = entry.spec;
    if (!model_.exposureRules) return spec;
    const int p = program();
    if (isShutter(spec.code)) {
        spec.writable = p == kManual || p == kShutterPriority;
        if (p != kManual)
            std::erase_if(spec.choices, [](std::int64_t v) { return v == kBulb || v == kTime; });
    } else if (spec.code == PTP::code(PTP::Prop::fNumber)) {
        spec.writable = p == kManual || p == kAperturePriority;
    }
    return spec;
}

Bytes VirtualProperties::encodeDescriptor(const Entry& entry) const {
    const PropertySpec spec = effective(entry);
    Bytes out;
    PTP::appendLE(out, spec.code);
    PTP::appendLE(out, PTP::code(spec.type));
    out.push_back(spec.writable ? 1 : 0);
    if (spec.isString()) {
        appendText(out, entry.factoryText);
        appendText(out, spec.text);
    } else {
        appendValue(out, spec.type, entry.factory);
        appendValue(out, spec.type, spec.current);
    }
    out.push_back(static_cast<std::uint8_t>(spec.form));
    switch (spec.form) {
        case PropertySpec::Form::none:
            break;
        case PropertySpec::Form::range:
            appendValue(out, spec.type, spec.minimum);
            appendValue(out, spec.type, spec.maximum);
            appendValue(out, spec.type, spec.step);
            break;
        case PropertySpec::Form::enumeration:
            if (spec.isString()) {
                PTP::appendLE(out, static_cast<std::uint16_t>(spec.textChoices.size()));
                for (const QString& choice : spec.textChoices) appendText(out, choice);
            } else {
                PTP::appendLE(out, static_cast<std::uint16_t>(spec.choices.size()));
                for (const std::int64_t choice : spec.choices) appendValue(out, spec.type, choice);
            }
            break;
    }
    return out;
}

std::optional<Bytes> VirtualProperties::descriptor(std::uint16_t code) const {
    const auto it = specs_.find(code);
    if (it == specs_.end()) return std::nullopt;
    return encodeDescriptor(it->second);
}

std::optional<Bytes> VirtualProperties::value(std::uint16_t code) const {
    const auto it = specs_.find(code);
    if (it == specs_.end()) return std::nullopt;
    Bytes out;
    const PropertySpec& spec = it->second.spec;
    if (spec.isString())
        appendText(out, spec.text);
    else
        appendValue(out, spec.type, spec.current);
    return out;
}

// A change touches the property changed and, through couple() and settle(), only the
// exposure settings the camera works out: those are compared before and after.
std::map<std::uint16_t, Bytes> VirtualProperties::snapshot(std::uint16_t touched) const {
    std::map<std::uint16_t, Bytes> out;
    for (const std::uint16_t code :
         {touched, PTP::code(PTP::Prop::exposureTime), PTP::code(PTP::Prop::nikonExposureTime),
          PTP::code(PTP::Prop::fNumber), PTP::code(PTP::Prop::nikonLightMeter)}) {
        const auto it = specs_.find(code);
        if (it != specs_.end()) out.emplace(code, encodeDescriptor(it->second));
    }
    return out;
}

std::vector<std::uint16_t> VirtualProperties::changedSince(
    const std::map<std::uint16_t, Bytes>& before) const {
    std::vector<std::uint16_t> changed;
    for (const auto& [code, bytes] : before)
        if (bytes != encodeDescriptor(specs_.at(code))) changed.push_back(code);
    return changed;
}

VirtualProperties::WriteResult VirtualProperties::write(std::uint16_t code, ByteView data) {
    const auto it = specs_.find(code);
    if (it == specs_.end()) return {PTP::code(PTP::Response::devicePropNotSupported), {}};
    const PropertySpec spec = effective(it->second);
    if (!spec.writable)
        return {PTP::code(model_.isNikon() ? PTP::Response::nikonSetPropertyNotSupported
                                           : PTP::Response::accessDenied),
                {}};

    const auto before = snapshot(code);
    if (spec.isString()) {
        const auto text = decodeText(data);
        if (!text) return {PTP::code(PTP::Response::parameterNotSupported), {}};
        if (spec.form == PropertySpec::Form::enumeration &&
            std::find(spec.textChoices.begin(), spec.textChoices.end(), *text) ==
                spec.textChoices.end())
            return {PTP::code(PTP::Response::invalidParameter), {}};
        it->second.spec.text = *text;
    } else {
        const auto value = decodeValue(spec.type, data);
        if (!value) return {PTP::code(PTP::Response::parameterNotSupported), {}};
        switch (spec.form) {
            case PropertySpec::Form::none:
                break;
            case PropertySpec::Form::range:
                if (*value < spec.minimum || *value > spec.maximum ||
                    (spec.step > 0 && (*value - spec.minimum) % spec.step != 0))
                    return {PTP::code(PTP::Response::invalidParameter), {}};
                break;
            case PropertySpec::Form::enumeration:
                if (std::find(spec.choices.begin(), spec.choices.end(), *value) ==
                    spec.choices.end())
                    return {PTP::code(PTP::Response::invalidParameter), {}};
                break;
        }
        it->second.spec.current = *value;
        couple(code);
    }
    settle();
    return {PTP::code(PTP::Response::ok), changedSince(before)};
}

std::vector<std::uint16_t> VirtualProperties::force(std::uint16_t code, std::int64_t value) {
    const auto it = specs_.find(code);
    if (it == specs_.end() || it->second.spec.isString()) return {};
    const auto before = snapshot(code);
    it->second.spec.current = value;
    couple(code);
    settle();
    return changedSince(before);
}

void VirtualProperties::setStatus(std::uint16_t code, std::int64_t value) {
    const auto it = specs_.find(code);
    if (it != specs_.end() && !it->second.spec.isString()) it->second.spec.current = value;
}

std::vector<std::uint16_t> VirtualProperties::forceText(std::uint16_t code, const QString& text) {
    const auto it = specs_.find(code);
    if (it == specs_.end() || !it->second.spec.isString()) return {};
    if (it->second.spec.text == text) return {};
    it->second.spec.text = text;
    return {code};
}

std::vector<std::uint16_t> VirtualProperties::setSceneEv(double ev) {
    const auto before = snapshot(PTP::code(PTP::Prop::nikonLightMeter));
    sceneEv_ = ev;
    settle();
    return changedSince(before);
}

std::int64_t VirtualProperties::number(std::uint16_t code) const {
    const auto it = specs_.find(code);
    return it == specs_.end() ? 0 : it->second.spec.current;
}

QString VirtualProperties::text(std::uint16_t code) const {
    const auto it = specs_.find(code);
    return it == specs_.end() ? QString() : it->second.spec.text;
}

// 0x500D and 0xD100 are one setting in two notations: a write to either moves the other
// to its nearest value, Bulb and Time to themselves.
void VirtualProperties::couple(std::uint16_t written) {
    if (!isShutter(written)) return;
    const std::uint16_t other = written == PTP::code(PTP::Prop::exposureTime)
                                    ? PTP::code(PTP::Prop::nikonExposureTime)
                                    : PTP::code(PTP::Prop::exposureTime);
    const auto source = specs_.find(written);
    const auto target = specs_.find(other);
    if (source == specs_.end() || target == specs_.end()) return;
    const std::int64_t value = source->second.spec.current;
    auto& choices = target->second.spec.choices;
    if ((value == kBulb || value == kTime) &&
        std::find(choices.begin(), choices.end(), value) != choices.end()) {
        target->second.spec.current = value;
        return;
    }
    const auto seconds = secondsOf(written, value);
    if (!seconds) return;
    const auto match = nearest(choices, *seconds, [other](std::int64_t v) -> std::optional<double> {
        if (isSpecialShutter(v)) return std::nullopt;
        return secondsOf(other, v);
    });
    if (match) target->second.spec.current = *match;
}

std::optional<double> VirtualProperties::shutterSeconds() const {
    for (const std::uint16_t code :
         {PTP::code(PTP::Prop::nikonExposureTime), PTP::code(PTP::Prop::exposureTime)}) {
        const auto it = specs_.find(code);
        if (it != specs_.end()) return secondsOf(code, it->second.spec.current);
    }
    return 1.0 / 60.0;
}

double VirtualProperties::apertureValue() const {
    const auto it = specs_.find(PTP::code(PTP::Prop::fNumber));
    if (it == specs_.end() || it->second.spec.current <= 0) return 5.6;
    return static_cast<double>(it->second.spec.current) / 100.0;
}

double VirtualProperties::isoValue() const {
    const auto it = specs_.find(PTP::code(PTP::Prop::iso));
    if (it == specs_.end() || it->second.spec.current <= 0) return 100.0;
    return static_cast<double>(it->second.spec.current);
}

void VirtualProperties::setShutterFromSeconds(double seconds) {
    for (const std::uint16_t code :
         {PTP::code(PTP::Prop::nikonExposureTime), PTP::code(PTP::Prop::exposureTime)}) {
        const auto it = specs_.find(code);
        if (it == specs_.end()) continue;
        const auto match = nearest(it->second.spec.choices, seconds,
                                   [code](std::int64_t v) -> std::optional<double> {
                                       if (isSpecialShutter(v)) return std::nullopt;
                                       return secondsOf(code, v);
                                   });
        if (match) it->second.spec.current = *match;
    }
}

void VirtualProperties::settle() {
    const auto biasIt = specs_.find(PTP::code(PTP::Prop::exposureBias));
    const double bias =
        biasIt == specs_.end() ? 0.0 : static_cast<double>(biasIt->second.spec.current) / 1000.0;
    // The settings exposure value (log2 N²/t) that gives a correct exposure at this ISO.
    const double target = sceneEv_ + std::log2(isoValue() / 100.0) - bias;

    if (model_.exposureRules) {
        const int p = program();
        const auto apertures = specs_.find(PTP::code(PTP::Prop::fNumber));
        auto setAperture = [&](double n) {
            if (apertures == specs_.end()) return;
            const auto match = nearest(apertures->second.spec.choices, n,
                                       [](std::int64_t v) -> std::optional<double> {
                                           if (v <= 0) return std::nullopt;
                                           return static_cast<double>(v) / 100.0;
                                       });
            if (match) apertures->second.spec.current = *match;
        };
        if (p == kAperturePriority) {
            const double n = apertureValue();
            setShutterFromSeconds(n * n / std::exp2(target));
        } else if (p == kShutterPriority) {
            if (!shutterSeconds()) setShutterFromSeconds(1.0 / 60.0);  // Bulb and Time are M only
            setAperture(std::sqrt(shutterSeconds().value_or(1.0 / 60.0) * std::exp2(target)));
        } else if (p != kManual) {
            // A simple program line: half the exposure value to the aperture, within the
            // lens's range, the rest to the shutter.
            if (apertures != specs_.end()) {
                double lowest = std::numeric_limits<double>::infinity();
                double highest = 0;
                for (const std::int64_t v : apertures->second.spec.choices) {
                    if (v <= 0) continue;
                    lowest = std::min(lowest, static_cast<double>(v) / 100.0);
                    highest = std::max(highest, static_cast<double>(v) / 100.0);
                }
                if (highest > 0) {
                    const double av =
                        std::clamp(target / 2.0, 2.0 * std::log2(lowest), 2.0 * std::log2(highest));
                    setAperture(std::exp2(av / 2.0));
                }
            }
            const double n = apertureValue();
            setShutterFromSeconds(n * n / std::exp2(target));
        }
    }

    const auto meter = specs_.find(PTP::code(PTP::Prop::nikonLightMeter));
    if (meter == specs_.end()) return;
    const auto seconds = shutterSeconds();
    if (!seconds) {
        meter->second.spec.current = 0;  // Bulb and Time: nothing to meter against
        return;
    }
    const double n = apertureValue();
    const double settings = std::log2(n * n / *seconds) - std::log2(isoValue() / 100.0);
    const double sixths = std::round(6.0 * (sceneEv_ - settings));
    meter->second.spec.current = static_cast<std::int64_t>(std::clamp(sixths, -60.0, 60.0));
}

VirtualProperties::Exposure VirtualProperties::exposure() const {
    Exposure e;
    if (const auto it = specs_.find(PTP::code(PTP::Prop::fNumber));
        it != specs_.end() && it->second.spec.current > 0)
        e.fNumber = static_cast<double>(it->second.spec.current) / 100.0;
    if (const auto it = specs_.find(PTP::code(PTP::Prop::nikonExposureTime)); it != specs_.end()) {
        const std::int64_t v = it->second.spec.current;
        if (v == kFlashSync) {
            e.timeNumerator = 1;
            e.timeDenominator = 200;
        } else if (!isSpecialShutter(v)) {
            e.timeNumerator = static_cast<std::uint32_t>((v >> 16) & 0xFFFF);
            e.timeDenominator = static_cast<std::uint32_t>(v & 0xFFFF);
        }
    } else if (const auto t = specs_.find(PTP::code(PTP::Prop::exposureTime)); t != specs_.end()) {
        const std::int64_t v = t->second.spec.current;
        if (!isSpecialShutter(v) && v > 0) {
            e.timeNumerator = static_cast<std::uint32_t>(v);
            e.timeDenominator = 10000;
        }
    }
    if (const auto it = specs_.find(PTP::code(PTP::Prop::iso)); it != specs_.end())
        e.iso = static_cast<int>(it->second.spec.current);
    if (const auto it = specs_.find(PTP::code(PTP::Prop::focalLength)); it != specs_.end())
        e.focalLength = static_cast<double>(it->second.spec.current) / 100.0;
    return e;
}

}  // namespace pexil::camera
