#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <type_traits>

// Every PTP code the program speaks or answers, named once: the host side, the camera
// service, the virtual camera and pexilctl all use these. Numbers written out elsewhere are
// byte layouts in tests and the virtual bodies' DeviceInfo tables.
namespace pexil::PTP {

// Operations: the PTP standard's, MTP's GetObjectPropList, and Nikon's.
enum class Op : std::uint16_t {
    getDeviceInfo = 0x1001,
    openSession = 0x1002,
    closeSession = 0x1003,
    getStorageIDs = 0x1004,
    getStorageInfo = 0x1005,
    getNumObjects = 0x1006,
    getObjectHandles = 0x1007,
    getObjectInfo = 0x1008,
    getObject = 0x1009,
    getThumb = 0x100A,
    deleteObject = 0x100B,
    sendObjectInfo = 0x100C,
    sendObject = 0x100D,
    initiateCapture = 0x100E,
    getDevicePropDesc = 0x1014,
    getDevicePropValue = 0x1015,
    setDevicePropValue = 0x1016,
    getPartialObject = 0x101B,
    setObjectPropValue = 0x9804,
    getObjectPropList = 0x9805,
    setObjectPropList = 0x9806,
    sendObjectPropList = 0x9808,
    setObjectReferences = 0x9811,
    nikonCapture = 0x90C0,
    nikonAfDrive = 0x90C1,
    nikonChangeCameraMode = 0x90C2,
    nikonCheckEvent = 0x90C7,
    nikonDeviceReady = 0x90C8,
    nikonGetVendorPropCodes = 0x90CA,
    nikonStartLiveView = 0x9201,
    nikonEndLiveView = 0x9202,
    nikonGetLiveViewImg = 0x9203,
    nikonMfDrive = 0x9204,
    nikonChangeAfArea = 0x9205,
};

inline constexpr std::array<Op, 34> allOps{
    Op::getDeviceInfo,
    Op::openSession,
    Op::closeSession,
    Op::getStorageIDs,
    Op::getStorageInfo,
    Op::getNumObjects,
    Op::getObjectHandles,
    Op::getObjectInfo,
    Op::getObject,
    Op::getThumb,
    Op::deleteObject,
    Op::sendObjectInfo,
    Op::sendObject,
    Op::initiateCapture,
    Op::getDevicePropDesc,
    Op::getDevicePropValue,
    Op::setDevicePropValue,
    Op::getPartialObject,
    Op::setObjectPropValue,
    Op::getObjectPropList,
    Op::setObjectPropList,
    Op::sendObjectPropList,
    Op::setObjectReferences,
    Op::nikonCapture,
    Op::nikonAfDrive,
    Op::nikonChangeCameraMode,
    Op::nikonCheckEvent,
    Op::nikonDeviceReady,
    Op::nikonGetVendorPropCodes,
    Op::nikonStartLiveView,
    Op::nikonEndLiveView,
    Op::nikonGetLiveViewImg,
    Op::nikonMfDrive,
    Op::nikonChangeAfArea,
};

// Response codes: the standard's, MTP's and Nikon's.
enum class Response : std::uint16_t {
    none = 0x0000,  // no response container at all (the transport failed)
    ok = 0x2001,
    generalError = 0x2002,
    sessionNotOpen = 0x2003,
    operationNotSupported = 0x2005,
    parameterNotSupported = 0x2006,
    incompleteTransfer = 0x2007,
    invalidStorageId = 0x2008,
    invalidObjectHandle = 0x2009,
    devicePropNotSupported = 0x200A,
    storeReadOnly = 0x200D,
    accessDenied = 0x200F,
    noThumbnailPresent = 0x2010,
    deviceBusy = 0x2019,
    invalidParentObject = 0x201A,
    invalidParameter = 0x201D,
    sessionAlreadyOpen = 0x201E,
    transactionCancelled = 0x201F,
    nikonOutOfFocus = 0xA002,
    nikonChangeCameraModeFailed = 0xA003,
    nikonInvalidStatus = 0xA004,
    nikonSetPropertyNotSupported = 0xA005,
    nikonNotLiveView = 0xA00B,
    nikonMfDriveStepEnd = 0xA00C,            // the lens reached its nearest or farthest point
    nikonMfDriveStepInsufficiency = 0xA00E,  // it moved less than asked
    nikonBusy = 0xA200,                      // some bodies' "still busy with the last command"
    mtpObjectPropNotSupported = 0xA80A,
};

// Events, from the event channel or in the answer to Nikon CheckEvent.
enum class Event : std::uint16_t {
    cancelTransaction = 0x4001,
    objectAdded = 0x4002,
    objectRemoved = 0x4003,
    devicePropChanged = 0x4006,
    captureComplete = 0x400D,
};

// Device properties: the settings the program mirrors, then those it reads for itself.
enum class Prop : std::uint16_t {
    batteryLevel = 0x5001,
    imageSize = 0x5003,
    compressionSetting = 0x5004,
    whiteBalance = 0x5005,
    fNumber = 0x5007,
    focalLength = 0x5008,
    focusMode = 0x500A,
    exposureTime = 0x500D,
    exposureProgram = 0x500E,
    iso = 0x500F,
    exposureBias = 0x5010,
    nikonExposureTime = 0xD100,
    dateTime = 0x5011,
    nikonMaximumShots = 0xD103,      // shots the buffer takes
    nikonRecordingMedia = 0xD10B,    // 0 card, 1 SDRAM (one byte)
    nikonLiveViewStatus = 0xD1A2,    // 1 = live view on
    nikonLiveViewZoom = 0xD1A3,      // the body's live-view magnification step, 0 = whole
    nikonLiveViewProhibit = 0xD1A4,  // why live view cannot start (bits)
    nikonLightMeter = 0xD1B1,        // signed, sixths of an EV
    nikonColorTemperature = 0xD01E,  // Kelvin, what white balance "色温度" uses
    // Settings the program names but does not mirror.
    exposureMetering = 0x500B,
    flashMode = 0x500C,
    stillCaptureMode = 0x5013,
    focusMetering = 0x501C,  // the AF-area mode
};

// The settings the program mirrors and shows, in inspector order.
inline constexpr std::array<Prop, 12> mirroredProps{
    Prop::batteryLevel,    Prop::imageSize,   Prop::compressionSetting, Prop::whiteBalance,
    Prop::fNumber,         Prop::focalLength, Prop::focusMode,          Prop::exposureTime,
    Prop::exposureProgram, Prop::iso,         Prop::exposureBias,       Prop::nikonExposureTime,
};

inline constexpr std::array<Prop, 24> allProps{
    Prop::batteryLevel,
    Prop::imageSize,
    Prop::compressionSetting,
    Prop::whiteBalance,
    Prop::fNumber,
    Prop::focalLength,
    Prop::focusMode,
    Prop::exposureTime,
    Prop::exposureProgram,
    Prop::iso,
    Prop::exposureBias,
    Prop::nikonExposureTime,
    Prop::dateTime,
    Prop::nikonMaximumShots,
    Prop::nikonRecordingMedia,
    Prop::nikonLiveViewStatus,
    Prop::nikonLiveViewZoom,
    Prop::nikonLiveViewProhibit,
    Prop::nikonLightMeter,
    Prop::nikonColorTemperature,
    Prop::exposureMetering,
    Prop::flashMode,
    Prop::stillCaptureMode,
    Prop::focusMetering,
};

// Object formats (ObjectInfo's ObjectFormat; Nikon raw files are "undefined").
enum class ObjectFormat : std::uint16_t {
    undefined = 0x3000,
    association = 0x3001,
    quickTime = 0x300D,
    exifJpeg = 0x3801,
    jfif = 0x3808,
    tiff = 0x380D,
    mp4 = 0xB982,
};

// ObjectInfo's AssociationType of a folder.
inline constexpr std::uint16_t genericFolder = 0x0001;

// MTP object properties, as GetObjectPropList lists them.
enum class ObjectProp : std::uint16_t {
    storageId = 0xDC01,
    objectFormat = 0xDC02,
    protectionStatus = 0xDC03,
    objectSize = 0xDC04,
    associationType = 0xDC05,
    objectFileName = 0xDC07,
    dateCreated = 0xDC08,
    dateModified = 0xDC09,
    parentObject = 0xDC0B,
};

enum class DataType : std::uint16_t {
    int8 = 0x0001,
    uint8 = 0x0002,
    int16 = 0x0003,
    uint16 = 0x0004,
    int32 = 0x0005,
    uint32 = 0x0006,
    int64 = 0x0007,
    uint64 = 0x0008,
    string = 0xFFFF,
};
// Added to an element type for an array of it.
inline constexpr std::uint16_t arrayTypeFlag = 0x4000;

template <class E>
concept Code = std::is_enum_v<E> && std::is_same_v<std::underlying_type_t<E>, std::uint16_t>;

template <Code E>
constexpr std::uint16_t code(E value) {
    return static_cast<std::uint16_t>(value);
}
// For parameters: a property or handle goes into a 32-bit slot.
template <Code E>
constexpr std::uint32_t param(E value) {
    return static_cast<std::uint32_t>(value);
}
template <Code E>
constexpr bool operator==(std::uint16_t raw, E value) {
    return raw == static_cast<std::uint16_t>(value);
}

// Names for logs: the standard's name ("GetObject", "DeviceBusy"; Nikon ones as
// "Nikon:…"), or "0x%04X" for a code without one.
QString name(Op op);
QString name(Event event);
QString name(Prop prop);
QString name(ObjectFormat format);
QString operationName(std::uint16_t code);
QString eventName(std::uint16_t code);

}  // namespace pexil::PTP
