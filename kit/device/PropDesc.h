#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTP.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil {

// A camera property as GetDevicePropDesc describes it: its type, whether it may be set,
// its current value and the values the user may choose.
struct PropDesc {
    PTP::Prop code{};
    PTP::DataType dataType{};
    bool writable = false;
    std::int64_t current = 0;           // widened as PTPReader::readValue does
    std::vector<std::int64_t> choices;  // in camera order; empty when none
    // A string property (an image size such as "6048x4024") is held as its texts: `strings`
    // are the values the camera offers, `choices` their positions, `current` the position of
    // `currentString` among them (−1 when it is not one of them).
    QStringList strings;
    QString currentString;
    // The vendor of the camera that described it, whose conventions its texts follow
    // (DeviceInfo::effectiveVendor(); 0: the standard's alone).
    std::uint32_t vendor = 0;

    // Parses a GetDevicePropDesc data phase of `vendor`'s camera; none for an unknown
    // property or datatype or a header cut short. Broken range or enumeration data gives
    // empty choices.
    // Properties parsed: the settings mirrored, or any the program names (as a
    // command asks for one of those by name).
    enum class Accept { mirrored, named };
    static std::optional<PropDesc> parse(ByteView bytes, std::uint32_t vendor = 0,
                                         Accept accept = Accept::mirrored);

    QString currentText() const;
    QStringList choiceTexts() const;
    bool isString() const { return dataType == PTP::DataType::string; }

    friend bool operator==(const PropDesc&, const PropDesc&) = default;
};

}  // namespace pexil
