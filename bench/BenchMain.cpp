#include <QCoreApplication>

#include <benchmark/benchmark.h>

// Every benchmark runs inside an application object, as the program does: Qt's time zones,
// text codecs and event loop want one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
