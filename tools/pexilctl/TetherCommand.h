#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl tether: headless tethering through the camera link the application uses.
int runTether(const QStringList& args, CommandIO io);
QString tetherHelp();

}  // namespace pexil::cli
