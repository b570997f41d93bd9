#include "tools/pexilctl/InspectCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

QString help() {
    return QStringLiteral(
        "usage: pexilctl COMMAND [ARGS]\n"
        "\n"
        "Tools for Nikon tethering with Pexil.\n"
        "\n"
        "Commands:\n"
        "  inspect   decode PTP datasets and NEF heads saved in files\n"
        "\n"
        "Run 'pexilctl COMMAND --help' for a command's options and output.\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pexilctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    pexil::cli::CommandIO io{out, err};

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.front() == QLatin1String("--help") ||
        args.front() == QLatin1String("-h")) {
        out << help();
        return args.isEmpty() ? pexil::cli::exitUnreadable : pexil::cli::exitOK;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("inspect")) return pexil::cli::runInspect(args, io);
    err << "pexilctl: 知らないコマンドです: " << command << "（pexilctl --help）\n";
    return pexil::cli::exitUnreadable;
}
