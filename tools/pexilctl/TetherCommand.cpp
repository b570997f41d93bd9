#include "tools/pexilctl/TetherCommand.h"

#include "app/connection/CameraLink.h"
#include "app/session/Log.h"
#include "app/session/Preferences.h"
#include "camera/service/CameraSources.h"
#include "kit/async/Executor.h"
#include "kit/async/Sleep.h"
#include "kit/liveview/NikonLiveView.h"
#include "tools/pexilctl/EventLoop.h"
#include "tools/pexilctl/StopSignals.h"
#include "tools/pexilctl/VirtualCameraOptions.h"

#include <QDir>
#include <QEventLoop>
#include <QSaveFile>

#include <csignal>
#include <pthread.h>

namespace pexil::cli {

namespace {

struct Request {
    QString address = QStringLiteral("usb");
    QString dest;
    bool deleteAfterDownload = false;
    int shots = 0;
    bool autofocus = false;
    int frames = 0;
    QString framesDir;
    bool card = false;
    double seconds = -1;
    camera::VirtualCamera::Options virtualOptions;
};

QString phaseText(const CameraLink::Phase& phase) {
    using Kind = CameraLink::Phase::Kind;
    switch (phase.kind) {
        case Kind::closed: return QStringLiteral("closed");
        case Kind::searching: return QStringLiteral("searching");
        case Kind::detected: return QStringLiteral("detected ") + phase.name;
        case Kind::opening: return QStringLiteral("opening ") + phase.name;
        case Kind::preparing: return QStringLiteral("preparing ") + phase.name;
        case Kind::ready: return QStringLiteral("ready ") + phase.name;
    }
    return {};
}

// Some Nikon bodies queue their events, new pictures included, for CheckEvent and send
// nothing on the event channel; the application's session polls it, and so does tether:
// twice a second while a camera is ready and nothing downloads. A body that answers
// "not supported" is not asked again.
async::Task<void> pollCheckEvent(const std::shared_ptr<PTPCamera>& current, const CameraLink& link) {
    for (;;) {
        co_await async::sleep(0.5);
        const std::shared_ptr<PTPCamera> cam = current;
        if (!cam || link.downloading() > 0 || !PTPCamera::isNikon()) continue;
        if (cam->capabilities() && cam->capabilities()->isNikon1) continue;
        const auto events = co_await cam->checkEvent();
        if (!events && responseCodeOf(events.error()) == std::optional<std::uint16_t>(0x2005)) co_return;
    }
}

async::Task<int> tether(async::Runtime& runtime, Request request, CommandIO io) {
    const auto address = camera::CameraAddress::parse(request.address);
    if (!address) {
        io.err << "pexilctl tether: " << address.error() << "\n";
        co_return exitUnreadable;
    }
    Log log;
    auto setup = camera::setUpCamera(runtime, address.value(), request.virtualOptions, log.writer());
    if (!setup) {
        io.err << "pexilctl tether: " << setup.error() << "\n";
        co_return exitFailed;
    }
    std::vector<std::unique_ptr<camera::DeviceSource>> sources;
    sources.push_back(std::move(setup.value().source));
    CameraLink link(runtime, log, std::move(sources), nullptr);
    link.destination = request.dest.isEmpty() ? Preferences::defaultBaseDestination() : request.dest;
    link.deleteAfterDownload = request.deleteAfterDownload;

    std::shared_ptr<PTPCamera> cam;
    int saved = 0, failed = 0;
    bool lost = false;
    auto line = [io](const QString& text) mutable {
        io.out << text << "\n";
        io.out.flush();
    };
    link.onPhase = [line](const CameraLink::Phase& phase) mutable { line(QStringLiteral("phase: ") + phaseText(phase)); };
    link.onReady = [&cam](const std::shared_ptr<PTPCamera>& c) { cam = c; };
    link.onLost = [line, &lost, &cam](const std::optional<QString>& text) mutable {
        lost = true;
        cam.reset();
        line(QStringLiteral("lost: ") + text.value_or(QString()));
    };
    link.onFileSaved = [line, &saved](const QString& path, const auto&) mutable {
        ++saved;
        line(QStringLiteral("saved: ") + path);
    };
    link.onDownloadFailed = [line, &failed](const QString& name, const QString& message) mutable {
        ++failed;
        line(QStringLiteral("failed: ") + name + QStringLiteral(": ") + message);
    };
    link.open();
    async::Scope polling(runtime);
    polling.spawn(pollCheckEvent(cam, link));

    const bool work = request.shots > 0 || request.frames > 0 || request.card;
    if (!work) {
        // Tethering as the application does it: every fresh shot is saved until stopped.
        co_await pollUntil([] { return false; }, request.seconds);
        link.close();
        co_return failed == 0 ? exitOK : exitFailed;
    }

    int status = exitOK;
    const bool ready = co_await pollUntil([&cam] { return cam != nullptr; }, request.seconds < 0 ? 60 : request.seconds);
    if (!ready) {
        io.err << "pexilctl tether: カメラの準備ができません（" << request.address << "）\n";
        link.close();
        co_return exitFailed;
    }

    if (request.card) {
        co_await pollUntil([&link] { return link.cardSettled(); }, 600);
        line(QStringLiteral("card: %1 files settled (counted %2)")
                 .arg(link.cardFiles().size())
                 .arg(link.cardExpected() ? QString::number(*link.cardExpected()) : QStringLiteral("?")));
        for (const auto& [key, file] : link.cardFiles()) line(key.startsWith(u'/') ? key.mid(1) : key);
    }

    std::unique_ptr<NikonLiveView> liveView;
    int frames = 0;
    std::chrono::steady_clock::time_point firstFrame;
    if (request.frames > 0 && cam) {
        if (!PTPCamera::isNikon() || (cam->capabilities() && cam->capabilities()->isNikon1)) {
            line(QStringLiteral("liveview: このカメラではライブビューを使えません"));
            status = exitFailed;
        } else {
            const QString identifier = cam->info() ? cam->info()->model + u'-' + cam->info()->serialNumber : QString();
            liveView = std::make_unique<NikonLiveView>(*cam, identifier, log.writer());
            liveView->onFrame = [&frames, &firstFrame, &request, line](ByteView jpeg) mutable {
                if (frames++ == 0) firstFrame = std::chrono::steady_clock::now();
                if (request.framesDir.isEmpty() || frames > request.frames) return;
                QSaveFile file(QDir(request.framesDir).filePath(QStringLiteral("frame-%1.jpg").arg(frames, 4, 10, QChar(u'0'))));
                if (!file.open(QIODevice::WriteOnly) ||
                    file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size())) !=
                        static_cast<qint64>(jpeg.size()) ||
                    !file.commit())
                    line(QStringLiteral("liveview: コマを書き出せません: ") + file.fileName());
            };
            const auto refused = co_await liveView->start();
            if (refused) {
                line(QStringLiteral("liveview: ") + *refused);
                status = exitFailed;
                liveView.reset();
            }
        }
    }

