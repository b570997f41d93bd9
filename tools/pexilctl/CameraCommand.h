#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

namespace pexil::cli {

// pexilctl camera [--camera ADDRESS] summary|ls|get PATH… --dest DIR|thumb PATH --out FILE|shoot:
// the camera service used directly, like a minimal PTP client. Runs its own event loop.
int runCamera(const QStringList& args, CommandIO io);
QString cameraHelp();

// pexilctl vcam: serves the virtual camera over PTP/IP until interrupted.
int runVcam(const QStringList& args, CommandIO io);
QString vcamHelp();

}  // namespace pexil::cli
