#include "app/geo/GeoWriter.h"
#include "tests/app/geo/PictureFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <random>

namespace pexil {
namespace {

using Clock = std::chrono::steady_clock;

const QDateTime start(QDate(2024, 5, 1), QTime(0, 0), QTimeZone::utc());

// A card's worth of JPEGs with EXIF capture times a few seconds apart.
struct Folder {
    QTemporaryDir dir;
    explicit Folder(int count) {
        for (int i = 0; i < count; ++i) {
            testing::PictureSpec spec;
            spec.dateTimeOriginal =
                start.addSecs(7 * i).toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toUtf8();
            testing::writeFile(
                dir.filePath(QStringLiteral("DSC_%1.JPG").arg(i, 4, 10, QLatin1Char('0'))),
                testing::jpeg(spec));
        }
    }
};

GeoPayload dayTrack(int points) {
    GeoPayload payload;
    payload.track.reserve(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i)
        payload.track.push_back(GeoPoint{start.addSecs(i), 35 + i * 1e-6, 139, 10.0, std::nullopt});
    return payload;
}

// The scan a geotag window makes, against the baseline of ExifTool reading the same dates in
// its fastest mode; "ratio" is scan time over ExifTool time (the goal is at most 1).
void PlanThousandJpegsAgainstExifTool(benchmark::State& state) {
    const Folder folder(1000);
    const GeoWriter writer(dayTrack(20000), 120, false, QTimeZone::utc());
    const std::string exiftool = "/usr/bin/exiftool -q -fast -DateTimeOriginal '" +
                                 folder.dir.path().toStdString() + "' > /dev/null";
    double planSeconds = 0, exiftoolSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const auto plan = writer.plan(folder.dir.path());
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(plan);
        if (plan.matches.size() != 1000) state.SkipWithError("the scan matched too little");
        if (std::system(exiftool.c_str()) != 0) state.SkipWithError("exiftool failed");
        const auto t2 = Clock::now();
        planSeconds += std::chrono::duration<double>(t1 - t0).count();
        exiftoolSeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["exiftool_s"] = exiftoolSeconds / static_cast<double>(state.iterations());
    state.counters["ratio"] = exiftoolSeconds > 0 ? planSeconds / exiftoolSeconds : 0;
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(PlanThousandJpegsAgainstExifTool)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A card import of 5,000 pictures against a day-long track of 100,000 points.
void MatchFiveThousandAgainstHundredThousandPoints(benchmark::State& state) {
    const GeoWriter writer(dayTrack(100000));
    std::mt19937 random(1);
    std::uniform_int_distribution<int> second(-600, 100600);
    std::vector<QDateTime> captured;
    for (int i = 0; i < 5000; ++i) captured.push_back(start.addSecs(second(random)));
    const QString name = QStringLiteral("DSC_0001.NEF");
    for (auto _ : state) {
        int located = 0;
        for (const QDateTime& time : captured) located += writer.canLocate(name, time);
        benchmark::DoNotOptimize(located);
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(MatchFiveThousandAgainstHundredThousandPoints)->Unit(benchmark::kMillisecond);

// Building the index: paid once per writer, that is per scan or per import.
void IndexHundredThousandPoints(benchmark::State& state) {
    const GeoPayload payload = dayTrack(100000);
    for (auto _ : state) {
        const GeoWriter writer(payload);
        benchmark::DoNotOptimize(writer);
    }
}
BENCHMARK(IndexHundredThousandPoints)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pexil
