#pragma once

// A CameraLink wired to the virtual camera through the real camera service, on the
// virtual clock. Camera answers come from the service's threads: wait for them with
// waitUntil (time stands still), and move time only while the camera is idle.
#include "app/connection/CameraLink.h"
#include "camera/ptpip/PtpIpServer.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/VirtualRuntime.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pexil::testing {

class LinkHarness {
public:
    // The USB watcher (real udev: only under umockdev) shows what is plugged in before the
    // service reports it.
    enum class Usb { none, watched };
    // How the service reaches the camera: its in-process transport, or PTP/IP over loopback
    // to a server in front of it.
    enum class Via { inProcess, ptpip };

    explicit LinkHarness(Via via = Via::inProcess, Usb usb = Usb::none) : via(via) {
        log = std::make_unique<Log>(dir.filePath(QStringLiteral("home")));
        auto manual = std::make_unique<camera::ManualSource>(rt);
        source = manual.get();
        std::vector<std::unique_ptr<camera::DeviceSource>> sources;
        sources.push_back(std::move(manual));
        std::unique_ptr<camera::UsbCameraWatcher> watcher;
        if (usb == Usb::watched) {
            // The host has been up for a while: udev stamps are seconds of the monotonic clock.
            rt.clock().advance(async::Seconds(5000));
            watcher = std::make_unique<camera::UsbCameraWatcher>(rt.clock(), log->writer());
        }
        link = std::make_unique<CameraLink>(rt, *log, std::move(sources), std::move(watcher));
        link->destination = dir.filePath(QStringLiteral("dest"));
        QObject::connect(link.get(), &CameraLink::phaseChanged,
                         [this](const CameraLink::Phase& p) { phases.push_back(p); });
        QObject::connect(link.get(), &CameraLink::cameraReady,
                         [this](const std::shared_ptr<PTPCamera>&) { ++readies; });
        QObject::connect(link.get(), &CameraLink::cameraLost,
                         [this](const std::optional<QString>& text) { lost.push_back(text); });
        QObject::connect(link.get(), &CameraLink::fileSaved,
                         [this](const QString& path, const CameraLink::CameraFilePtr&) {
                             saved.push_back(path);
                         });
        QObject::connect(link.get(), &CameraLink::downloadFailed,
                         [this](const QString& name, const QString& message, bool fromCamera) {
                             failed.push_back({name, message, fromCamera});
                         });
        QObject::connect(link.get(), &CameraLink::cardChanged, [this] { ++cardChanges; });
        syncWall();
    }
    ~LinkHarness() {
        link.reset();
        // Let the service wind its sessions down while the runtime they answer on exists.
        if (device && device->hasOpenSession()) {
            bool closed = false;
            device->requestCloseSession([&](std::optional<TransportError>) { closed = true; });
            rt.waitUntil([&] { return closed; }, std::chrono::seconds(5));
        }
        if (camera) camera->unplug();
        device.reset();
        drain();
        if (server) server->stop();
    }

    QString cardDir() const { return dir.filePath(QStringLiteral("card")); }

    // A camera on the harness's card (kept across replugs), `drift` seconds ahead of us.
    void makeCamera(int photos = 0, double drift = 0) {
        camera::VirtualCamera::Options options;
        options.cardDir = cardDir();
        options.photos = photos;
        options.clockDriftSeconds = drift;
        options.wallClock = [wall = wallMs] {
            return QDateTime::fromMSecsSinceEpoch(wall->load(), Qt::UTC).toLocalTime();
        };
        auto made = camera::VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        camera = made.value();
    }
    void plug() {
        if (via == Via::ptpip) {
            if (server) server->stop();
            server = std::make_unique<camera::PtpIpServer>(
                responder ? responder : std::shared_ptr<camera::Responder>(camera), "127.0.0.1", 0);
            ASSERT_TRUE(server->start());
            camera::CameraAddress address;
            address.kind = camera::CameraAddress::Kind::ptpip;
            address.host = QStringLiteral("127.0.0.1");
            address.port = server->port();
            device = camera::ptpipDevice(rt, address, {});
        } else {
            device = camera::CameraDevice::create(
                rt, camera->model().model, QStringLiteral("virtual"),
                [c = camera] { return std::make_unique<camera::VirtualTransport>(c); });
        }
        source->add(device);
    }
    // The service notices the departure before the dead link: the order a removal has
    // when the cable is pulled between two transactions.
    void unplug() {
        source->remove(device);
        camera->unplug();
    }

    // The camera's clock reads ours from its own threads; it sees time move only here.
    void syncWall() { wallMs->store(rt.clock().now().toMSecsSinceEpoch()); }
    void advance(double seconds) {
        rt.clock().advance(async::Seconds(seconds));
        rt.runReady();
        syncWall();
    }
    // Lets timers fire; only while the camera has nothing outstanding.
    void runTimers(double seconds) {
        rt.runFor(async::Seconds(seconds));
        syncWall();
    }
    bool waitUntil(const std::function<bool()>& done) {
        return rt.waitUntil(done, std::chrono::seconds(20));
    }
    // Gives late camera answers a chance to arrive.
    void drain() {
        rt.waitUntil([] { return false; }, std::chrono::milliseconds(150));
    }

    bool isReady() const { return link->phase().kind == CameraLink::Phase::Kind::ready; }
    bool catalogued(std::size_t files) const {
        return link->cardFiles().size() == files && hasLine("一覧の完了通知");
    }
    void openAndWaitReady(std::size_t files) {
        link->open();
        ASSERT_TRUE(waitUntil([&] { return isReady() && catalogued(files); }));
    }

    // The log's lines without their time stamps.
    QStringList lines() const {
        log->flush();
        QFile file(log->path());
        if (!file.open(QIODevice::ReadOnly)) return {};
        QStringList out;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
            out << (line.startsWith(u'[') && line.indexOf(QStringLiteral("] ")) > 0
                        ? line.mid(line.indexOf(QStringLiteral("] ")) + 2)
                        : line);
        }
        return out;
    }
    bool hasLine(const char* text) const { return lines().contains(QString::fromUtf8(text)); }
    QStringList linesStarting(const char* prefix) const {
        QStringList out;
        for (const QString& line : lines())
            if (line.startsWith(QString::fromUtf8(prefix))) out << line;
        return out;
    }

    // Visible files (no hidden temporaries) under `root`, by name.
    static QStringList filesUnder(const QString& root) {
        QStringList out;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) out << QFileInfo(it.next()).fileName();
        out.sort();
        return out;
    }

    Via via;
    QTemporaryDir dir;
    async::VirtualRuntime rt;
    std::shared_ptr<std::atomic<qint64>> wallMs = std::make_shared<std::atomic<qint64>>(0);
    std::unique_ptr<Log> log;
    camera::ManualSource* source = nullptr;
    std::unique_ptr<CameraLink> link;
    std::shared_ptr<camera::VirtualCamera> camera;
    // Over PTP/IP, what the server serves in the camera's place when set (a hostile camera).
    std::shared_ptr<camera::Responder> responder;
    std::shared_ptr<camera::CameraDevice> device;
    std::unique_ptr<camera::PtpIpServer> server;

    std::vector<CameraLink::Phase> phases;
    int readies = 0;
    std::vector<std::optional<QString>> lost;
    std::vector<QString> saved;
    struct Failure {
        QString name;
        QString message;
        bool fromCamera = false;
    };
    std::vector<Failure> failed;
    int cardChanges = 0;
};

}  // namespace pexil::testing
