#pragma once

#include "app/doctor/DeviceDoctor.h"
#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl doctor [--dest DIR]: checks what a camera needs to reach Pexil on this computer
// and prints one "ok|warn|fail TOPIC: TEXT" line per finding, each problem followed by
// "  fix: COMMAND". Exit 0 when nothing fails, 1 when something does, 2 for a wrong
// command line. See doctorHelp().
int runDoctor(const QStringList& args, CommandIO io);
// The same against the given places and probes (tests); --dest still overrides the
// destination.
int runDoctor(const QStringList& args, CommandIO io, DeviceDoctor::Environment environment);
QString doctorHelp();

}  // namespace pexil::cli
