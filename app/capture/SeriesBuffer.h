#pragma once

namespace pexil {

// A full buffer empties as the body writes to its card; one that stays full this long has
// stopped writing, and a series waiting on it gives up.
inline constexpr double seriesBufferWaitSeconds = 120;

}  // namespace pexil
