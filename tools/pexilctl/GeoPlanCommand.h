#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl geo plan FOLDER (--payload FILE | --gpx FILE | --received) [--tolerance SECONDS]
// [--overwrite]: which picture of FOLDER would get which position, one stable line per
// picture in scan order (see geoPlanHelp()). Reads the pictures, writes nothing.
int runGeoPlan(const QStringList& args, CommandIO io);
QString geoPlanHelp();

// pexilctl geo apply with the same arguments: writes the planned positions with ExifTool and
// prints what each picture carries afterwards (see geoApplyHelp()). The diagnostic lines go
// to the application's log file, as they do when the application writes.
int runGeoApply(const QStringList& args, CommandIO io);
QString geoApplyHelp();

}  // namespace pexil::cli
