#pragma once

#include "camera/virtual/VirtualCamera.h"
#include "tools/pexilctl/CommandLine.h"

#include <QStringList>

#include <optional>

namespace pexil::cli {

// Takes the virtual camera's options (--model, --card, --photos, --seed, --clock-drift,
// --latency, --bandwidth) out of `args`; none, with one line on err, when one is wrong.
std::optional<camera::VirtualCamera::Options> takeVirtualOptions(QStringList& args, CommandIO io);

}  // namespace pexil::cli
