// CPU time of one display frame of the animated interface pieces, drawn into a device pixel
// ratio 2 image as on a HiDPI screen: the preparing overlay's per-frame work (the 148 × 148
// iris and the film frames, the only parts it redraws) and a full scrubber repaint. At 60
// frames a second, 10 % of a core is 1.67 ms per frame.
//
// It brings its own main: drawing text needs a QApplication, the shared main makes only a
// QCoreApplication.

#include "ui/preparing/ApertureIris.h"
#include "ui/preparing/FilmFrames.h"
#include "ui/scrubber/ScrubberControl.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace pexil::ui;

namespace {

constexpr double frame = 1.0 / 60;

QImage hidpi(QSize logical) {
    QImage image(logical * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    return image;
}

void BM_IrisFrame(benchmark::State& state) {
    QImage image = hidpi({148, 148});
    double t = 0;
    for (auto _ : state) {
        image.fill(Theme::background());
        QPainter p(&image);
        ApertureIris::paint(p, QRectF(0, 0, 148, 148), t += frame, std::nullopt);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_IrisFrame);

// What the overlay repaints each frame: the iris and the film frames widgets, their
// rectangles only, over the overlay's background.
void BM_OverlayFrame(benchmark::State& state) {
    ApertureIris iris;
    FilmFrames frames(12, Theme::overlayAmber());
    QImage irisImage = hidpi(iris.size());
    QImage framesImage = hidpi(frames.size());
    double t = 0;
    for (auto _ : state) {
        t += frame;
        iris.setTime(t);
        frames.setTime(t);
        irisImage.fill(Theme::background());
        framesImage.fill(Theme::background());
        iris.render(&irisImage, {}, {}, QWidget::DrawChildren);
        frames.render(&framesImage, {}, {}, QWidget::DrawChildren);
        benchmark::DoNotOptimize(irisImage.constBits());
    }
    // Seconds per frame × 60 frames: the share of one core the overlay takes at 60 fps.
    state.counters["core_share_at_60fps"] = benchmark::Counter(
        double(state.iterations()) / 60.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OverlayFrame);

void BM_ScrubberRepaint(benchmark::State& state) {
    ScrubberControl scrubber;
    scrubber.setTitle(QStringLiteral("シャッター速度"));
    QStringList speeds;
    for (int i = 0; i < 55; ++i) speeds << QStringLiteral("1/%1").arg(4 << (i % 11));
    scrubber.setOptions(speeds);
    scrubber.setSelection(speeds[20]);
    scrubber.resize(320, 36);
    QImage image = hidpi(scrubber.size());
    for (auto _ : state) {
        image.fill(Theme::background());
        scrubber.render(&image, {}, {}, QWidget::DrawChildren);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_ScrubberRepaint);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const auto error = Theme::apply(app)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
