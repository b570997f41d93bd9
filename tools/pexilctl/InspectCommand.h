#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl inspect deviceinfo|propdesc|events|nef FILE [options]: decodes raw camera data
// saved in files, printing stable "key: value" lines (see inspectHelp()).
int runInspect(const QStringList& args, CommandIO io);
QString inspectHelp();

}  // namespace pexil::cli
