#pragma once

#include "camera/usb/UsbTransport.h"

#include <QString>

#include <cstdint>

namespace pexil::camera::usbdetail {

// What went wrong in a USB exchange, as the transport tells it apart, and how the user is told.
struct Failure {
    enum class Kind { timedOut, stalled, noDevice, interrupted, overflow, io, protocol, refused };
    Kind kind = Kind::io;
    int code = 0;               // libusb error code, for io
    std::uint8_t endpoint = 0;  // for stalled
    QString detail;             // for protocol and refused
};

Failure failure(Failure::Kind kind);
Failure protocolFailure(QString detail);
Failure refusal(QString detail);
// A libusb error code as a failure.
Failure fromError(int code);
// libusb's name of an error code.
QString errorName(int code);
QString messageFor(const Failure& f);

// "バス B、アドレス A".
QString addressText(UsbAddress address);
// Why a camera could not be opened, in the user's words.
QString goneMessage(UsbAddress address);
QString openFailure(int code);

}  // namespace pexil::camera::usbdetail
