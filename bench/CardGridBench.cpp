// The card browser's grid on the demo's wiring (the virtual camera through the real camera
// service, the session model on the real clock), offscreen:
// - scrolling a 5,000-picture grid from top to bottom, 40 pixels a frame, while thumbnails
//   load: frames painted per second and the slowest frame (a stutter shows there);
// - the time from showing the grid on a settled 2,000-picture card until every cell in view
//   has its thumbnail.
// Figures only; nothing here passes or fails on time.
#include "app/base/Log.h"
#include "app/base/PreferencesModel.h"
#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/session/SessionModel.h"
#include "app/shell/card/CardGridView.h"
#include "camera/service/CameraAddress.h"
#include "camera/sources/CameraSources.h"
#include "kit/async/Clock.h"
#include "kit/async/Executor.h"
#include "kit/async/Runtime.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace pexil {
namespace {

// A session model connected to a virtual camera with `photos` pictures, its card listed.
class Rig {
public:
    explicit Rig(int photos) {
        log_ = std::make_unique<Log>(dir_.filePath(QStringLiteral("home")));
        camera::VirtualCamera::Options options;
        options.cardDir = dir_.filePath(QStringLiteral("card"));
        options.photos = photos;
        auto setup = camera::setUpCamera(
            runtime_, camera::CameraAddress::parse(QStringLiteral("virtual")).value(), options,
            log_->writer());
        if (!setup) return;
        camera_ = setup.value().virtualCamera;
        SessionModel::Environment environment;
        environment.sources.push_back(std::move(setup.value().source));
        environment.settings = std::make_unique<QSettings>(
            dir_.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat);
        environment.supportFolder = dir_.filePath(QStringLiteral("support"));
        environment.advertiseGeo = false;
        environment.liveViewSettingsFile = dir_.filePath(QStringLiteral("liveview.ini"));
        model_ = std::make_unique<SessionModel>(runtime_, *log_, std::move(environment));
        model_->preferences().setBaseDestination(dir_.filePath(QStringLiteral("dest")));
        model_->connection().connectCamera();
        const auto count = static_cast<std::size_t>(photos);
        ready_ = waitFor([&] { return !card().loading() && card().items().size() == count; }, 600);
    }

    bool ready() const { return ready_; }
    CardModel& card() { return model_->card(); }

    static bool waitFor(const std::function<bool()>& done, double seconds) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > seconds * 1000) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

private:
    QTemporaryDir dir_;
    QObject context_;
    async::QtExecutor executor_{&context_};
    async::SystemClock clock_;
    async::Runtime runtime_{executor_, clock_};
    std::unique_ptr<Log> log_;
    std::shared_ptr<camera::VirtualCamera> camera_;
    std::unique_ptr<SessionModel> model_;
    bool ready_ = false;
};

bool allInViewLoaded(const shell::CardGridView& view, const CardModel& card) {
    const auto [first, last] = view.visibleRange();
    for (int i = first; i < last; ++i)
        if (card.items()[static_cast<std::size_t>(i)].thumbnail.isNull()) return false;
    return last > first;
}

void BM_ScrollGridWhileThumbnailsLoad(benchmark::State& state) {
    const int photos = static_cast<int>(state.range(0));
    Rig rig(photos);
    if (!rig.ready()) return state.SkipWithError("the virtual card did not settle");
    shell::CardGridView view(rig.card());
    view.resize(1100, 720);
    view.show();
    QCoreApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    std::vector<double> frames;
    int loaded = 0;
    for (auto _ : state) {
        QElapsedTimer frame;
        for (int y = 0; y <= bar->maximum(); y += 40) {
            frame.start();
            bar->setValue(y);
            view.viewport()->repaint();
            // What the decoders finished meanwhile lands, as between frames in the program.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            frames.push_back(frame.nsecsElapsed() / 1e6);
        }
    }
    for (const CardItem& item : rig.card().items()) loaded += item.thumbnail.isNull() ? 0 : 1;
    double total = 0;
    for (double ms : frames) total += ms;
    std::sort(frames.begin(), frames.end());
    state.counters["frames"] = static_cast<double>(frames.size());
    state.counters["frames_per_s"] = frames.size() / (total / 1000);
    state.counters["median_frame_ms"] = frames[frames.size() / 2];
    state.counters["p99_frame_ms"] = frames[frames.size() * 99 / 100];
    state.counters["worst_frame_ms"] = frames.back();
    state.counters["thumbnails_loaded"] = loaded;
}
BENCHMARK(BM_ScrollGridWhileThumbnailsLoad)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_FirstThumbnails(benchmark::State& state) {
    const int photos = static_cast<int>(state.range(0));
    Rig rig(photos);
    if (!rig.ready()) return state.SkipWithError("the virtual card did not settle");
    double ms = 0;
    int cells = 0;
    for (auto _ : state) {
        shell::CardGridView view(rig.card());
        view.resize(1100, 720);
        QElapsedTimer timer;
        timer.start();
        view.show();
        if (!Rig::waitFor([&] { return allInViewLoaded(view, rig.card()); }, 120))
            return state.SkipWithError("the thumbnails in view did not arrive");
        ms = timer.nsecsElapsed() / 1e6;
        cells = view.visibleRange().second - view.visibleRange().first;
    }
    state.counters["first_screen_ms"] = ms;
    state.counters["cells_in_view"] = cells;
}
BENCHMARK(BM_FirstThumbnails)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace pexil

// Widgets need a QApplication (BenchMain makes a QCoreApplication): this main is linked
// before that one.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    pexil::ui::Theme::apply(app);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
