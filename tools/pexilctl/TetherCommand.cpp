#include "tools/pexilctl/TetherCommand.h"

#include "app/backup/BackupModel.h"
#include "app/base/Log.h"
#include "app/base/Preferences.h"
#include "app/capture/CaptureModel.h"
#include "app/clientview/ClientView.h"
#include "app/connection/CameraLink.h"
#include "app/connection/ConnectionModel.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/DestinationModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shots/ShotsModel.h"
#include "camera/sources/CameraSources.h"
#include "kit/async/NextSignal.h"
#include "kit/liveview/NikonLiveView.h"
#include "tools/pexilctl/EventLoop.h"
#include "tools/pexilctl/LineText.h"
#include "tools/pexilctl/StopSignals.h"
#include "tools/pexilctl/TetherRequest.h"
#include "tools/pexilctl/TetherSteps.h"
#include "tools/pexilctl/Waiter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <map>

namespace pexil::cli {

namespace {

QString phaseText(const CameraLink::Phase& phase) {
    using Kind = CameraLink::Phase::Kind;
    switch (phase.kind) {
        case Kind::closed: return QStringLiteral("closed");
        case Kind::searching: return QStringLiteral("searching");
        case Kind::detected: return QStringLiteral("detected ") + phase.name;
        case Kind::opening: return QStringLiteral("opening ") + phase.name;
        case Kind::preparing: return QStringLiteral("preparing ") + phase.name;
        case Kind::ready: return QStringLiteral("ready ") + phase.name;
        case Kind::reconnecting:
            return QStringLiteral("reconnecting ") + phase.name + QStringLiteral(" at ") +
                   phase.since.toString(QStringLiteral("HH:mm:ss"));
    }
    return {};
}

// One line per mirrored setting: "LABEL: TEXT", with " [locked]" where it cannot be changed.
std::map<PTP::Prop, QString> settingLines(const SessionModel& model) {
    std::map<PTP::Prop, QString> out;
    for (const auto& [prop, desc] : model.settings().props())
        out[prop] = PTP::label(prop) + QStringLiteral(": ") + desc.currentText() +
                    (model.settings().isWritable(prop) ? QString() : QStringLiteral(" [locked]"));
    return out;
}

async::Task<int> tether(async::Runtime& runtime, TetherRequest request, CommandIO io) {
    const auto address = camera::CameraAddress::parse(request.address);
    if (!address) {
        io.err << "pexilctl tether: " << address.error() << "\n";
        co_return exitUnreadable;
    }
    Log log;
    auto setup =
        camera::setUpCamera(runtime, address.value(), request.virtualOptions, log.writer(), request.ioTimeout);
    if (!setup) {
        io.err << "pexilctl tether: " << setup.error() << "\n";
        co_return exitFailed;
    }
    // The command line decides, not the application's preferences: the model gets a store
    // of its own for this run.
    QTemporaryDir scratch;
    auto settings = std::make_unique<QSettings>(scratch.filePath(QStringLiteral("tether.ini")),
                                                QSettings::IniFormat);
    Preferences prefs;
    if (!request.dest.isEmpty()) prefs.baseDestination = request.dest;
    prefs.sessionName = request.session;
    prefs.nameTemplate = request.nameTemplate;
    prefs.backupFolder = request.backup;
    prefs.deleteAfterDownload = request.deleteAfterDownload;
    prefs.autofocusBeforeShot = request.autofocus;
    prefs.write(*settings);
    SessionModel::Environment env;
    env.sources.push_back(std::move(setup.value().source));
    env.settings = std::move(settings);
    env.advertiseGeo = false;
    SessionModel model(runtime, log, std::move(env));
    CameraLink& link = model.link();
    // Every condition waited for below reads what these signals announce.
    Waiter waiter(request.stop);
    waiter.follow(&model.settings(), &CameraSettingsModel::propsChanged);
    for (auto signal : {&ConnectionModel::stateChanged, &ConnectionModel::deviceInfoChanged,
                        &ConnectionModel::clockOffsetChanged})
        waiter.follow(&model.connection(), signal);
    waiter.follow(&model, &SessionModel::lastErrorChanged);
    waiter.follow(&model.capture(), &CaptureModel::busyChanged);
    LiveViewModel& liveView = model.liveView();
    waiter.follow(&liveView, &LiveViewModel::stateChanged);
    waiter.follow(&liveView, &LiveViewModel::isLiveChanged);
    waiter.follow(&model.connection(), &ConnectionModel::sessionLost);
    waiter.follow(&model.capture(), &CaptureModel::releasedShotSaved);
    waiter.follow(&model, &SessionModel::transferFailed);
    waiter.follow(&link, &CameraLink::cardSettledNow);
    waiter.follow(&link, &CameraLink::downloadingChanged);
    waiter.follow(&model.backup(), &BackupModel::pendingChanged);

    int saved = 0, failed = 0;
    int unbacked = 0;  // saved pictures without their backup copy
    int made = 0;  // saved shots that this run's releases made
    bool lost = false;
    auto line = [io](const QString& text) mutable {
        io.out << text << "\n";
        io.out.flush();
    };
    QObject::connect(&model.connection(), &ConnectionModel::linkPhase,
                     [line](const CameraLink::Phase& phase) mutable {
                         line(QStringLiteral("phase: ") + phaseText(phase));
                     });
    QObject::connect(&model.connection(), &ConnectionModel::sessionLost,
                     [line, &lost](const std::optional<QString>& text) mutable {
                         lost = true;
                         line(QStringLiteral("lost: ") + lineSafe(text.value_or(QString())));
                     });
    QObject::connect(&model.capture(), &CaptureModel::releasedShotSaved,
                     [&made](const QString&) { ++made; });
    QObject::connect(&model, &SessionModel::shotSaved, [line, &saved](const QString& path) mutable {
        ++saved;
        line(QStringLiteral("saved: ") + lineSafe(path));
    });
    QObject::connect(&model.backup(), &BackupModel::copied,
                     [line, &unbacked](const QString& source, const QString& backup,
                                       const QString& reason) mutable {
                         if (!backup.isEmpty()) {
                             line(QStringLiteral("backup: ") + lineSafe(backup));
                             return;
                         }
                         ++unbacked;
                         line(QStringLiteral("backup-failed: ") + lineSafe(source) +
                              QStringLiteral(": ") + lineSafe(reason));
                     });
    // Every saved picture has its copy, or its failure said, before the run ends.
    std::function<bool()> backedUp = [&model] { return model.backup().pending() == 0; };
    QObject::connect(&model, &SessionModel::transferFailed,
                     [line, &failed](const QString& name, const QString& message) mutable {
                         ++failed;
                         line(QStringLiteral("failed: ") + lineSafe(name) + QStringLiteral(": ") +
                              lineSafe(message));
                     });
    // The record of imports keeps later imports from saving a picture twice: its trouble is
    // said where the user looks, not only in the log.
    auto ledgerTrouble = [io, &model]() mutable {
        if (!model.destination().ledgerProblem()) return;
        io.err << "pexilctl tether: " << *model.destination().ledgerProblem() << "\n";
        io.err.flush();
    };
    ledgerTrouble();
    QObject::connect(&model.destination(), &DestinationModel::ledgerProblemChanged, ledgerTrouble);
    // Every setting once, then each one again when its text or lock changes.
    std::map<PTP::Prop, QString> shownSettings;
    if (request.settings) {
        QObject::connect(&model.settings(), &CameraSettingsModel::propsChanged,
                         [&model, &shownSettings, line]() mutable {
                             for (const auto& [prop, text] : settingLines(model)) {
                                 if (shownSettings[prop] == text) continue;
                                 shownSettings[prop] = text;
                                 line(QStringLiteral("setting: ") + text);
                             }
                         });
    }
    // The client view serves the session's shots from the start of the run to its end.
    const async::Seconds runStarted = runtime.clock().monotonic();
    ClientView clientView(runtime, model.shots());
    clientView.setLog(log.writer());
    QObject::connect(&clientView, &ClientView::noteChanged, &model.shots(),
                     &ShotsModel::setClientNote);
    int watching = 0;
    QObject::connect(&clientView, &ClientView::watchersChanged,
                     [&clientView, &watching, line]() mutable {
                         if (clientView.watchers().size() == watching) return;
                         watching = static_cast<int>(clientView.watchers().size());
                         line(QStringLiteral("client-view-watchers: %1").arg(watching));
                     });
    QObject::connect(
        &clientView, &ClientView::noteChanged,
        [&model, line](const QUuid& id, bool favourite, const QString& comment) mutable {
            const Shot* shot = model.shots().shot(id);
            line(QStringLiteral("client-note: ") +
                 lineSafe(shot ? QFileInfo(shot->path).fileName() : QString()) +
                 (favourite ? QStringLiteral(" favourite") : QString()) +
                 (comment.isEmpty() ? QString() : QStringLiteral(" ") + lineSafe(comment)));
        });
    if (request.clientView) {
        const auto started =
            clientView.start(request.clientView->first, request.clientView->second);
        if (!started) {
            io.err << "pexilctl tether: " << started.error() << "\n";
            co_return exitFailed;
        }
        line(QStringLiteral("client-view: ") + started.value().toString());
    }
    model.connection().connectCamera();

    const bool focusWork = request.afAt || !request.drives.empty() || request.stackShots > 0;
    const bool work = request.shots > 0 || request.bracketShots > 0 || request.frames > 0 ||
                      request.card || focusWork || !request.assignments.isEmpty() ||
                      request.syncClock || request.releaseControl;
    if (!work) {
        // Tethering as the application does it: every fresh shot is saved until stopped.
        co_await waiter.pause(request.seconds);
        waiter.clearStop();
        co_await waiter.until(backedUp, 600);
        model.connection().disconnectCamera();
        co_await async::until(
            [&model] { return model.connection().state() == ConnectionState::disconnected(); },
            &model.connection(), &ConnectionModel::stateChanged, async::Seconds{10});
        co_return failed == 0 && unbacked == 0 ? exitOK : exitFailed;
    }

    int status = exitOK;
    // A camera that cannot be reached ends the run at once with the connection's own reason.
    std::optional<QString> lostReason;
    QObject::connect(&model.connection(), &ConnectionModel::sessionLost,
                     [&lostReason](const std::optional<QString>& text) {
                         if (!lostReason)
                             lostReason =
                                 text.value_or(QString::fromUtf8("カメラとの接続が終わりました"));
                     });
    std::function<bool()> prepared = [&model, &lostReason] {
        return lostReason || (model.connection().state().is(ConnectionState::Kind::connected) &&
                              !model.settings().props().empty());
    };
    const bool ready =
        co_await waiter.until(std::move(prepared), request.seconds < 0 ? 60 : request.seconds);
    if (!ready || lostReason) {
        io.err << "pexilctl tether: カメラの準備ができません（" << request.address << "）";
        if (lostReason) io.err << ": " << *lostReason;
        io.err << "\n";
        model.connection().disconnectCamera();
        co_return exitFailed;
    }

    if (request.card) {
        std::function<bool()> settled = [&link] { return link.cardSettled(); };
        co_await waiter.until(std::move(settled), 600);
        line(QStringLiteral("card: %1 files settled (counted %2)")
                 .arg(link.cardFiles().size())
                 .arg(link.cardExpected() ? QString::number(*link.cardExpected()) : QStringLiteral("?")));
        for (const auto& [key, file] : link.cardFiles()) line(key.startsWith(u'/') ? key.mid(1) : key);
    }

    for (const QString& assignment : request.assignments) {
        const auto refused = co_await applySetting(model, waiter, assignment);
        line(QStringLiteral("set: ") + assignment + (refused ? QStringLiteral(": ") + *refused : QString()));
        if (refused) status = exitFailed;
    }
    if (request.syncClock) {
        model.clearLastError();
        model.connection().syncClock();
        std::function<bool()> synced = [&model] {
            return model.connection().clockOffset() == 0.0 || model.lastError();
        };
        co_await waiter.until(std::move(synced), 30);
        line(QStringLiteral("clock: ") + model.lastError().value_or(QStringLiteral("OK")));
        if (model.lastError()) status = exitFailed;
    }

    int frames = 0;
    std::chrono::steady_clock::time_point firstFrame;
    bool live = false;
    if (request.frames > 0 || focusWork) {
        if (!liveView.available()) {
            line(QStringLiteral("liveview: このカメラではライブビューを使えません"));
            status = exitFailed;
        } else {
            liveView.onFrameBytes = [&frames, &firstFrame, &request, &waiter,
                                     line](ByteView jpeg) mutable {
                if (frames++ == 0) firstFrame = std::chrono::steady_clock::now();
                waiter.poke();
                if (request.framesDir.isEmpty() || frames > request.frames) return;
                QSaveFile file(QDir(request.framesDir).filePath(QStringLiteral("frame-%1.jpg").arg(frames, 4, 10, QChar(u'0'))));
                if (!file.open(QIODevice::WriteOnly) ||
                    file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size())) !=
                        static_cast<qint64>(jpeg.size()) ||
                    !file.commit())
                    line(QStringLiteral("liveview: コマを書き出せません: ") + file.fileName());
            };
            model.clearLastError();
            model.toggleLiveView();
            std::function<bool()> started = [&model, &liveView] {
                return liveView.state() == NikonLiveView::State::on || model.lastError() ||
                       !liveView.available();
            };
            co_await waiter.until(std::move(started), 60);
            live = liveView.state() == NikonLiveView::State::on;
            if (!live) {
                line(QStringLiteral("liveview: ") + model.lastError().value_or(QStringLiteral("?")));
                status = exitFailed;
            }
        }
    }
    if (live && focusWork) {
        const bool focused = co_await focusFromLiveView(liveView, waiter, request, line);
        if (!focused) status = exitFailed;
    }
    if (live && request.stackShots > 0) {
        const bool stacked = co_await focusStack(model, waiter, request, line);
        if (!stacked) status = exitFailed;
    }

