#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace pexil::testing {

// What a pexilctl command gave: its exit code and everything it wrote.
struct CommandOutcome {
    int code = -1;
    QString out;
    QString err;
};

// Runs a command in process, as main() would.
inline CommandOutcome runCommand(int (*command)(const QStringList&, cli::CommandIO), const QStringList& args) {
    CommandOutcome r;
    QTextStream out(&r.out), err(&r.err);
    r.code = command(args, {out, err});
    out.flush();
    err.flush();
    return r;
}

}  // namespace pexil::testing
