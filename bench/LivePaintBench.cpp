// Live view in the main window: distinct frames painted in the preview pane per frame fetched
// from the camera (goal: at least 0.95), with no picture decoded on the main thread while it
// runs (goal: 0). The window runs offscreen on the session model and the in-process virtual
// camera; frames are counted for a few seconds once the first has been shown.
// It brings its own main: widgets need a QApplication.
#include "WindowRig.h"

#include "app/liveview/LiveViewModel.h"
#include "app/shell/main/PreviewPane.h"
#include "app/shots/JpegDecoder.h"

namespace pexil::bench {
namespace {

constexpr auto measured = std::chrono::seconds(6);

void LivePaint(benchmark::State& state) {
    for (auto _ : state) {
        SessionRig rig;
        if (const auto problem = rig.connect()) {
            state.SkipWithError(problem->toStdString().c_str());
            return;
        }
        SessionModel& model = *rig.model;
        LiveViewModel& live = model.liveView();
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
        const auto start = SteadyClock::now();
        spinUntil([] { return false; }, measured);
        counting = false;
        const double seconds = millisecondsSince(start) / 1000;
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
        state.SetLabel(ratio >= 0.95 && mainDecodes == 0 ? "goal met" : "goal missed");
    }
}

BENCHMARK(LivePaint)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace pexil::bench

int main(int argc, char** argv) {
    return pexil::bench::windowBenchMain(argc, argv);
}