    for (int i = 0; i < request.shots && cam && !lost; ++i) {
        std::shared_ptr<PTPCamera> shooter = cam;
        if (request.autofocus) {
            const auto focused = co_await shooter->autofocus();
            if (focused == false) line(QStringLiteral("shot: ピントが合いませんでした"));
        }
        std::optional<QString> problem;
        if (liveView && liveView->isActive()) {
            const int before = saved;
            auto body = [shooter, &problem]() -> async::Task<bool> {
                auto released = co_await shooter->releaseShutter();
                if (!released) problem = describe(released.error());
                co_return released.ok();
            };
            auto abandoned = co_await liveView->whileSuspended([&saved] { return saved; }, 10, std::move(body));
            if (abandoned) problem = abandoned;
            (void)before;
        } else {
            auto released = co_await shooter->releaseShutter();
            if (!released) problem = describe(released.error());
        }
        line(problem ? QStringLiteral("shot: ") + *problem : QStringLiteral("shot: OK"));
        if (problem) status = exitFailed;
    }
    if (request.shots > 0) {
        const bool all = co_await pollUntil([&] { return saved + failed >= request.shots || lost; }, 60);
        if (!all || failed > 0 || saved < request.shots) status = exitFailed;
    }

    if (liveView) {
        const int wanted = request.frames;
        co_await pollUntil([&frames, wanted] { return frames >= wanted; }, 120);
        const double seconds =
            frames > 0 ? std::chrono::duration<double>(std::chrono::steady_clock::now() - firstFrame).count() : 0;
        co_await liveView->stop(QStringLiteral("pexilctl tether"));
        line(QStringLiteral("liveview: %1 frames in %2 s (%3 fps)")
                 .arg(frames)
                 .arg(seconds, 0, 'f', 1)
                 .arg(seconds > 0 ? (frames - 1) / seconds : 0.0, 0, 'f', 1));
        if (frames < wanted) status = exitFailed;
    }
    if (lost) status = exitFailed;
    link.close();
    co_await pollUntil([&link] { return link.downloading() == 0; }, 10);
    co_return status;
}

