#pragma once

#include "kit/async/Runtime.h"
#include "kit/async/Task.h"
#include "tools/pexilctl/CommandIO.h"

#include <functional>

namespace pexil::cli {

// Runs `work` as a task on a Qt event loop with the real clock and gives its result;
// exceptions that escape tasks are reported on err.
int runOnEventLoop(CommandIO io, std::function<async::Task<int>(async::Runtime&)> work);

}  // namespace pexil::cli
