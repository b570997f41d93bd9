#include "tools/pexilctl/TetherCommand.h"

#include "app/backup/BackupModel.h"
#include "app/base/Log.h"
#include "app/base/Preferences.h"
#include "app/capture/CaptureModel.h"
#include "app/capture/ExposureBracket.h"
#include "app/capture/Intervalometer.h"
#include "app/capture/SeriesCamera.h"
#include "app/clientview/ClientView.h"
#include "app/connection/CameraLink.h"
#include "app/connection/ConnectionModel.h"
#include "app/liveview/FocusStack.h"
#include "app/liveview/LiveViewModel.h"
#include "app/naming/NameTemplate.h"
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
#include "tools/pexilctl/VirtualCameraOptions.h"
#include "tools/pexilctl/Waiter.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointF>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <map>

namespace pexil::cli {

namespace {

struct Request {
    QString address = QStringLiteral("usb");
    QString dest;
    QString session;       // a folder under the destination and the names' {session}
    QString nameTemplate;  // how pictures are named; empty: the camera's names
    QString backup;        // a second folder every saved picture is copied into
    bool deleteAfterDownload = false;
    int shots = 0;
    double interval = 0;  // --interval: seconds between the --shoot releases; 0: back to back
    double delay = 0;     // --delay: seconds before the first of them
    bool autofocus = false;
    int frames = 0;
    QString framesDir;
    bool card = false;
    double seconds = -1;
    bool settings = false;
    QStringList assignments;  // LABEL=TEXT
    bool syncClock = false;
    bool releaseControl = false;
    std::optional<QPointF> afAt;  // fractions of the live picture
    struct Drive {
        PTPCamera::FocusDirection direction;
        int steps;
        QString text;  // as given, for the result line
    };
    std::vector<Drive> drives;
    int bracketShots = 0;          // --bracket: shots around the metered exposure
    double bracketStep = 1.0 / 3;  // --step: EV between them
    int stackShots = 0;  // --focus-stack: shots stepping the focus
    int stackStep = 0;   // --focus-step: drive steps between them, negative towards near
    // --client-view: where the client view serves the session's shots; none: off.
    std::optional<std::pair<QHostAddress, quint16>> clientView;
    camera::VirtualCamera::Options virtualOptions;
    std::chrono::milliseconds ioTimeout = camera::defaultIoTimeout;
    // Ctrl+C and SIGTERM, taken for the whole run; may be null.
    const StopSignals* stop = nullptr;
};

// "ADDRESS:PORT" for --client-view: an IPv4 address or a bracketed IPv6 one, port 0 for a
// free one.
Result<std::pair<QHostAddress, quint16>, QString> parseClientViewAddress(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    const QHostAddress address(host);
    if (colon <= 0 || !ok || port > 65535 || address.isNull())
        return QString::fromUtf8(
                   "--client-view には「アドレス:ポート」を指定してください（例 "
                   "192.168.1.20:8080、ポート 0 で空いているもの）: ") +
               text;
    return std::pair(address, static_cast<quint16>(port));
}

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

// Applies one "LABEL=TEXT" through the model as the inspector would; the model's error text
// when the camera refuses, or when there is no such setting or choice.
async::Task<std::optional<QString>> applySetting(SessionModel& model, Waiter& waiter,
                                                 QString assignment) {
    const qsizetype eq = assignment.indexOf(u'=');
    const QString label = assignment.left(eq).trimmed();
    const QString text = assignment.mid(eq + 1).trimmed();
    for (const auto& [prop, desc] : model.settings().props()) {
        if (PTP::label(prop) != label) continue;
        if (!model.settings().isWritable(prop))
            co_return label + QString::fromUtf8(" は変更できません");
        if (!desc.choiceTexts().contains(text))
            co_return label + QString::fromUtf8(" に「") + text + QString::fromUtf8("」はありません");
        model.clearLastError();
        model.settings().setText(prop, text);
        const PTP::Prop wanted = prop;
        // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
        std::function<bool()> taken = [&model, wanted, &text] {
            return model.settings().text(wanted) == text || model.lastError().has_value();
        };
        co_await waiter.until(std::move(taken), 30);
        if (model.lastError()) co_return *model.lastError();
        co_return std::nullopt;
    }
    co_return QString::fromUtf8("そのような設定はありません: ") + label;
}

// --af-at and --mf-drive, once live view runs: one result line each. False when one failed.
async::Task<bool> focusFromLiveView(LiveViewModel& liveView, Waiter& waiter, const Request& request,
                                    std::function<void(const QString&)> line) {
    bool allWell = true;
    if (request.afAt) {
        // The picture's geometry comes with the first frame's header.
        std::function<bool()> placed = [&liveView] { return liveView.header().has_value(); };
        co_await waiter.until(std::move(placed), 10);
        const QPointF at = *request.afAt;
        const auto failure = co_await liveView.moveAfArea(at);
        line(QStringLiteral("af-area: %1,%2 ").arg(at.x()).arg(at.y()) +
             lineSafe(failure.value_or(QStringLiteral("OK"))));
        allWell = allWell && !failure;
    }
    for (const Request::Drive& drive : request.drives) {
        const auto failure = co_await liveView.driveFocus(drive.direction, drive.steps);
        line(QStringLiteral("mf: ") + drive.text + QStringLiteral(" ") +
             lineSafe(failure.value_or(QStringLiteral("OK"))));
        allWell = allWell && !failure;
    }
    co_return allWell;
}

// Starts a series and waits for it to end, Ctrl+C cancelling it after the shot in progress,
// then says "PREFIX: SUMMARY". True when it took `wanted` shots. The end is listened for
// before the start: a series refused at once ends inside start().
template <class Series>
async::Task<bool> runSeries(Series& series, std::function<void()> start, Waiter& waiter, int wanted,
                            QString prefix, std::function<void(const QString&)> line) {
    std::optional<QString> summary;
    QObject::connect(&series, &Series::finished, [&summary, &waiter](const QString& text) {
        summary = text;
        waiter.poke();
    });
    start();
    std::function<bool()> ended = [&summary] { return summary.has_value(); };
    const bool done = co_await waiter.until(ended, -1);
    if (!done && waiter.stopRequested()) {
        series.cancel();
        waiter.clearStop();
        co_await waiter.until(ended, -1);
    }
    line(prefix + QStringLiteral(": ") + lineSafe(summary.value_or(QStringLiteral("?"))));
    co_return series.taken() == wanted;
}

// --focus-stack: the shots of the stack, then "focus-stack: SUMMARY". Ctrl+C stops it after
// the shot in progress. False unless every shot asked for was taken.
async::Task<bool> focusStack(SessionModel& model, Waiter& waiter, const Request& request,
                             std::function<void(const QString&)> line) {
    LiveViewModel& liveView = model.liveView();
    FocusStack stack(
        liveView, [&model] { return model.capture().shootAndWait(false); },
        [&liveView] { return liveView.autofocus(); });
    FocusStack::Plan plan;
    plan.shots = request.stackShots;
    plan.step = std::abs(request.stackStep);
    plan.direction =
        request.stackStep < 0 ? PTPCamera::FocusDirection::near : PTPCamera::FocusDirection::far;
    plan.autofocusFirst = request.autofocus;
    std::function<void()> start = [&stack, plan] { stack.start(plan); };
    const bool taken = co_await runSeries(stack, std::move(start), waiter, request.stackShots,
                                          QStringLiteral("focus-stack"), std::move(line));
    co_return taken;
}

// --interval: the --shoot releases spaced on the clock, "shot: OK HH:mm:ss" each, then
// "interval: SUMMARY". Ctrl+C stops it after the shot in progress. False unless every shot
// asked for was taken.
async::Task<bool> intervalSeries(SessionModel& model, Waiter& waiter, const Request& request,
                                 std::function<void(const QString&)> line) {
    CaptureModel& capture = model.capture();
    CameraSettingsModel& settings = model.settings();
    const bool autofocus = request.autofocus;
    Intervalometer series(
        model.runtime(), [&capture, autofocus] { return capture.shootAndWait(autofocus); },
        SeriesCamera::bufferFull(settings, capture));
    SeriesCamera::followBuffer(settings, capture, &series);
    QObject::connect(&series, &Intervalometer::shotTaken, [line](int, const QDateTime& at) {
        line(QStringLiteral("shot: OK ") +
             at.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")));
    });
    bool waitingSaid = false;
    QObject::connect(&series, &Intervalometer::progressChanged, [&series, &waitingSaid, line] {
        if (series.waitingForBuffer() && !waitingSaid)
            line(QStringLiteral("interval: カメラのバッファが空くのを待っています"));
        waitingSaid = series.waitingForBuffer();
    });
    const Intervalometer::Plan plan{request.interval, request.shots, request.delay};
    std::function<void()> start = [&series, plan] { series.start(plan); };
    const bool taken = co_await runSeries(series, std::move(start), waiter, request.shots,
                                          QStringLiteral("interval"), std::move(line));
    co_return taken;
}

// --bracket: "shot: OK OFFSET" per shot of the bracket, then "bracket: SUMMARY". Ctrl+C stops
// it after the shot in progress; the setting it moved is put back either way. False unless
// every shot was taken.
async::Task<bool> bracketSeries(SessionModel& model, Waiter& waiter, const Request& request,
                                std::function<void(const QString&)> line) {
    CaptureModel& capture = model.capture();
    CameraSettingsModel& settings = model.settings();
    const bool autofocus = request.autofocus;
    ExposureBracket bracket(
        model.runtime(),
        SeriesCamera::forBracket(settings, capture, [autofocus] { return autofocus; }));
    SeriesCamera::followBuffer(settings, capture, &bracket);
    QObject::connect(&bracket, &ExposureBracket::shotTaken, [line](int, const QString& offset) {
        line(QStringLiteral("shot: OK ") + offset);
    });
    const ExposureBracket::Plan plan{request.bracketShots, request.bracketStep};
    std::function<void()> start = [&bracket, plan] { bracket.start(plan); };
    const bool taken = co_await runSeries(bracket, std::move(start), waiter, request.bracketShots,
                                          QStringLiteral("bracket"), std::move(line));
    co_return taken;
}

async::Task<int> tether(async::Runtime& runtime, Request request, CommandIO io) {
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
    Request request;
    // --card is a flag here; the virtual camera's card folder is --card-dir.
    request.card = args.removeAll(QStringLiteral("--card")) > 0;
    const qsizetype cardDir = args.indexOf(QStringLiteral("--card-dir"));
    if (cardDir >= 0) args[cardDir] = QStringLiteral("--card");
    request.deleteAfterDownload = args.removeAll(QStringLiteral("--delete-after-download")) > 0;
    request.autofocus = args.removeAll(QStringLiteral("--af")) > 0;
    request.settings = args.removeAll(QStringLiteral("--settings")) > 0;
    request.syncClock = args.removeAll(QStringLiteral("--sync-clock")) > 0;
    request.releaseControl = args.removeAll(QStringLiteral("--release-control")) > 0;
    for (qsizetype at = args.indexOf(QStringLiteral("--set")); at >= 0; at = args.indexOf(QStringLiteral("--set"))) {
        if (at + 1 >= args.size() || !args[at + 1].contains(u'=')) {
            io.err << "pexilctl tether: --set には LABEL=TEXT を渡してください\n";
            return exitUnreadable;
        }
        request.assignments << args[at + 1];
        args.remove(at, 2);
    }
    const auto afAt = takeValue(args, QStringLiteral("--af-at"), io);
    if (!afAt) return exitUnreadable;
    if (!afAt->isEmpty()) {
        const QStringList parts = afAt->split(u',');
        bool okX = false, okY = false;
        const double x = parts.value(0).toDouble(&okX);
        const double y = parts.value(1).toDouble(&okY);
        if (parts.size() != 2 || !okX || !okY || x < 0 || x > 1 || y < 0 || y > 1) {
            io.err << "pexilctl tether: --af-at には X,Y（0 から 1 の割合）を渡してください: "
                   << *afAt << "\n";
            return exitUnreadable;
        }
        request.afAt = QPointF(x, y);
    }
    for (qsizetype at = args.indexOf(QStringLiteral("--mf-drive")); at >= 0;
         at = args.indexOf(QStringLiteral("--mf-drive"))) {
        const QString text = args.value(at + 1);
        const QStringList parts = text.split(u':');
        bool ok = false;
        const int steps = parts.value(1).toInt(&ok);
        const bool near = parts.value(0) == QStringLiteral("near");
        if (parts.size() != 2 || (!near && parts.value(0) != QStringLiteral("far")) || !ok ||
            steps < 1 || steps > 32767) {
            io.err << "pexilctl tether: --mf-drive には near:STEPS か "
                      "far:STEPS（1〜32767）を渡してください: "
                   << text << "\n";
            return exitUnreadable;
        }
        request.drives.push_back(
            {near ? PTPCamera::FocusDirection::near : PTPCamera::FocusDirection::far, steps, text});
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    const auto bracketShots = intValue(args, QStringLiteral("--bracket"), io, 0);
    const auto bracketStep = takeValue(args, QStringLiteral("--step"), io);
    if (!bracketShots || !bracketStep) return exitUnreadable;
    if (*bracketShots > 0 || !bracketStep->isEmpty()) {
        const QString step = bracketStep->isEmpty() ? QStringLiteral("1/3") : *bracketStep;
        const std::map<QString, double> steps{{QStringLiteral("1/3"), 1.0 / 3},
                                              {QStringLiteral("1/2"), 0.5},
                                              {QStringLiteral("1"), 1.0}};
        const bool odd = *bracketShots >= 3 && *bracketShots <= ExposureBracket::maxShots &&
                         *bracketShots % 2 == 1;
        if (!odd || !steps.contains(step)) {
            io.err << "pexilctl tether: --bracket には 3、5、7、9 枚、--step には 1/3、1/2、1 "
                      "を渡してください\n";
            return exitUnreadable;
        }
        request.bracketShots = *bracketShots;
        request.bracketStep = steps.at(step);
    }
    const auto stackShots = intValue(args, QStringLiteral("--focus-stack"), io, 0);
    const auto stackStep = takeValue(args, QStringLiteral("--focus-step"), io);
    if (!stackShots || !stackStep) return exitUnreadable;
    if (*stackShots > 0) {
        bool ok = false;
        const int step = stackStep->toInt(&ok);
        if (*stackShots > FocusStack::maxShots || !ok || step == 0 || std::abs(step) > 32767) {
            io.err << "pexilctl tether: --focus-stack には 1〜" << FocusStack::maxShots
                   << " 枚、--focus-step には 0 以外の −32767〜32767 を渡してください\n";
            return exitUnreadable;
        }
        request.stackShots = *stackShots;
        request.stackStep = step;
    } else if (!stackStep->isEmpty()) {
        io.err << "pexilctl tether: --focus-step は --focus-stack と使ってください\n";
        return exitUnreadable;
    }
    const auto address = takeValue(args, QStringLiteral("--camera"), io);
    const auto dest = takeValue(args, QStringLiteral("--dest"), io);
    const auto session = takeValue(args, QStringLiteral("--session"), io);
    const auto nameTemplate = takeValue(args, QStringLiteral("--name"), io);
    const auto backup = takeValue(args, QStringLiteral("--backup"), io);
    const auto framesDir = takeValue(args, QStringLiteral("--frames-dir"), io);
    const auto shots = intValue(args, QStringLiteral("--shoot"), io, 0);
    const auto interval =
        takeSeconds(args, QStringLiteral("--interval"), io, QStringLiteral("tether"));
    const auto delay = takeSeconds(args, QStringLiteral("--delay"), io, QStringLiteral("tether"));
    const auto frames = intValue(args, QStringLiteral("--liveview"), io, 0);
    const auto seconds = takeSeconds(args, QStringLiteral("--for"), io, QStringLiteral("tether"));
    const auto ioTimeout = takeIoTimeout(args, io, QStringLiteral("tether"), camera::defaultIoTimeout);
    const auto clientView = takeValue(args, QStringLiteral("--client-view"), io);
    const auto virtualOptions = takeVirtualOptions(args, io);
    if (!address || !dest || !session || !nameTemplate || !backup || !framesDir || !shots ||
        !interval || !delay || !frames || !seconds || !ioTimeout || !virtualOptions || !clientView)
        return exitUnreadable;
    request.ioTimeout = *ioTimeout;
    if (!args.isEmpty()) {
        io.err << "pexilctl tether: 知らない引数です: " << args.join(u' ') << "\n";
        return exitUnreadable;
    }
    if (!address->isEmpty()) request.address = *address;
    request.dest = *dest;
    if (const auto problem = Preferences::checkSessionName(*session)) {
        io.err << "pexilctl tether: " << *problem << "\n";
        return exitUnreadable;
    }
    request.session = *session;
    if (const auto parsed = NameTemplate::parse(*nameTemplate); !parsed) {
        io.err << "pexilctl tether: " << parsed.error() << "\n";
        return exitUnreadable;
    }
    request.nameTemplate = *nameTemplate;
    if (!backup->isEmpty()) {
        if (const auto problem = BackupModel::checkFolder(*backup)) {
            io.err << "pexilctl tether: " << *problem << "\n";
            return exitUnreadable;
        }
        request.backup = QDir(*backup).absolutePath();
    }
    request.framesDir = *framesDir;
    request.shots = *shots;
    if (request.bracketShots > 0 && (request.shots > 0 || *interval >= 0)) {
        io.err << "pexilctl tether: --bracket は --shoot や --interval とは別に使ってください\n";
        return exitUnreadable;
    }
    if (*interval >= 0 || *delay >= 0) {
        const Intervalometer::Plan plan{std::max(*interval, 0.0), request.shots,
                                        std::max(*delay, 0.0)};
        const auto problem = request.shots < 1 || *interval < 0
                                 ? std::optional<QString>(QString::fromUtf8(
                                       "--interval と --delay は --shoot N と使ってください"))
                                 : Intervalometer::check(plan);
        if (problem) {
            io.err << "pexilctl tether: " << *problem << "\n";
            return exitUnreadable;
        }
        request.interval = plan.interval;
        request.delay = plan.delay;
    }
    if (!clientView->isEmpty()) {
        const auto where = parseClientViewAddress(*clientView);
        if (!where) {
            io.err << "pexilctl tether: " << where.error() << "\n";
            return exitUnreadable;
        }
        request.clientView = where.value();
    }
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
    request.stop = &stopSignals;
    const int status = runOnEventLoop(io, [&request, io](async::Runtime& runtime) {
        return tether(runtime, std::move(request), io);
    });
    return status;
}

}  // namespace pexil::cli