std::optional<int> intValue(QStringList& args, const QString& name, CommandIO io, int fallback) {
    const auto text = takeValue(args, name, io);
    if (!text) return std::nullopt;
    if (text->isEmpty()) return fallback;
    bool ok = false;
    const int value = text->toInt(&ok);
    if (!ok || value < 0) {
        io.err << "pexilctl tether: " << name << " の値が正しくありません: " << *text << "\n";
        return std::nullopt;
    }
    return value;
}

}  // namespace

QString tetherHelp() {
    return QStringLiteral(
        "usage: pexilctl tether [--camera ADDRESS] [--dest DIR] [--delete-after-download]\n"
        "                       [--shoot N [--af]] [--liveview FRAMES [--frames-dir DIR]] [--card]\n"
        "                       [--for SECONDS]\n"
        "\n"
        "Headless tethering through the same camera link as the application (the diagnostic\n"
        "log goes to ~/Library/Logs/Pexil.log). One line per event:\n"
        "  phase: searching|detected NAME|opening NAME|preparing NAME|ready NAME|closed\n"
        "  lost: TEXT                        the session ended without being asked to\n"
        "  saved: PATH                       a fresh shot is in the destination\n"
        "  failed: NAME: MESSAGE             a fresh shot could not be saved\n"
        "  card: N files settled (counted M) with --card, then one line per file FOLDER/NAME\n"
        "  liveview: N frames in S s (F fps) with --liveview (frames written to --frames-dir)\n"
        "  shot: OK | shot: TEXT             per release (inside live view's pause when it runs)\n"
        "\n"
        "Without --shoot, --liveview or --card it runs until interrupted (or --for SECONDS),\n"
        "saving every fresh shot. With them it exits once the work is done and every shot it\n"
        "caused is saved: 0 if all went well, 1 otherwise; 2 for a wrong command line.\n"
        "--camera virtual takes the options of pexilctl vcam, with --card-dir DIR for the\n"
        "virtual camera's card folder (--card is tether's own flag).\n"
        "Default destination: the pictures folder + /Pexil.\n");
}

int runTether(const QStringList& arguments, CommandIO io) {
    QStringList args = arguments;
    if (printedHelp(args, io, tetherHelp())) return exitOK;
    Request request;
    // --card is a flag here; the virtual camera's card folder is --card-dir.
    request.card = args.removeAll(QStringLiteral("--card")) > 0;
    const qsizetype cardDir = args.indexOf(QStringLiteral("--card-dir"));
    if (cardDir >= 0) args[cardDir] = QStringLiteral("--card");
    request.deleteAfterDownload = args.removeAll(QStringLiteral("--delete-after-download")) > 0;
    request.autofocus = args.removeAll(QStringLiteral("--af")) > 0;
    const auto address = takeValue(args, QStringLiteral("--camera"), io);
    const auto dest = takeValue(args, QStringLiteral("--dest"), io);
    const auto framesDir = takeValue(args, QStringLiteral("--frames-dir"), io);
    const auto shots = intValue(args, QStringLiteral("--shoot"), io, 0);
    const auto frames = intValue(args, QStringLiteral("--liveview"), io, 0);
    const auto seconds = takeSeconds(args, QStringLiteral("--for"), io, QStringLiteral("tether"));
    const auto virtualOptions = takeVirtualOptions(args, io);
    if (!address || !dest || !framesDir || !shots || !frames || !seconds || !virtualOptions) return exitUnreadable;
    if (!args.isEmpty()) {
        io.err << "pexilctl tether: 知らない引数です: " << args.join(u' ') << "\n";
        return exitUnreadable;
    }
    if (!address->isEmpty()) request.address = *address;
    request.dest = *dest;
    request.framesDir = *framesDir;
    request.shots = *shots;
    request.frames = *frames;
    request.virtualOptions = *virtualOptions;
    request.seconds = *seconds;
    if (!request.framesDir.isEmpty() && !QDir().mkpath(request.framesDir)) {
        io.err << "pexilctl tether: フォルダを作れません: " << request.framesDir << "\n";
        return exitUnreadable;
    }

    // SIGINT and SIGTERM stay blocked for the whole run; the waits pick them up between
    // steps, and one that stopped the run is swallowed rather than delivered afterwards.
    StopSignals stopSignals;
    const int status = runOnEventLoop(io, [&request, io](async::Runtime& runtime) {
        return tether(runtime, std::move(request), io);
    });
    return status;
}

}  // namespace pexil::cli
