#include "tools/pexilctl/DoctorCommand.h"

#include "tools/pexilctl/CommandLine.h"

namespace pexil::cli {

QString doctorHelp() {
    return QStringLiteral(
        "usage: pexilctl doctor [--dest DIR]\n"
        "\n"
        "Checks what a camera needs to reach Pexil on this computer and prints one line per\n"
        "finding, \"ok|warn|fail TOPIC: TEXT\"; a problem is followed by \"  fix: COMMAND\",\n"
        "the command that mends it. Topics:\n"
        "  udev         Pexil's udev rule installed\n"
        "  usb          each Nikon camera (vendor 04b0) or PTP camera on USB, with bus and "
        "address\n"
        "  access       whether this user may open the camera's device node\n"
        "  holder       whether another process holds the camera (GVfs, KDE, another tool)\n"
        "  autosuspend  USB autosuspend for the camera\n"
        "  exiftool     ExifTool found, and its version\n"
        "  avahi        the Avahi daemon reachable (the geo link's announcement)\n"
        "  destination  the destination folder writable\n"
        "  log          where the diagnostic log is\n"
        "\n"
        "  --dest DIR   check DIR instead of the destination in Pexil's settings\n"
        "\n"
        "Exit status: 0 when nothing fails, 1 when something does, 2 for a wrong command line.\n");
}

int runDoctor(const QStringList& args, CommandIO io) {
    if (printedHelp(args, io, doctorHelp())) return exitOK;
    return runDoctor(args, io, DeviceDoctor::defaults());
}

int runDoctor(const QStringList& arguments, CommandIO io, DeviceDoctor::Environment environment) {
    if (printedHelp(arguments, io, doctorHelp())) return exitOK;
    QStringList args = arguments;
    const auto dest = takeValue(args, QStringLiteral("--dest"), io);
    if (!dest) return exitUnreadable;
    if (!args.isEmpty()) {
        io.err << "pexilctl doctor: 知らない引数です: " << args.front()
               << "（pexilctl doctor --help）\n";
        return exitUnreadable;
    }
    if (!dest->isEmpty()) environment.destination = *dest;
    const auto findings = DeviceDoctor::examine(environment);
    io.out << formatReport(findings);
    io.out.flush();
    return anyFailed(findings) ? exitFailed : exitOK;
}

}  // namespace pexil::cli
