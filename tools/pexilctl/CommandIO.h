#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace pexil::cli {

// Where a command writes: stable text on `out`, one clear line per failure on `err`.
struct CommandIO {
    QTextStream& out;
    QTextStream& err;
};

// Exit codes shared by every command.
enum ExitCode : int {
    exitOK = 0,
    exitFailed = 1,      // the data did not parse, or the work failed
    exitUnreadable = 2,  // a file is missing or unreadable, or the command line is wrong
    exitInterrupted = 130,  // stopped by Ctrl+C (128 + SIGINT), after finishing cleanly
};

// Whether the command line asks for help (--help or -h anywhere); if so, prints `help`.
inline bool printedHelp(const QStringList& args, CommandIO io, const QString& help) {
    if (!args.contains(QLatin1String("--help")) && !args.contains(QLatin1String("-h"))) return false;
    io.out << help;
    return true;
}

}  // namespace pexil::cli
