#pragma once

#include "camera/virtual/VirtualModel.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace pexil::camera {

// The settings of one virtual body: every property of its table with its current value,
// and the exposure logic of a real camera on top. The exposure program decides which of
// shutter (0x500D and 0xD100, kept in step) and aperture may be set and which the camera
// picks to expose the scene correctly; Bulb and Time are offered in M only; the light
// meter (0xD1B1, sixths of a stop, signed) shows how far the settings are from a correct
// exposure.
//
// A value type without locking: the virtual camera guards it with its own lock.
class VirtualProperties {
public:
    explicit VirtualProperties(const VirtualModel& model);

    bool has(std::uint16_t code) const { return specs_.count(code) != 0; }

    // The GetDevicePropDesc data phase; none for a property the body does not have.
    std::optional<Bytes> descriptor(std::uint16_t code) const;
    // The GetDevicePropValue data phase; none for a property the body does not have.
    std::optional<Bytes> value(std::uint16_t code) const;

    struct WriteResult {
        std::uint16_t response = PTP::code(PTP::Response::ok);
        std::vector<std::uint16_t> changed;  // properties whose value or form changed
    };
    // A SetDevicePropValue from the host. Responses: 0x200A for a property the body does not
    // have, 0xA005 (0x200F on a non-Nikon body) when it may not be set now, 0x2006 when the
    // data is not one value of the property's type, 0x201D when the value is not allowed.
    WriteResult write(std::uint16_t code, ByteView data);

    // The body's own changes (mode dial, live-view status, prohibition, buffer, clock text).
    // No checks: the value is taken as it is. Returns the properties that changed.
    std::vector<std::uint16_t> force(std::uint16_t code, std::int64_t value);
    std::vector<std::uint16_t> forceText(std::uint16_t code, const QString& text);
    // A status value that nothing else depends on (live-view status, prohibition): set
    // without working out what else changed.
    void setStatus(std::uint16_t code, std::int64_t value);
    // Brightness of the scene in EV at ISO 100; returns the properties that changed.
    std::vector<std::uint16_t> setSceneEv(double ev);

    // Current values; 0 or empty for a property the body does not have.
    std::int64_t number(std::uint16_t code) const;
    QString text(std::uint16_t code) const;

    // The exposure a picture taken now gets, for its EXIF data.
    struct Exposure {
        double fNumber = 0;               // 0 when unknown
        std::uint32_t timeNumerator = 0;  // seconds as a fraction; 0/0 when unknown
        std::uint32_t timeDenominator = 0;
        int iso = 0;
        double focalLength = 0;  // millimetres
    };
    Exposure exposure() const;

private:
    struct Entry {
        PropertySpec spec;  // the table line; current value kept in it
        std::int64_t factory = 0;
        QString factoryText;
    };

    // The descriptor as it stands now: access and choices adjusted by the exposure rules.
    PropertySpec effective(const Entry& entry) const;
    Bytes encodeDescriptor(const Entry& entry) const;
    std::map<std::uint16_t, Bytes> snapshot(std::uint16_t touched) const;
    std::vector<std::uint16_t> changedSince(const std::map<std::uint16_t, Bytes>& before) const;
    // Applies the camera's side after a change: picks what the program leaves to the camera,
    // moves the meter.
    void settle();
    void setShutterFromSeconds(double seconds);
    void couple(std::uint16_t written);
    int program() const;
    std::optional<double> shutterSeconds() const;
    double apertureValue() const;
    double isoValue() const;

    const VirtualModel& model_;
    std::map<std::uint16_t, Entry> specs_;
    double sceneEv_;
};

}  // namespace pexil::camera
