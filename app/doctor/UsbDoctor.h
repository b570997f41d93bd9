#pragma once

#include "app/doctor/DoctorFinding.h"
#include "camera/usb/UdevRule.h"
#include "camera/usb/UsbTransport.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace pexil {

// The USB side of the device doctor: the cameras on USB (Nikon's vendor 04b0, and any device
// with a still-image interface), whether this user may open each one's device node, which
// process holds it, and USB autosuspend. Everything comes from sysfs, the device nodes and
// /proc; nothing is sent to a camera, and a node is opened only to learn whether it may be.
//
// A plain namespace of functions over `Places`. Threads: any; each call blocks for as long as
// the reads take (a walk over every process's open files for holders(): milliseconds).
class UsbDoctor {
public:
    struct Places {
        QString devices = QStringLiteral("/sys/bus/usb/devices");
        QString proc = QStringLiteral("/proc");
        QStringList ruleDirectories = camera::UdevRule::directories();
        QString ruleName = camera::UdevRule::fileName;
        // The group the rule gives the device to, for sessions without a seat.
        QString ruleGroup = QStringLiteral("plugdev");
        // The asking program: its own hold on a camera is no problem.
        qint64 self = QCoreApplication::applicationPid();
    };

    struct Camera {
        camera::UsbAddress address;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        QString name;    // sysfs "product", else "VVVV:PPPP"
        QString device;  // its sysfs folder, as Places::devices names it (…/devices/1-1)
        QString node;    // /dev/bus/usb/BBB/AAA
        bool nikon() const { return vendorId == 0x04b0; }
        friend bool operator==(const Camera&, const Camera&) = default;
    };

    struct Holder {
        qint64 pid = 0;
        QString name;     // the kernel's short name of the process (comm)
        QString program;  // the file name of its argv[0]
        QString command;  // its command line, arguments separated by spaces
        friend bool operator==(const Holder&, const Holder&) = default;
    };

    // The cameras in bus order.
    static std::vector<Camera> cameras(const Places& places);
    // The processes with `node` open, in process-ID order, the asking program included.
    // Processes whose open files this user may not read are not seen.
    static std::vector<Holder> holders(const QString& node, const Places& places);
    // Where Pexil's udev rule is installed; empty when it is nowhere.
    static QString installedRule(const Places& places);

    // Every finding: the udev rule, then per camera where it is, access, holder and
    // autosuspend; a warning when there is no camera.
    static std::vector<DoctorFinding> examine(const Places& places);
    // The findings about one camera: usb, access, holder, autosuspend (when sysfs tells).
    static std::vector<DoctorFinding> examine(const Camera& camera, const Places& places);

    // What a user who never installed Pexil's rule types to get it: a one-line rule file
    // written by tee, udev reloaded and the USB devices re-announced.
    static QString ruleInstallCommand(const Places& places);
};

}  // namespace pexil
