#pragma once

#include "app/doctor/DoctorFinding.h"
#include "app/doctor/UsbDoctor.h"
#include "app/geo/ExifTool.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace pexil {

// The whole report of the device doctor, as `pexilctl doctor` prints it and the
// application's diagnosis window shows it: the USB findings (UsbDoctor), then ExifTool,
// the Avahi daemon, the destination folder and the log.
//
// Threads: any. Blocks for as long as its checks take: ExifTool's "-ver" run and the Avahi
// probe (see AvahiProbe) are the slow ones.
class DeviceDoctor {
public:
    struct Environment {
        UsbDoctor::Places usb;
        ExifTool::Places exifTool = ExifTool::defaultPlaces();
        std::function<DoctorFinding()> avahi;  // empty: the Avahi line is left out
        QString destination;                   // the folder pictures are saved into
        QString logPath;
        // The camera the session holds over the network ("Z 6（ptpip://…）"); none when it
        // is not one. A Nikon missing from USB is then no cause for concern.
        std::optional<QString> networkCamera;
    };

    // What the application would use now: the stored preferences' destination (for today),
    // the real Avahi probe, the log under the home folder.
    static Environment defaults();

    static std::vector<DoctorFinding> examine(const Environment& environment);

    // The destination folder: ok when it takes a file (a test file written and removed),
    // ok when it is missing but its nearest existing parent may be written (it is created
    // at the first download), a failure otherwise. Creates nothing.
    static DoctorFinding destinationFinding(const QString& folder);
    // ExifTool's place and version, or a warning with the command that installs it.
    static DoctorFinding exifToolFinding(const ExifTool::Places& places);
};

}  // namespace pexil
