#include "camera/virtual/VirtualModel.h"
#include "tools/pexilctl/CameraCommand.h"
#include "tools/pexilctl/CardCommand.h"
#include "tools/pexilctl/DoctorCommand.h"
#include "tools/pexilctl/GeoPlanCommand.h"
#include "tools/pexilctl/GeoReceiveCommand.h"
#include "tools/pexilctl/InspectCommand.h"
#include "tools/pexilctl/TetherCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

using pexil::cli::CommandIO;

QString help() {
    return QStringLiteral(
        "usage: pexilctl COMMAND [ARGS]\n"
        "\n"
        "Tools for Nikon tethering with Pexil.\n"
        "\n"
        "Commands:\n"
        "  inspect   decode PTP datasets and NEF heads saved in files\n"
        "  camera    use a camera directly: summary, ls, get, thumb, shoot\n"
        "  vcam      serve the virtual Nikon camera over PTP/IP\n"
        "  tether    headless tethering: save every new shot, shoot, live view\n"
        "  card      the card browser headless: list the card, import pictures\n"
        "  geo       receive, send, plan and write positions (geo receive|send|plan|apply)\n"
        "  doctor    check what a camera needs to reach Pexil on this computer\n"
        "\n"
        "Run 'pexilctl COMMAND --help' for a command's options and output;\n"
        "'pexilctl --version' prints the version.\n");
}

QString geoHelp() {
    return QStringLiteral(
        "usage: pexilctl geo receive|send|plan|apply [ARGS]\n"
        "\n"
        "  receive [--port P]                       receive records from the phone\n"
        "  send HOST:PORT FILE [--sender NAME]      send a record as the phone does\n"
        "  plan FOLDER (--payload FILE | --gpx FILE | --received) [--tolerance S] [--overwrite]\n"
        "  apply FOLDER (same arguments as plan)    write the positions with ExifTool\n"
        "\n"
        "Run 'pexilctl geo SUBCOMMAND --help' for details.\n");
}

int geo(QStringList args, CommandIO io) {
    if (args.isEmpty() || args.front() == QLatin1String("--help") || args.front() == QLatin1String("-h")) {
        io.out << geoHelp();
        return args.isEmpty() ? pexil::cli::exitUnreadable : pexil::cli::exitOK;
    }
    const QString sub = args.takeFirst();
    if (sub == QLatin1String("receive")) return pexil::cli::runGeoReceive(args, io);
    if (sub == QLatin1String("send")) return pexil::cli::runGeoSend(args, io);
    if (sub == QLatin1String("plan")) return pexil::cli::runGeoPlan(args, io);
    if (sub == QLatin1String("apply")) return pexil::cli::runGeoApply(args, io);
    io.err << "pexilctl geo: 知らないコマンドです: " << sub << "（pexilctl geo --help）\n";
    return pexil::cli::exitUnreadable;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pexilctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    CommandIO io{out, err};

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.front() == QLatin1String("--help") || args.front() == QLatin1String("-h")) {
        out << help();
        return args.isEmpty() ? pexil::cli::exitUnreadable : pexil::cli::exitOK;
    }
    if (args.front() == QLatin1String("--version")) {
        out << "pexilctl " << PEXIL_VERSION << "\n";
        return pexil::cli::exitOK;
    }
    const QString command = args.takeFirst();
    // "--model list" answers before the rest is read: the other arguments do not matter to it.
    if (const qsizetype at = args.indexOf(QLatin1String("--model"));
        at >= 0 && at + 1 < args.size() && args[at + 1] == QLatin1String("list")) {
        for (const QString& name : pexil::camera::virtualModelNames()) out << name << "\n";
        return pexil::cli::exitOK;
    }
    if (command == QLatin1String("inspect")) return pexil::cli::runInspect(args, io);
    if (command == QLatin1String("camera")) return pexil::cli::runCamera(args, io);
    if (command == QLatin1String("vcam")) return pexil::cli::runVcam(args, io);
    if (command == QLatin1String("tether")) return pexil::cli::runTether(args, io);
    if (command == QLatin1String("card")) return pexil::cli::runCard(args, io);
    if (command == QLatin1String("geo")) return geo(args, io);
    if (command == QLatin1String("doctor")) return pexil::cli::runDoctor(args, io);
    err << "pexilctl: 知らないコマンドです: " << command << "（pexilctl --help）\n";
    return pexil::cli::exitUnreadable;
}
