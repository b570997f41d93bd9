#pragma once

// A CameraLink wired to the virtual camera through the real camera service, on the
// virtual clock: waitUntil runs until something holds (see VirtualCameraRig::waitFor).
#include "app/connection/CameraLink.h"
#include "support/VirtualCameraRig.h"

#include <QDir>
#include <QDirIterator>

#include <optional>
#include <vector>

namespace pexil::testing {

class LinkHarness : public VirtualCameraRig {
public:
    // The USB watcher (real udev: only under umockdev) shows what is plugged in before the
    // service reports it.
    enum class Usb { none, watched };

    // How the service reaches the camera: its in-process transport, or PTP/IP over loopback
    // to a server in front of it.
    explicit LinkHarness(Via via = Via::inProcess, Usb usb = Usb::none) : VirtualCameraRig(via) {
        std::vector<std::unique_ptr<camera::DeviceSource>> sources;
        sources.push_back(takeSource());
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
    // First, while the records its last signals reach still exist.
    ~LinkHarness() { link.reset(); }

    // A camera on the harness's card (kept across replugs), `drift` seconds ahead of us.
    void makeCamera(int photos = 0, double drift = 0) {
        auto options = cameraOptions();
        options.photos = photos;
        options.clockDriftSeconds = drift;
        VirtualCameraRig::makeCamera(options);
    }

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
    bool waitUntil(const std::function<bool()>& done) { return waitFor(done); }
    // Lets late camera answers arrive, without moving time.
    void drain() {
        if (!onVirtualTime()) rt.waitUntil([] { return false; }, std::chrono::milliseconds(150));
        rt.runFor(async::Seconds{0});
    }

    bool isReady() const { return link->phase().kind == CameraLink::Phase::Kind::ready; }
    bool catalogued(std::size_t files) const {
        return link->cardFiles().size() == files && hasLine("一覧の完了通知");
    }
    void openAndWaitReady(std::size_t files) {
        link->open();
        ASSERT_TRUE(waitUntil([&] { return isReady() && catalogued(files); }));
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

    std::unique_ptr<CameraLink> link;

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
