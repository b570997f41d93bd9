// The 1200-pixel filmstrip thumbnail of a 24-megapixel camera JPEG through Thumbnailer against
// `vipsthumbnail` (libvips-tools) on the same file, in the same run (goal: a ratio of at most
// 1.2). vipsthumbnail runs as a process and also writes its result as a JPEG; its bare start-up
// (`--vips-version`) is measured too, so the report shows the ratio both with and without it.
#include "app/shots/Thumbnailer.h"
#include "camera/virtual/PictureFactory.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace pexil;
using SteadyClock = std::chrono::steady_clock;

constexpr int maxPixel = 1200;

double seconds(SteadyClock::time_point since) {
    return std::chrono::duration<double>(SteadyClock::now() - since).count();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void ThumbnailAgainstVips(benchmark::State& state) {
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty()) {
        state.SkipWithError("vipsthumbnail is not installed (scripts/install-deps --bench)");
        return;
    }
    QTemporaryDir dir;
    camera::PictureFactory factory;
    auto scene = factory.render(6000, 4000, 11, 1);
    if (!scene.ok()) {
        state.SkipWithError("the picture could not be rendered");
        return;
    }
    camera::PictureMeta meta;
    meta.make = QStringLiteral("NIKON CORPORATION");
    meta.model = QStringLiteral("NIKON Z 6_2");
    meta.taken = QDateTime(QDate(2024, 5, 30), QTime(10, 20, 30));
    meta.exposure = {5.6, 1, 250, 400, 50};
    const QString path = dir.filePath(QStringLiteral("DSC_0001.JPG"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !camera::PictureFactory::writeJpegFile(file, scene.value(), meta).ok()) {
        state.SkipWithError("the picture could not be written");
        return;
    }
    file.close();
    const QString out = dir.filePath(QStringLiteral("thumb.jpg"));
    const QStringList vipsArguments{path, QStringLiteral("-s"), QString::number(maxPixel),
                                    QStringLiteral("-o"), out};
    // Warm the page cache and the dynamic loader for both sides.
    if (!Thumbnailer::load(path, maxPixel) || !run(vips, vipsArguments)) {
        state.SkipWithError("a thumbnail failed");
        return;
    }

    double ours = 0;
    double theirs = 0;
    double startup = 0;
    for (auto _ : state) {
        // Interleaved, so that load from other processes falls on both sides alike.
        auto t0 = SteadyClock::now();
        const auto thumb = Thumbnailer::load(path, maxPixel);
        ours += seconds(t0);
        if (!thumb || std::max(thumb->image.width(), thumb->image.height()) != maxPixel)
            state.SkipWithError("Thumbnailer gave no 1200-pixel image");

        t0 = SteadyClock::now();
        if (!run(vips, vipsArguments)) state.SkipWithError("vipsthumbnail failed");
        theirs += seconds(t0);

        t0 = SteadyClock::now();
        run(vips, {QStringLiteral("--vips-version")});
        startup += seconds(t0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ms_thumbnailer"] = 1000 * ours / n;
    state.counters["ms_vipsthumbnail"] = 1000 * theirs / n;
    state.counters["ms_vips_startup"] = 1000 * startup / n;
    state.counters["ratio"] = ours / theirs;
    state.counters["ratio_no_startup"] = theirs > startup ? ours / (theirs - startup) : 0;
}
BENCHMARK(ThumbnailAgainstVips)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
