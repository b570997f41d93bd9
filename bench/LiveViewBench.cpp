// Live view frame rate through NikonLiveView against a bare loop of GetLiveViewImg on the
// same virtual camera: the live view object must add next to nothing per frame (goal: a
// ratio of at least 0.95).
#include "camera/service/CameraDevice.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/liveview/NikonLiveView.h"

#include <QSet>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace pexil;
using namespace pexil::camera;
using SteadyClock = std::chrono::steady_clock;

constexpr int framesPerRun = 200;

// One virtual camera with an open session and a PTPCamera over it.
struct Rig {
    QTemporaryDir dir;
    async::VirtualRuntime rt;
    std::shared_ptr<VirtualCamera> body;
    std::unique_ptr<VirtualSource> source;
    std::unique_ptr<PTPCamera> camera;

    bool open() {
        VirtualCamera::Options options;
        options.cardDir = dir.filePath(QStringLiteral("card"));
        options.timings.liveViewStart = std::chrono::milliseconds(1);
        // Unpaced: the program's overhead is measured against the camera's fastest answers.
        options.liveViewFps = 0;
        auto made = VirtualCamera::create(options);
        if (!made) return false;
        body = made.value();
        source = std::make_unique<VirtualSource>(rt, body);
        bool catalogued = false;
        CameraDevice::Callbacks listener;
        listener.catalogComplete = [&catalogued] { catalogued = true; };
        source->device()->setListener(CameraDevice::listenerFrom(listener));
        source->device()->requestOpenSession();
        if (!rt.waitUntil([&] { return catalogued; })) return false;
        source->device()->setListener({});
        camera = std::make_unique<PTPCamera>(rt, source->device(), nullptr);
        return rt.run(camera->readDeviceInfo()).value_or(std::nullopt).has_value();
    }
};

async::Task<int> bareLoop(PTPCamera& camera, int count) {
    int frames = 0;
    for (int i = 0; i < count; ++i) {
        auto answer = co_await camera.send(PTP::Op::nikonGetLiveViewImg);
        if (answer && NikonLiveView::jpeg(answer.value())) ++frames;
    }
    co_return frames;
}

// Live view's memory of SDRAM bodies for one run.
class RunMemory final : public LiveViewMemory {
public:
    bool needsSDRAM(const QString& key) const override { return keys_.contains(key); }
    void rememberNeedsSDRAM(const QString& key) override { keys_.insert(key); }

private:
    QSet<QString> keys_;
};

void LiveViewFrameRate(benchmark::State& state) {
    Rig rig;
    if (!rig.open()) {
        state.SkipWithError("the virtual camera did not open");
        return;
    }
    NikonLiveView liveView(*rig.camera, QStringLiteral("bench"), std::make_shared<RunMemory>());
    int frames = 0;
    liveView.onFrame = [&frames](ByteView) { ++frames; };
    if (rig.rt.run(liveView.start()).value_or(QStringLiteral("?")).has_value()) {
        state.SkipWithError("live view did not start");
        return;
    }
    double viaLiveView = 0;
    double bare = 0;
    for (auto _ : state) {
        // Through the object: its loop fetches back to back.
        const int from = frames;
        auto t0 = SteadyClock::now();
        rig.rt.waitUntil([&] { return frames >= from + framesPerRun; }, std::chrono::seconds(60));
        viaLiveView += std::chrono::duration<double>(SteadyClock::now() - t0).count();

        // The bare loop on the same camera, with the object's loop paused meanwhile.
        liveView.shouldPauseFrames = [] { return true; };
        rig.rt.waitUntil([] { return false; }, std::chrono::milliseconds(20));
        t0 = SteadyClock::now();
        const int got = rig.rt.run(bareLoop(*rig.camera, framesPerRun)).value_or(0);
        bare += std::chrono::duration<double>(SteadyClock::now() - t0).count();
        if (got != framesPerRun) state.SkipWithError("the bare loop lost frames");
        liveView.shouldPauseFrames = nullptr;
        // The paused loop sleeps on the virtual clock: wake it.
        if (rig.rt.clock().hasTimers()) rig.rt.clock().fireNext();
    }
    const double n = static_cast<double>(state.iterations()) * framesPerRun;
    state.counters["fps_liveview"] = n / viaLiveView;
    state.counters["fps_bare"] = n / bare;
    state.counters["ratio"] = bare / viaLiveView;
    rig.rt.run(liveView.stop(QStringLiteral("bench")));
}
BENCHMARK(LiveViewFrameRate)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
