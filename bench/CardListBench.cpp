// How long a full card takes to list, against gphoto2 --list-files on the same virtual camera
// over PTP/IP on loopback, every command delayed by 2 ms as a camera's firmware does. Pexil's
// time runs from open() to the link's settled catalogue (its 1.5 s quiet period included) on
// the real clock; "listed_s" is when all files were in the catalogue. Goals: ratio ≤ 0.2 with
// GetObjectPropList, ≤ 1.0 without it.
#include "app/connection/CameraLink.h"
#include "camera/ptpip/PtpIpServer.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/Clock.h"
#include "kit/async/Executor.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>

namespace pexil {
namespace {

constexpr int photos = 2000;
constexpr double latencyMs = 2;

// The card is made once (it takes a while) and served by a fresh camera per path.
const QString& cardFolder() {
    static QTemporaryDir dir;
    static const QString card = dir.filePath(QStringLiteral("card"));
    return card;
}

struct Served {
    std::shared_ptr<camera::VirtualCamera> camera;
    std::unique_ptr<camera::PtpIpServer> server;
    QString host;
};

// gphoto2 2.5 reaches a camera on another port than 15740 with its event channel on the next
// port; every 127/8 address is loopback, so each camera gets its own address on 15740 instead.
std::optional<Served> serve(bool propList) {
    camera::VirtualCamera::Options options;
    options.cardDir = cardFolder();
    options.photos = photos;
    options.latencyMs = latencyMs;
    options.objectPropList = propList;
    auto made = camera::VirtualCamera::create(options);
    if (!made) return std::nullopt;
    Served served;
    served.camera = made.value();
    for (int last = 10; last < 250; ++last) {
        const QString host = QStringLiteral("127.0.0.%1").arg(last);
        auto server =
            std::make_unique<camera::PtpIpServer>(served.camera, host.toStdString(), 15740);
        if (!server->start()) continue;
        served.server = std::move(server);
        served.host = host;
        return served;
    }
    return std::nullopt;
}

// gphoto2's listing, in seconds; none when it failed or listed too little.
std::optional<double> gphoto2Seconds(const QString& host) {
    const QString gphoto2 = QStandardPaths::findExecutable(QStringLiteral("gphoto2"));
    if (gphoto2.isEmpty()) return std::nullopt;
    QTemporaryDir home;  // gphoto2 keeps its PTP/IP identity in ~/.gphoto
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(gphoto2, {QStringLiteral("--port"), QStringLiteral("ptpip:") + host,
                            QStringLiteral("--camera"), QStringLiteral("PTP/IP Camera"),
                            QStringLiteral("--list-files")});
    if (!process.waitForFinished(600'000) || process.exitCode() != 0) return std::nullopt;
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const auto listed = QString::fromUtf8(process.readAllStandardOutput())
                            .count(QRegularExpression(QStringLiteral("^#\\d+ "),
                                                      QRegularExpression::MultilineOption));
    if (listed != photos) return std::nullopt;
    return seconds;
}

struct PexilTimes {
    double listed = 0;
    double settled = 0;
};

// The link as the application uses it, on the real clock and a Qt event loop.
std::optional<PexilTimes> pexilSeconds(const QString& host) {
    QObject context;
    async::QtExecutor executor(&context);
    async::SystemClock clock;
    async::Runtime runtime(executor, clock);
    QTemporaryDir home;
    Log log(home.path());
    camera::CameraAddress address;
    address.kind = camera::CameraAddress::Kind::ptpip;
    address.host = host;
    address.port = 15740;
    auto source = std::make_unique<camera::ManualSource>(runtime);
    source->add(camera::ptpipDevice(runtime, address, log.writer()));
    std::vector<std::unique_ptr<camera::DeviceSource>> sources;
    sources.push_back(std::move(source));
    std::optional<PexilTimes> times;
    {
        CameraLink link(runtime, log, std::move(sources), nullptr);
        link.destination = home.filePath(QStringLiteral("dest"));
        QElapsedTimer timer;
        PexilTimes t;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (t.listed == 0 && link.cardFiles().size() >= static_cast<std::size_t>(photos))
                t.listed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            if (link.cardSettled()) {
                t.settled = static_cast<double>(timer.nsecsElapsed()) / 1e9;
                loop.quit();
            }
            if (timer.elapsed() > 600'000) loop.quit();
        });
        timer.start();
        link.open();
        poll.start(1);
        loop.exec();
        poll.stop();
        if (link.cardSettled() && link.cardFiles().size() == static_cast<std::size_t>(photos))
            times = t;
        link.close();
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return times;
}

void run(benchmark::State& state, bool propList) {
    auto served = serve(propList);
    if (!served) {
        state.SkipWithError("the virtual camera could not be served");
        return;
    }
    // Untimed: the camera reads each picture's head once, whoever asks first.
    if (!gphoto2Seconds(served->host)) {
        state.SkipWithError(
            "gphoto2 --list-files failed (scripts/install-deps --bench installs it)");
        return;
    }
    double gphoto2 = 0, pexil = 0, listed = 0;
    for (auto _ : state) {
        const auto baseline = gphoto2Seconds(served->host);
        const auto ours = pexilSeconds(served->host);
        if (!baseline || !ours) {
            state.SkipWithError("a listing failed");
            return;
        }
        gphoto2 += *baseline;
        pexil += ours->settled;
        listed += ours->listed;
        state.SetIterationTime(ours->settled);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["gphoto2_s"] = gphoto2 / n;
    state.counters["listed_s"] = listed / n;
    state.counters["ratio"] = pexil / gphoto2;
    state.SetLabel(propList ? "2000 files, GetObjectPropList"
                            : "2000 files, GetObjectInfo each, newest first");
    served->server->stop();
    served->camera->unplug();
}

void SettleTwoThousandFilesWithObjectPropList(benchmark::State& state) {
    run(state, true);
}
void SettleTwoThousandFilesObjectByObject(benchmark::State& state) {
    run(state, false);
}

BENCHMARK(SettleTwoThousandFilesWithObjectPropList)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(SettleTwoThousandFilesObjectByObject)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace
}  // namespace pexil
