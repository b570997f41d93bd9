// Resident memory after 1,000 shots in the main window's filmstrip (goal: under 250 MB): the
// session model of SessionMemoryBench with the main window shown offscreen, every shot's
// thumbnail painted into its cell as it arrives and the newest one's preview in the pane.
// It brings its own main: widgets need a QApplication.
#include "WindowRig.h"

#include "app/shell/main/Filmstrip.h"
#include "app/shots/ShotsModel.h"

#include <QListView>

namespace pexil::bench {
namespace {

constexpr int shots = 1000;
constexpr double goalMB = 250;

void FilmstripMemoryAfterThousandShots(benchmark::State& state) {
    for (auto _ : state) {
        SessionRig rig;
        QString picture;
        if (const auto problem = prepareShots(rig, picture)) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        shell::MainWindow window(*rig.model);
        showWindow(window);
        int paints = 0;
        PaintWatch watch(window.filmstrip()->view()->viewport(), PaintWatch::When::done,
                         [&paints] { ++paints; });
        const double before = residentMB();
        const auto start = SteadyClock::now();
        if (const auto problem = feedShots(*rig.model, picture, shots)) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        spinUntil([] { return false; }, std::chrono::milliseconds(300));  // the last paints
        const double after = residentMB();
        state.SetIterationTime(millisecondsSince(start) / 1000);
        if (window.filmstrip()->shotList()->rowCount() != shots) {
            state.SkipWithError("the filmstrip does not hold every shot");
            return;
        }
        state.counters["window_MB"] = before;
        state.counters["filmstrip_paints"] = paints;
        reportMemory(state, before, after, shots, goalMB);
    }
}

BENCHMARK(FilmstripMemoryAfterThousandShots)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
}  // namespace pexil::bench

int main(int argc, char** argv) {
    return pexil::bench::windowBenchMain(argc, argv);
}
