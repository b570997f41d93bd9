// Live view in the main window: distinct frames painted in the preview pane per frame fetched
// from the camera (goal: at least 0.95), with no picture decoded on the main thread while it
// runs (goal: 0). The window runs offscreen on the session model and the in-process virtual
// camera; frames are counted for a few seconds once the first has been shown.
//
// LivePaintWithAids: the same at the virtual D850's own rate (30 frames a second) with peaking
// and the histogram on: the share of one core the process used meanwhile (goal: at most 0.6;
// it includes the virtual body painting and encoding its frames, so the application's own
// share is lower) and frames painted per frame fetched (goal: at least 0.95).
// It brings its own main: widgets need a QApplication.
#include "WindowRig.h"

#include "app/liveview/LiveViewModel.h"
#include "app/shell/main/PreviewPane.h"
#include "app/shots/JpegDecoder.h"

#include <sys/resource.h>

namespace pexil::bench {
namespace {

constexpr auto measured = std::chrono::seconds(6);

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// With `aids` on over the picture, at the body's own frame rate.
void measureLivePaint(benchmark::State& state, const LiveAids& aids) {
    for (auto _ : state) {
        SessionRig rig;
        if (const auto problem = rig.connect()) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        SessionModel& model = *rig.model;
        LiveViewModel& live = model.liveView();
        live.setAids(aids);
        shell::MainWindow window(model);
        showWindow(window);

        bool counting = false;
        std::uint64_t fetched = 0, decoded = 0, painted = 0;
        // Decoded frames tell the frames the model dropped (one decodes at a time) from the ones
        // the window never painted.
        QObject::connect(&live, &LiveViewModel::frameChanged, [&] {
            if (counting && !live.frame().isNull()) ++decoded;
        });
        qint64 lastPainted = 0;
        live.onFrameBytes = [&](ByteView) {
            if (counting) ++fetched;
        };
        shell::PreviewPane* pane = window.preview();
        PaintWatch watch(pane, PaintWatch::When::starting, [&] {
            const QImage& frame = live.frame();
            if (!counting || frame.isNull() || pane->image().cacheKey() != frame.cacheKey()) return;
            if (frame.cacheKey() == lastPainted) return;
            lastPainted = frame.cacheKey();
            ++painted;
        });
        model.toggleLiveView();
        if (!spinUntil([&live] { return live.isLive() && !live.frame().isNull(); },
                       std::chrono::seconds(30))) {
            state.SkipWithError("live view showed no frame");
            return;
        }
        spinUntil([] { return false; }, std::chrono::milliseconds(500));
        const std::uint64_t decodesBefore = JpegDecoder::mainThreadDecodes();
        counting = true;
        const double cpuBefore = processCpuSeconds();
        const auto start = SteadyClock::now();
        spinUntil([] { return false; }, measured);
        counting = false;
        const double seconds = millisecondsSince(start) / 1000;
        const double cpuShare = (processCpuSeconds() - cpuBefore) / seconds;
        // The frame in decode when counting stopped was fetched but could not be painted yet.
        spinUntil([] { return false; }, std::chrono::milliseconds(200));
        const std::uint64_t mainDecodes = JpegDecoder::mainThreadDecodes() - decodesBefore;
        model.toggleLiveView();
        spinUntil([&live] { return !live.isLive(); }, std::chrono::seconds(10));
        if (fetched == 0) {
            state.SkipWithError("no frame was fetched");
            return;
        }
        const double ratio = static_cast<double>(painted) / static_cast<double>(fetched);
        state.SetIterationTime(seconds);
        state.counters["fetched_fps"] = static_cast<double>(fetched) / seconds;
        state.counters["decoded_fps"] = static_cast<double>(decoded) / seconds;
        state.counters["painted_fps"] = static_cast<double>(painted) / seconds;
        state.counters["ratio"] = ratio;
        state.counters["goal_ratio"] = 0.95;
        state.counters["main_thread_decodes"] = static_cast<double>(mainDecodes);
        state.counters["cpu_share"] = cpuShare;
        const bool cpuMet = !aids.analyses() || cpuShare <= 0.6;
        state.SetLabel(ratio >= 0.95 && mainDecodes == 0 && cpuMet ? "goal met" : "goal missed");
    }
}

void LivePaint(benchmark::State& state) {
    measureLivePaint(state, LiveAids{});
}
BENCHMARK(LivePaint)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

void LivePaintWithAids(benchmark::State& state) {
    measureLivePaint(state, LiveAids{true, true, false, LiveAids::Guide::none});
}
BENCHMARK(LivePaintWithAids)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace pexil::bench

int main(int argc, char** argv) {
    return pexil::bench::windowBenchMain(argc, argv);
}