    if (request.interval > 0 && request.shots > 0) {
        const bool timed = co_await intervalSeries(model, waiter, request, line);
        if (!timed) status = exitFailed;
    }
    if (request.bracketShots > 0) {
        const bool bracketed = co_await bracketSeries(model, waiter, request, line);
        if (!bracketed) status = exitFailed;
    }
    for (int i = 0; request.interval <= 0 && i < request.shots && !lost; ++i) {
        model.clearLastError();
        model.capture().shoot();
        std::function<bool()> idle = [&model] { return !model.capture().busy(); };
        co_await waiter.until(std::move(idle), 300);
        const auto problem = model.lastError();
        line(problem ? QStringLiteral("shot: ") + *problem : QStringLiteral("shot: OK"));
        if (problem) status = exitFailed;
    }
    if (request.shots > 0) {
        // Done when each release's own picture is saved: a picture already on the card that
        // looked fresh is saved too, but is not what was asked for.
        std::function<bool()> allSaved = [&] { return made + failed >= request.shots || lost; };
        const bool all = co_await waiter.until(std::move(allSaved), 60);
        if (!all || failed > 0 || made < request.shots) status = exitFailed;
    }

    if (live) {
        const int wanted = request.frames;  // none: live view ran for focusing only
        std::function<bool()> enough = [&frames, wanted] { return frames >= wanted; };
        co_await waiter.until(std::move(enough), 120);
        const double seconds =
            frames > 0 ? std::chrono::duration<double>(std::chrono::steady_clock::now() - firstFrame).count() : 0;
        model.toggleLiveView();
        std::function<bool()> stopped = [&liveView] { return !liveView.isLive(); };
        co_await waiter.until(std::move(stopped), 30);
        liveView.onFrameBytes = nullptr;
        if (wanted > 0)
            line(QStringLiteral("liveview: %1 frames in %2 s (%3 fps)")
                     .arg(frames)
                     .arg(seconds, 0, 'f', 1)
                     .arg(seconds > 0 ? (frames - 1) / seconds : 0.0, 0, 'f', 1));
        if (frames < wanted) status = exitFailed;
    }
    if (request.releaseControl) {
        model.clearLastError();
        model.connection().releaseCameraControl();
        std::function<bool()> answered = [&model] { return model.lastError().has_value(); };
        co_await waiter.until(std::move(answered), 2);
        line(QStringLiteral("release: ") + model.lastError().value_or(QStringLiteral("OK")));
        if (model.lastError()) status = exitFailed;
    }
    if (lost) status = exitFailed;
    std::function<bool()> transferred = [&link] { return link.downloading() == 0; };
    co_await waiter.until(std::move(transferred), 10);
    co_await waiter.until(backedUp, 600);
    // The client view keeps showing the session after the work, until --for (counted from
    // the start of the run) ends or Ctrl+C.
    if (clientView.running()) {
        const double spent = (runtime.clock().monotonic() - runStarted).count();
        co_await waiter.pause(request.seconds < 0 ? -1 : std::max(0.0, request.seconds - spent));
        waiter.clearStop();
    }
    clientView.stop();
    if (unbacked > 0) status = exitFailed;
    model.connection().disconnectCamera();
    co_await async::until(
        [&model] { return model.connection().state() == ConnectionState::disconnected(); },
        &model.connection(), &ConnectionModel::stateChanged, async::Seconds{10});
    co_return status;
}

}  // namespace

