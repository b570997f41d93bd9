#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTP.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil::camera {

// The bodies the virtual camera can be.
enum class VirtualBody {
    d850,     // Nikon DSLR, VendorExtensionID 6, 0xDxxx properties through 0x90CA
    z6,       // Nikon mirrorless, VendorExtensionID 0xFFFFFFFF, mode dial (program read-only)
    j5,       // Nikon 1: every property in DeviceInfo, four vendor operations break the link
    generic,  // a non-Nikon vendor (Canon-like, 0x0B): standard operations only
};

// "d850", "z6", "j5", "generic"; none for anything else.
std::optional<VirtualBody> virtualBodyFromName(QStringView name);
QString virtualBodyName(VirtualBody body);

struct VirtualModel;

// Every body the virtual camera can be, by the name `--model` takes: the four above and the
// bodies read off real cameras (camera/virtual/bodies), sorted. Thread-safe.
QStringList virtualModelNames();
// The body of that name; none for a name not in virtualModelNames().
const VirtualModel* findVirtualModel(QStringView name);

// One device property as a model's table declares it: type, access, form and the value at
// power-on. Numeric values are held widened to 64 bits (a uint32 0xFFFFFFFF stays
// positive); string properties keep their texts.
struct PropertySpec {
    enum class Form : std::uint8_t { none = 0, range = 1, enumeration = 2 };

    std::uint16_t code = 0;
    PTP::DataType type = PTP::DataType::uint8;
    bool writable = false;
    Form form = Form::none;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 0;
    std::vector<std::int64_t> choices;
    std::vector<QString> textChoices;
    std::int64_t current = 0;
    QString text;  // the current value of a string property

    bool isString() const { return type == PTP::DataType::string; }
};

// Parses a property table: one property per line, continuation lines indented,
//   CODE TYPE ACCESS FORM [FORM DATA] = CURRENT
// with CODE in hexadecimal, TYPE one of i8 u8 i16 u16 i32 u32 i64 u64 str, ACCESS rw or ro,
// FORM "none", "range MIN MAX STEP" or "enum V…", and strings in double quotes. The tables
// are the program's own constants; a malformed line is a programming error and is skipped
// in release builds (asserted in debug builds).
std::vector<PropertySpec> parsePropertyTable(QStringView table);

// The words of one table line; a word in double quotes keeps its spaces and its quotes (so
// that an empty string is still a word).
QStringList tableWords(QStringView line);

// What one body announces and how it behaves: the DeviceInfo lists read off the real
// camera, its property table, its card layout and its quirks. Immutable, shared.
struct VirtualModel {
    // The line the body belongs to, whose behaviour it shares (a reference body without
    // one, such as a Coolpix, counts as generic), and its own name.
    VirtualBody body = VirtualBody::d850;
    QString name = QStringLiteral("d850");

    // DeviceInfo
    std::uint32_t vendorExtensionId = 6;
    std::uint16_t vendorExtensionVersion = 100;
    QString vendorExtensionDesc;
    QString manufacturer;
    QString model;
    QString version;
    std::vector<std::uint16_t> operations;
    std::vector<std::uint16_t> events;
    std::vector<std::uint16_t> captureFormats;
    std::vector<std::uint16_t> imageFormats;
    // Nikon DSLR and Z bodies list their 0xDxxx properties (except the MTP ones 0xD303,
    // 0xD406, 0xD407) only through GetVendorPropCodes; a Nikon 1 lists all in DeviceInfo.
    bool vendorPropertiesInDeviceInfo = false;
    std::vector<PropertySpec> properties;

    // The exposure program decides which of shutter and aperture may be set and which
    // the camera picks (P: both picked, A: shutter, S: aperture, M: none); Bulb and Time
    // are offered in M only. Off for the Nikon 1, whose table is taken as it is.
    bool exposureRules = true;
    double sceneEv = 5.0;  // brightness of the scene at ISO 100, for the meter and for P/A/S

    // Card
    std::uint32_t storageId = 0x00010001;
    QString volumeLabel;
    std::uint64_t capacity = 0;
    std::uint16_t accessCapability = 2;  // 0 read-write, 2 read-only with deletion
    QString folderSuffix;                // 100 + suffix: "NCD850"
    QString filePrefix;                  // "DSC_"
    QString rawExtension;                // "NEF"
    int picturesPerFolder = 1000;

    // Pictures
    QString exifMake;
    QString exifModel;
    QString software;
    int sensorWidth = 0;
    int sensorHeight = 0;
    int rawBitDepth = 14;

    // Live view: 0 when the body has none.
    int liveViewHeaderSize = 0;
    int liveViewWidth = 640;
    int liveViewHeight = 424;
    // Frames a second the sensor streams; 0: as fast as they are asked for.
    double liveViewFps = 30;

    // Operations after which the body stops answering, as a Nikon 1 does with some vendor
    // operations: the connection is gone from then on.
    std::vector<std::uint16_t> linkBreakingOperations;
    // Pictures the body's buffer holds (0xD103).
    int bufferShots = 100;

    bool hasOperation(std::uint16_t code) const;
    bool isNikon() const {
        return manufacturer.contains(QStringLiteral("Nikon"), Qt::CaseInsensitive);
    }
    const PropertySpec* property(std::uint16_t code) const;
    // The property codes DeviceInfo announces, in table order.
    std::vector<std::uint16_t> deviceInfoProperties() const;
    // The codes GetVendorPropCodes answers with (empty when DeviceInfo lists them all).
    std::vector<std::uint16_t> vendorPropertyCodes() const;
};

// The model of a body; built once on first use, thread-safe.
const VirtualModel& virtualModel(VirtualBody body);

// The GetDeviceInfo data phase of `model` with `serialNumber`.
Bytes deviceInfoDataset(const VirtualModel& model, const QString& serialNumber);

}  // namespace pexil::camera
