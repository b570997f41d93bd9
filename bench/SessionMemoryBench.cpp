// Resident memory of the process after 1,000 shots in the session model, as a long tethered
// session leaves it: each shot a 24 MP camera JPEG with its filmstrip thumbnail decoded, the
// newest one's full preview held and every earlier one released (goal: under 150 MB). The
// shots enter through the model's saved-file handler, so the camera's transfers are not
// waited for; the model runs on the in-process virtual camera, the system clock and its own
// decoding threads.
#include "SessionRig.h"

#include <benchmark/benchmark.h>

namespace pexil::bench {
namespace {

constexpr int shots = 1000;
constexpr double goalMB = 150;

void SessionMemoryAfterThousandShots(benchmark::State& state) {
    for (auto _ : state) {
        SessionRig rig;
        QString picture;
        if (const auto problem = prepareShots(rig, picture)) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        const double before = residentMB();
        const auto start = SteadyClock::now();
        if (const auto problem = feedShots(*rig.model, picture, shots)) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        const double after = residentMB();
        state.SetIterationTime(millisecondsSince(start) / 1000);
        state.counters["connected_MB"] = before;
        reportMemory(state, before, after, shots, goalMB);
    }
}

BENCHMARK(SessionMemoryAfterThousandShots)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
}  // namespace pexil::bench
