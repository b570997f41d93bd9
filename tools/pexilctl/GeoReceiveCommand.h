#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl geo receive [--port P] [--no-advertise]: runs the application's geo receiver and
// store without a window, printing one "state: …" line per change, until SIGINT or SIGTERM
// (exit 0). See geoReceiveHelp(). Needs a QCoreApplication; runs its own event loop.
int runGeoReceive(const QStringList& args, CommandIO io);
QString geoReceiveHelp();

// pexilctl geo send HOST:PORT FILE [--sender NAME]: sends the record in FILE as one geo link
// message and prints the reply; exit 0 on "OK", 1 on "NG", 2 when the file, the command line
// or the connection fails. See geoSendHelp(). Needs a QCoreApplication; waits in a local
// event loop (at most 10 s to connect, 30 s without progress afterwards).
int runGeoSend(const QStringList& args, CommandIO io);
QString geoSendHelp();

}  // namespace pexil::cli
