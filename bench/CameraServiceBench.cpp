// The camera service as the application uses it, against the virtual camera: listing a
// 2,000-picture card, and downloading a 500 MB object over PTP/IP into a file with the
// peak resident memory reported (goal: under 64 MB whatever the object's size).
#include "camera/ptpip/PtpIpServer.h"
#include "camera/service/CameraFile.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace {

using namespace pexil;
using namespace pexil::camera;

long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

struct Opened {
    std::shared_ptr<CameraDevice> device;
    std::vector<std::shared_ptr<CameraFile>> files;
    int completes = 0;
};

void open(async::VirtualRuntime& rt, Opened& o) {
    CameraDevice::Callbacks listener;
    listener.itemsAdded = [&o](const CameraItems& items) {
        o.files.insert(o.files.end(), items.files.begin(), items.files.end());
    };
    listener.catalogComplete = [&o] { ++o.completes; };
    o.device->setListener(CameraDevice::listenerFrom(listener));
    o.device->requestOpenSession();
    rt.waitUntil([&o] { return o.completes == 1; }, std::chrono::minutes(5));
}

void BM_ListTwoThousandFileCard(benchmark::State& state) {
    QTemporaryDir dir;
    VirtualCamera::Options options;
    options.cardDir = dir.filePath(QStringLiteral("card"));
    options.photos = 2000;
    auto camera = VirtualCamera::create(options).value();
    for (auto _ : state) {
        async::VirtualRuntime rt;
        Opened o;
        o.device =
            CameraDevice::create(rt, QStringLiteral("D850"), QStringLiteral("virtual"),
                                 [camera] { return std::make_unique<VirtualTransport>(camera); });
        open(rt, o);
        if (o.files.size() != 2000) state.SkipWithError("the catalogue is incomplete");
        bool closed = false;
        o.device->requestCloseSession([&closed](auto) { closed = true; });
        rt.waitUntil([&closed] { return closed; });
    }
    state.SetLabel("2000 files, GetObjectHandles + GetObjectInfo each");
}
BENCHMARK(BM_ListTwoThousandFileCard)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Download500MBOverPtpIpIntoAFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("card/DCIM/100NCD850"));
    QDir().mkpath(folder);
    {
        // A sparse file: the camera reads it like any other, the disk holds almost nothing.
        QFile big(folder + QStringLiteral("/DSC_0001.NEF"));
        big.open(QIODevice::WriteOnly);
        big.resize(qint64{500} * 1000 * 1000);
    }
    VirtualCamera::Options options;
    options.cardDir = dir.filePath(QStringLiteral("card"));
    auto camera = VirtualCamera::create(options).value();
    PtpIpServer server(camera, "127.0.0.1", 0);
    if (!server.start()) {
        state.SkipWithError("no server");
        return;
    }
    CameraAddress address;
    address.kind = CameraAddress::Kind::ptpip;
    address.host = QStringLiteral("127.0.0.1");
    address.port = server.port();
    const long before = statusKiB("VmRSS:");
    double seconds = 0;
    for (auto _ : state) {
        async::VirtualRuntime rt;
        Opened o;
        o.device = ptpipDevice(rt, address, {});
        open(rt, o);
        const QString dest = dir.filePath(QStringLiteral("dest"));
        QDir(dest).removeRecursively();
        QDir().mkpath(dest);
        std::optional<bool> saved;
        async::Scope scope(rt);
        scope.spawn([](std::shared_ptr<CameraFile> file, QString to,
                       std::optional<bool>& out) -> async::Task<void> {
            CameraFile::DownloadOptions options{to, false, {}, {}, {}};
            const auto result = co_await file->download(std::move(options));
            out = result.ok();
        }(o.files.at(0), dest, saved));
        const auto start = std::chrono::steady_clock::now();
        rt.waitUntil([&saved] { return saved.has_value(); }, std::chrono::minutes(5));
        if (!saved.value_or(false)) state.SkipWithError("download failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        o.device.reset();
    }
    state.counters["MB_per_s"] = 500.0 * static_cast<double>(state.iterations()) / seconds;
    state.counters["peak_RSS_MB"] = static_cast<double>(statusKiB("VmHWM:")) / 1024.0;
    state.counters["RSS_before_MB"] = static_cast<double>(before) / 1024.0;
    server.stop();
}
BENCHMARK(BM_Download500MBOverPtpIpIntoAFile)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
