#pragma once

#include "camera/virtual/VirtualCamera.h"
#include "tools/pexilctl/CommandLine.h"

#include <QStringList>

#include <optional>

namespace pexil::cli {

// Takes the virtual camera's options (--model, --card, --photos, --seed, --clock-drift,
// --latency, --bandwidth, --check-event-only, --gps-every N, --no-prop-list, --full-size,
// --stall-after BYTES and any number of --fail-object NAME:RESPONSE) out of `args`; none,
// with one line on err, when one is wrong.
std::optional<camera::VirtualCamera::Options> takeVirtualOptions(QStringList& args, CommandIO io);

}  // namespace pexil::cli
