#pragma once

#include <QString>
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
};

}  // namespace pexil::cli
