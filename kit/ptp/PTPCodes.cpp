#include "kit/ptp/PTPCodes.h"

namespace pexil::PTP {

namespace {

QString hex(std::uint16_t value) {
    return QString::asprintf("0x%04X", value);
}

}  // namespace

QString name(Op op) {
    switch (op) {
        case Op::getDeviceInfo:
            return QStringLiteral("GetDeviceInfo");
        case Op::openSession:
            return QStringLiteral("OpenSession");
        case Op::closeSession:
            return QStringLiteral("CloseSession");
        case Op::getStorageIDs:
            return QStringLiteral("GetStorageIDs");
        case Op::getStorageInfo:
            return QStringLiteral("GetStorageInfo");
        case Op::getNumObjects:
            return QStringLiteral("GetNumObjects");
        case Op::getObjectHandles:
            return QStringLiteral("GetObjectHandles");
        case Op::getObjectInfo:
            return QStringLiteral("GetObjectInfo");
        case Op::getObject:
            return QStringLiteral("GetObject");
        case Op::getThumb:
            return QStringLiteral("GetThumb");
        case Op::deleteObject:
            return QStringLiteral("DeleteObject");
        case Op::sendObjectInfo:
            return QStringLiteral("SendObjectInfo");
        case Op::sendObject:
            return QStringLiteral("SendObject");
        case Op::initiateCapture:
            return QStringLiteral("InitiateCapture");
        case Op::getDevicePropDesc:
            return QStringLiteral("GetDevicePropDesc");
        case Op::getDevicePropValue:
            return QStringLiteral("GetDevicePropValue");
        case Op::setDevicePropValue:
            return QStringLiteral("SetDevicePropValue");
        case Op::getPartialObject:
            return QStringLiteral("GetPartialObject");
        case Op::setObjectPropValue:
            return QStringLiteral("SetObjectPropValue");
        case Op::setObjectPropList:
            return QStringLiteral("SetObjectPropList");
        case Op::sendObjectPropList:
            return QStringLiteral("SendObjectPropList");
        case Op::setObjectReferences:
            return QStringLiteral("SetObjectReferences");
        case Op::getObjectPropList:
            return QStringLiteral("GetObjectPropList");
        case Op::nikonCapture:
            return QStringLiteral("Nikon:Capture");
        case Op::nikonAfDrive:
            return QStringLiteral("Nikon:AfDrive");
        case Op::nikonChangeCameraMode:
            return QStringLiteral("Nikon:ChangeCameraMode");
        case Op::nikonCheckEvent:
            return QStringLiteral("Nikon:CheckEvent");
        case Op::nikonDeviceReady:
            return QStringLiteral("Nikon:DeviceReady");
        case Op::nikonGetVendorPropCodes:
            return QStringLiteral("Nikon:GetVendorPropCodes");
        case Op::nikonStartLiveView:
            return QStringLiteral("Nikon:StartLiveView");
        case Op::nikonEndLiveView:
            return QStringLiteral("Nikon:EndLiveView");
        case Op::nikonGetLiveViewImg:
            return QStringLiteral("Nikon:GetLiveViewImg");
        case Op::nikonMfDrive:
            return QStringLiteral("Nikon:MfDrive");
        case Op::nikonChangeAfArea:
            return QStringLiteral("Nikon:ChangeAfArea");
    }
    return hex(code(op));
}

QString name(Event event) {
    switch (event) {
        case Event::cancelTransaction:
            return QStringLiteral("CancelTransaction");
        case Event::objectAdded:
            return QStringLiteral("ObjectAdded");
        case Event::objectRemoved:
            return QStringLiteral("ObjectRemoved");
        case Event::devicePropChanged:
            return QStringLiteral("DevicePropChanged");
        case Event::captureComplete:
            return QStringLiteral("CaptureComplete");
    }
    return hex(code(event));
}

QString name(Prop prop) {
    switch (prop) {
        case Prop::batteryLevel:
            return QStringLiteral("BatteryLevel");
        case Prop::imageSize:
            return QStringLiteral("ImageSize");
        case Prop::compressionSetting:
            return QStringLiteral("CompressionSetting");
        case Prop::whiteBalance:
            return QStringLiteral("WhiteBalance");
        case Prop::fNumber:
            return QStringLiteral("FNumber");
        case Prop::focalLength:
            return QStringLiteral("FocalLength");
        case Prop::focusMode:
            return QStringLiteral("FocusMode");
        case Prop::exposureTime:
            return QStringLiteral("ExposureTime");
        case Prop::exposureProgram:
            return QStringLiteral("ExposureProgramMode");
        case Prop::iso:
            return QStringLiteral("ExposureIndex");
        case Prop::exposureBias:
            return QStringLiteral("ExposureBiasCompensation");
        case Prop::nikonExposureTime:
            return QStringLiteral("Nikon:ExposureTime");
        case Prop::dateTime:
            return QStringLiteral("DateTime");
        case Prop::nikonMaximumShots:
            return QStringLiteral("Nikon:MaximumShots");
        case Prop::nikonRecordingMedia:
            return QStringLiteral("Nikon:RecordingMedia");
        case Prop::nikonLiveViewStatus:
            return QStringLiteral("Nikon:LiveViewStatus");
        case Prop::nikonLiveViewZoom:
            return QStringLiteral("Nikon:LiveViewImageZoomRatio");
        case Prop::nikonLiveViewProhibit:
            return QStringLiteral("Nikon:LiveViewProhibitCondition");
        case Prop::nikonLightMeter:
            return QStringLiteral("Nikon:LightMeter");
        case Prop::nikonColorTemperature:
            return QStringLiteral("Nikon:WhiteBalanceColorTemperature");
        case Prop::exposureMetering:
            return QStringLiteral("ExposureMeteringMode");
        case Prop::flashMode:
            return QStringLiteral("FlashMode");
        case Prop::stillCaptureMode:
            return QStringLiteral("StillCaptureMode");
        case Prop::focusMetering:
            return QStringLiteral("FocusMeteringMode");
    }
    return hex(code(prop));
}

QString name(ObjectFormat format) {
    switch (format) {
        case ObjectFormat::undefined:
            return QStringLiteral("Undefined");
        case ObjectFormat::association:
            return QStringLiteral("Association");
        case ObjectFormat::quickTime:
            return QStringLiteral("QuickTime");
        case ObjectFormat::exifJpeg:
            return QStringLiteral("EXIF/JPEG");
        case ObjectFormat::jfif:
            return QStringLiteral("JFIF");
        case ObjectFormat::tiff:
            return QStringLiteral("TIFF");
        case ObjectFormat::mp4:
            return QStringLiteral("MP4");
    }
    return hex(code(format));
}

QString operationName(std::uint16_t value) {
    for (Op op : allOps)
        if (code(op) == value) return name(op);
    return hex(value);
}

QString eventName(std::uint16_t value) {
    switch (static_cast<Event>(value)) {
        case Event::cancelTransaction:
        case Event::objectAdded:
        case Event::objectRemoved:
        case Event::devicePropChanged:
        case Event::captureComplete:
            return name(static_cast<Event>(value));
    }
    return hex(value);
}

}  // namespace pexil::PTP
