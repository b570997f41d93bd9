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
        if (const auto problem = rig.connect()) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        const QString picture = rig.path(QStringLiteral("DSC_0001.JPG"));
        if (const auto problem = writePicture(picture)) {
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
        state.counters["rss_MB"] = after;
        state.counters["per_shot_kB"] = (after - before) * 1000 / shots;
        state.counters["goal_MB"] = goalMB;
        state.counters["ratio"] = after / goalMB;
        state.SetLabel(after < goalMB ? "goal met" : "goal missed");
    }
}

BENCHMARK(SessionMemoryAfterThousandShots)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
}  // namespace pexil::bench
