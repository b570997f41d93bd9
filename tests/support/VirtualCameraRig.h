#pragma once

// What the link, card and session harnesses share: a temporary folder, the virtual runtime,
// the diagnostic log, and the virtual camera reached through the real camera service, in
// process or over PTP/IP on loopback, plugged and unplugged through a ManualSource.
//
// In process, the camera has no thread of its own and its clock is the runtime's: its
// answers, its captures and its events all happen on the main queue as virtual time moves
// (waitFor), so nothing happens behind the virtual clock's back. Over PTP/IP it answers from
// the server's threads in real time, and waitFor is a bounded real-time wait for the sockets.
// The camera reads the computer's clock as the runtime's wall time of the last syncWall(),
// which every move of the virtual clock makes.
//
// Destruction comes after the harness has let go of what it built on the rig (link, model):
// the session is closed, the cable pulled and late answers drained while the runtime exists.
#include "app/base/Log.h"
#include "camera/ptpip/PtpIpServer.h"
#include "camera/sources/CameraSources.h"
#include "camera/virtual/VirtualCamera.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/async/VirtualRuntime.h"
#include "support/VirtualTime.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pexil::testing {

class VirtualCameraRig {
public:
    enum class Via { inProcess, ptpip };

    explicit VirtualCameraRig(Via via = Via::inProcess)
        : via(via),
          log(std::make_unique<Log>(dir.filePath(QStringLiteral("home")))),
          ownSource_(std::make_unique<camera::ManualSource>(rt)),
          source(ownSource_.get()) {
        bodyClock = bodyClockFollowing(rt, [this] { syncWall(); });
    }
    ~VirtualCameraRig() {
        if (device && device->hasOpenSession()) {
            bool closed = false;
            device->requestCloseSession([&](std::optional<TransportError>) { closed = true; });
            waitFor([&] { return closed; }, 5);
        }
        if (camera) camera->unplug();
        device.reset();
        // Late answers over PTP/IP.
        if (!onVirtualTime()) rt.waitUntil([] { return false; }, std::chrono::milliseconds(150));
        rt.runFor(async::Seconds{0});
        if (server) server->stop();
    }
    VirtualCameraRig(const VirtualCameraRig&) = delete;
    VirtualCameraRig& operator=(const VirtualCameraRig&) = delete;

    // The source to give the link; the rig goes on adding and removing its camera there.
    std::unique_ptr<camera::DeviceSource> takeSource() { return std::move(ownSource_); }

    QString cardDir() const { return dir.filePath(QStringLiteral("card")); }

    // A camera on the rig's card whose computer clock is the runtime's.
    camera::VirtualCamera::Options cameraOptions() {
        camera::VirtualCamera::Options options;
        options.cardDir = cardDir();
        options.wallClock = [wall = wallMs] {
            return QDateTime::fromMSecsSinceEpoch(wall->load(), Qt::UTC).toLocalTime();
        };
        if (onVirtualTime()) {
            runOnVirtualTime(options, rt, bodyClock);
        }
        return options;
    }

    bool onVirtualTime() const { return via == Via::inProcess && !cameraOnRealTime; }
    // Set before makeCamera() for a camera that paces its transfers (setBandwidth()): it
    // needs a thread of its own and real time, and waitFor then waits for it in real time.
    bool cameraOnRealTime = false;
    // Runs until `done`: in process on virtual time, straight to each next timer, for at most
    // `seconds` of it; over PTP/IP, for at most 20 s of real time (the sockets).
    bool waitFor(const std::function<bool()>& done, double seconds = 600) {
        if (onVirtualTime()) return rt.runUntil(done, async::Seconds(seconds));
        return rt.waitUntil(done, std::chrono::seconds(20));
    }
    void makeCamera(const camera::VirtualCamera::Options& options) {
        auto made = camera::VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        camera = made.value();
    }
    // Over PTP/IP a new server each time, serving `responder` in the camera's place when set.
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
    // The service notices the departure before the dead link: the order a removal has when
    // the cable is pulled between two transactions.
    void unplug() {
        source->remove(device);
        camera->unplug();
    }

    void syncWall() { wallMs->store(rt.clock().now().toMSecsSinceEpoch()); }

    // The log's lines without their time stamps.
    QStringList lines() const {
        log->flush();
        QFile file(log->path());
        if (!file.open(QIODevice::ReadOnly)) return {};
        QStringList out;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
            const auto at = line.indexOf(QStringLiteral("] "));
            out << (line.startsWith(u'[') && at > 0 ? line.mid(at + 2) : line);
        }
        return out;
    }

    Via via;
    QTemporaryDir dir;
    async::VirtualRuntime rt;
    std::shared_ptr<std::atomic<qint64>> wallMs = std::make_shared<std::atomic<qint64>>(0);
    std::shared_ptr<camera::ManualBodyClock> bodyClock;
    std::unique_ptr<Log> log;

private:
    std::unique_ptr<camera::ManualSource> ownSource_;

public:
    camera::ManualSource* source;
    std::shared_ptr<camera::VirtualCamera> camera;
    std::shared_ptr<camera::Responder> responder;
    std::shared_ptr<camera::CameraDevice> device;
    std::unique_ptr<camera::PtpIpServer> server;
};

}  // namespace pexil::testing
