#pragma once

// A filmstrip, the client view following it and its server, with pictures "saved by the
// camera" into a temporary folder: what the client view's tests stand on. The view's own
// work runs on the virtual runtime; only the sockets and external processes the tests talk to
// are waited for in real time, bounded.
#include "app/clientview/ClientShots.h"
#include "app/clientview/ClientViewServer.h"
#include "app/shots/ShotsModel.h"
#include "camera/virtual/PictureFactory.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/async/WorkQueue.h"
#include "tests/app/shots/SavedPicture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace pexil {

struct ClientViewRig {
    // The event loop (sockets, processes) and the runtime's ready work until `done`, for at
    // most `limit` of real time.
    bool pumpExternalUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                           std::chrono::milliseconds step = std::chrono::milliseconds(2)) {
        QElapsedTimer elapsed;
        elapsed.start();
        for (;;) {
            rt.runReady();
            if (done()) return true;
            if (elapsed.elapsed() > limit.count()) return false;
            QEventLoop loop;
            QTimer::singleShot(step, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }

    // A 2400×1600 JPEG as the camera saved it, added to the filmstrip; its id in the view
    // (made at once: the preview queue runs inline).
    QString shoot(int number) {
        const QString path = testing::savePicture(factory, QDir(folder.path()), number, 2400, 1600);
        const QUuid id = shots.add(path, rt.clock().now());
        rt.runReady();
        return id.toString(QUuid::Id128);
    }

    QTemporaryDir folder;
    camera::PictureFactory factory;
    async::VirtualRuntime rt;
    async::InlineExecutor decode;
    async::InlineExecutor previews;
    ShotsModel shots{rt, decode};
    ClientShots client{rt, previews, shots};
    ClientViewServer server{client};
};

}  // namespace pexil