QString tetherHelp() {
    return QStringLiteral(
        "usage: pexilctl tether [--camera ADDRESS [--io-timeout SECONDS]] [--dest DIR] "
        "[--delete-after-download]\n"
        "                       [--session NAME] [--name TEMPLATE] [--backup DIR]\n"
        "                       [--shoot N [--af] [--interval SECONDS [--delay SECONDS]]]\n"
        "                       [--bracket N [--step 1/3|1/2|1] [--af]]\n"
        "                       [--liveview FRAMES [--frames-dir DIR]] "
        "[--card]\n"
        "                       [--settings] [--set LABEL=TEXT]... [--sync-clock] "
        "[--release-control]\n"
        "                       [--af-at X,Y] [--mf-drive near|far:STEPS]...\n"
        "                       [--focus-stack N --focus-step STEPS [--af]] [--for SECONDS]\n"
        "                       [--client-view ADDRESS:PORT]\n"
        "\n"
        "Headless tethering on the same session model as the application (the diagnostic\n"
        "log goes to ~/.local/state/Pexil/Pexil.log). One line per event:\n"
        "  phase: searching|detected NAME|opening NAME|preparing NAME|ready NAME|closed\n"
        "  lost: TEXT                        the session ended without being asked to\n"
        "  saved: PATH                       a fresh shot is in the destination\n"
        "  failed: NAME: MESSAGE             a fresh shot could not be saved\n"
        "  backup: PATH                      with --backup: its copy is written and verified\n"
        "  backup-failed: PATH: MESSAGE      with --backup: it has no copy\n"
        "  card: N files settled (counted M) with --card, then one line per file FOLDER/NAME\n"
        "  liveview: N frames in S s (F fps) with --liveview (frames written to --frames-dir)\n"
        "  shot: OK | shot: TEXT             per release (inside live view's pause when it runs)\n"
        "  shot: OK HH:mm:ss.zzz             with --interval: per release, its time\n"
        "  interval: SUMMARY                 with --interval: how the series ended\n"
        "  shot: OK OFFSET                   with --bracket: per shot, its offset (\"−1/3 EV\")\n"
        "  bracket: SUMMARY                  with --bracket: how the bracket ended\n"
        "  setting: LABEL: TEXT [locked]     with --settings: every mirrored setting, again on "
        "changes\n"
        "  set: LABEL=TEXT[: REASON]         per --set, as the inspector would choose it\n"
        "  clock: OK | clock: TEXT           with --sync-clock: the camera's clock set to the "
        "computer's\n"
        "  release: OK | release: TEXT       with --release-control: the body's own controls "
        "handed back\n"
        "  af-area: X,Y OK|TEXT              with --af-at: the AF area moved to X,Y (fractions of "
        "the\n"
        "                                    live picture, 0 to 1, left to right and top to "
        "bottom)\n"
        "  mf: near|far:STEPS OK|TEXT        per --mf-drive: the lens driven (STEPS 1 to 32767)\n"
        "  focus-stack: SUMMARY              with --focus-stack: N shots, the lens driven STEPS "
        "towards far\n"
        "                                    between them (negative: towards near); --af focuses "
        "once\n"
        "                                    first; it stops at the lens's end or on Ctrl+C\n"
        "--af-at, --mf-drive and --focus-stack run in live view, started for them when --liveview\n"
        "is not given.\n"
        "\n"
        "--client-view ADDRESS:PORT shows the session's shots to browsers on the network (port\n"
        "0: a free one): it prints client-view: URL (the URL carries the view's access token),\n"
        "client-view-watchers: N as clients come and go, client-note: NAME [favourite] COMMENT\n"
        "for what they say, and keeps serving after the work until --for ends or Ctrl+C.\n"
        "Without --shoot, --liveview or --card it runs until interrupted (or --for SECONDS),\n"
        "saving every fresh shot. With them it exits once the work is done and every shot it\n"
        "caused is saved: 0 if all went well, 1 otherwise; 2 for a wrong command line.\n"
        "--io-timeout SECONDS (1 to 3600, default 20): a camera transaction without progress\n"
        "for this long loses the camera (lost:); over PTP/IP a silent camera is probed first.\n"
        "--camera virtual takes the options of pexilctl vcam, with --card-dir DIR for the\n"
        "virtual camera's card folder (--card is tether's own flag).\n"
        "Default destination: the pictures folder + /Pexil; --session NAME saves into its\n"
        "folder NAME under it. --name TEMPLATE names the pictures: {session}, {date}\n"
        "(yyyyMMdd), {time} (HHmmss), {counter} or {counter:N} (N digits; the counter\n"
        "continues in the folder), {name} and {number} (the camera's name and its digits),\n"
        "{model}; the camera's extension is kept. Without it pictures keep the camera's names.\n"
        "--interval SECONDS spaces the --shoot releases (at least 1 s), after --delay SECONDS;\n"
        "a release waits while the camera's buffer is full.\n"
        "--bracket N (3, 5, 7 or 9) shoots around the current exposure by --step EV (default\n"
        "1/3): through the shutter speed in manual exposure, the exposure compensation\n"
        "otherwise; the setting is put back afterwards.\n"
        "--backup DIR copies every saved picture into DIR (an existing folder, on another\n"
        "disk), in the same folders as below the destination, verified by reading it back.\n");
}

int runTether(const QStringList& arguments, CommandIO io) {
    QStringList args = arguments;
    if (printedHelp(args, io, tetherHelp())) return exitOK;
    auto parsed = parseTetherRequest(std::move(args), io);
    if (!parsed) return exitUnreadable;
    TetherRequest request = std::move(*parsed);
    // SIGINT and SIGTERM stay blocked for the whole run; the waits pick them up between
    // steps, and one that stopped the run is swallowed rather than delivered afterwards.
    StopSignals stopSignals;
    request.stop = &stopSignals;
    const int status = runOnEventLoop(io, [&request, io](async::Runtime& runtime) {
        return tether(runtime, std::move(request), io);
    });
    return status;
}

}  // namespace pexil::cli
