#include "tools/pexilctl/CardCommand.h"

#include "app/base/Log.h"
#include "app/base/Preferences.h"
#include "app/card/CardModel.h"
#include "app/card/ImportLedger.h"
#include "app/connection/CameraLink.h"
#include "app/geo/GeoStore.h"
#include "camera/sources/CameraSources.h"
#include "tools/pexilctl/CommandLine.h"
#include "tools/pexilctl/EventLoop.h"
#include "tools/pexilctl/LineText.h"
#include "tools/pexilctl/StopSignals.h"
#include "tools/pexilctl/TerminalProgress.h"
#include "tools/pexilctl/VirtualCameraOptions.h"
#include "tools/pexilctl/Waiter.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <memory>

namespace pexil::cli {

namespace {

// How long the camera may take to be ready with a settled catalogue: a full card over a slow
// link is read in minutes, not hours.
constexpr double settleLimitSeconds = 600;

QString capturedText(const std::optional<QDateTime>& captured) {
    return captured ? captured->toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                    : QStringLiteral("-");
}

// The serial the application records imports under: the camera's, else its model name.
QString serialOf(const CameraLink& link) {
    const auto& camera = link.camera();
    if (!camera || !camera->info()) return QStringLiteral("?");
    if (!camera->info()->serialNumber.isEmpty()) return camera->info()->serialNumber;
    return camera->info()->model.isEmpty() ? QStringLiteral("?") : camera->info()->model;
}

void printList(const CardModel& model, CommandIO io) {
    for (const CardItem& item : model.items()) {
        io.out << lineSafe(item.name) << ' ' << item.size << ' ' << capturedText(item.captured);
        if (item.imported) io.out << " imported";
        if (item.locatable) io.out << " locatable";
        io.out << '\n';
    }
    io.out << "card: " << model.items().size() << " items (" << model.unimported().size()
           << " not imported)\n";
    io.out.flush();
}

// The import's bar: files handled of the import's files, and their bytes, since the rate and
// the time left mean most in bytes when pictures differ in size.
struct ImportProgress {
    explicit ImportProgress(QTextStream& err)
        : bar(err, TerminalProgress::isTerminal(err), QStringLiteral("import")) {}

    void start(const CardItems& items) {
        sizes.clear();
        bytesTotal = bytesDone = 0;
        for (const CardItem& item : items) {
            const auto size = static_cast<std::uint64_t>(std::max<qint64>(item.size, 0));
            sizes.emplace(item.name, size);
            bytesTotal += size;
        }
    }
    void handled(const QString& name) {
        const auto it = sizes.find(name);
        if (it == sizes.end()) return;
        bytesDone += it->second;
        sizes.erase(it);  // two folders may hold the same name
    }
    void show(int done, int total) {
        reported = done;
        bar.update(static_cast<std::uint64_t>(std::max(done, 0)),
                   static_cast<std::uint64_t>(std::max(total, 0)), bytesDone, bytesTotal);
    }

    TerminalProgress bar;
    std::multimap<QString, std::uint64_t> sizes;
    std::uint64_t bytesTotal = 0;
    std::uint64_t bytesDone = 0;
    int reported = 0;
};

}  // namespace

async::Task<int> card(async::Runtime& runtime, CardRequest request, CommandIO io) {
    const auto address = camera::CameraAddress::parse(request.address);
    if (!address) {
        io.err << "pexilctl card: " << address.error() << "\n";
        co_return exitUnreadable;
    }
    Log log;
    auto setup =
        camera::setUpCamera(runtime, address.value(), request.virtualOptions, log.writer());
    if (!setup) {
        io.err << "pexilctl card: " << setup.error() << "\n";
        co_return exitFailed;
    }
    std::vector<std::unique_ptr<camera::DeviceSource>> sources;
    sources.push_back(std::move(setup.value().source));
    const QString support =
        request.supportFolder.isEmpty() ? ImportLedger::defaultFolder() : request.supportFolder;
    const QString dest =
        request.dest.isEmpty() ? Preferences::defaultBaseDestination() : request.dest;

    auto link = std::make_unique<CameraLink>(runtime, log, std::move(sources), nullptr);
    link->destination = dest;
    GeoStore::Options geoOptions;
    geoOptions.folder = support;
    geoOptions.receiver.advertise = false;
    geoOptions.receiver.address = QHostAddress::LocalHost;
    auto geo = std::make_unique<GeoStore>(runtime.clock(), log.writer(), geoOptions);
    auto ledger = std::make_unique<ImportLedger>(support, log.writer());
    // The record of imports is what keeps a formatted card from losing a picture: its trouble
    // is said on the terminal, not only in the log.
    if (ledger->problem()) io.err << "pexilctl card: " << *ledger->problem() << "\n";
    ImportLedger* ledgerPtr = ledger.get();
    ledger->onProblemChanged = [io, ledgerPtr]() mutable {
        if (ledgerPtr->problem()) io.err << "pexilctl card: " << *ledgerPtr->problem() << "\n";
        io.err.flush();
    };
    // The run's choice of writing positions must not become the application's preference.
    QTemporaryDir scratch;
    auto settings = std::make_unique<QSettings>(
        QDir(scratch.path()).filePath(QStringLiteral("card.ini")), QSettings::IniFormat);
    settings->setValue(CardModel::writeLocationsKey(), request.writeLocations);
    auto model = std::make_unique<CardModel>(runtime, log, *link, *geo, *ledger, *settings,
                                             CardModel::Options{});
    model->destination = [dest](const QDateTime&) { return dest; };
    CameraLink* linkPtr = link.get();
    model->serial = [linkPtr] { return serialOf(*linkPtr); };
    CardModel* modelPtr = model.get();
    QObject::connect(linkPtr, &CameraLink::cardChanged, modelPtr, &CardModel::refresh);
    // A camera that cannot be reached says why at once, rather than after the catalogue's
    // whole allowance of waiting.
    std::optional<QString> lost;
    QObject::connect(
        linkPtr, &CameraLink::cameraLost, [&lost](const std::optional<QString>& reason) {
            if (!lost) lost = reason.value_or(QString::fromUtf8("カメラとの接続が終わりました"));
        });
    Waiter waiter(request.stop);
    waiter.follow(linkPtr, &CameraLink::phaseChanged);
    waiter.follow(linkPtr, &CameraLink::cardSettledNow);
    waiter.follow(linkPtr, &CameraLink::cameraLost);
    waiter.follow(linkPtr, &CameraLink::downloadingChanged);
    waiter.follow(modelPtr, &CardModel::lastSummaryChanged);
    link->open();

    // Named first: g++ 12 destroys a capturing lambda written inside co_await twice.
    std::function<bool()> ready = [linkPtr, &lost] {
        return lost ||
               (linkPtr->phase().kind == CameraLink::Phase::Kind::ready && linkPtr->cardSettled());
    };
    const bool settled = co_await waiter.until(std::move(ready), settleLimitSeconds);
    if (!settled || lost) {
        io.err << "pexilctl card: カメラの準備ができません（" << request.address << "）";
        if (lost) io.err << ": " << *lost;
        io.err << "\n";
        link->close();
        co_return exitFailed;
    }
    model->refresh();

    int status = exitOK;
    int failed = 0;
    if (request.action == CardRequest::Action::list) {
        printList(*model, io);
    } else {
        std::set<QString> chosen;
        for (const QString& name : request.names) {
            bool found = false;
            for (const CardItem& item : model->items()) {
                if (item.name != name && item.id != name) continue;
                chosen.insert(item.id);
                found = true;
            }
            if (!found) {
                io.err << "pexilctl card: カードにありません: " << name << "\n";
                status = exitFailed;
            }
        }
        // The bar lives on standard error and only on a terminal; the documented lines on
        // standard output stay as they are, each written while the bar is off the line.
        auto progress = std::make_shared<ImportProgress>(io.err);
        QObject::connect(model.get(), &CardModel::fileImported,
                         [io, &failed, progress](int done, int total, const QString& name,
                                                 const std::optional<QString>& failure) mutable {
                             progress->bar.clear();
                             io.out << "import: " << done << '/' << total << ' ' << lineSafe(name);
                             if (failure) {
                                 ++failed;
                                 io.out << " failed: " << lineSafe(*failure);
                             }
                             io.out << '\n';
                             io.out.flush();
                             progress->handled(name);
                             progress->show(done, total);
                         });
        QObject::connect(model.get(), &CardModel::importPhaseChanged,
                         [io, modelPtr, progress]() mutable {
                             const auto& phase = modelPtr->importPhase();
                             if (!phase) {
                                 progress->bar.clear();
                             } else if (phase->kind == ImportPhase::Kind::geotagging) {
                                 progress->bar.clear();
                                 io.out << "geotag: " << phase->count << '\n';
                                 io.out.flush();
                             } else {
                                 // The phase counts a file before its line and its bytes: the bar
                                 // keeps to the files already reported.
                                 progress->show(progress->reported, phase->total);
                             }
                         });
        bool started = false;
        if (status == exitOK) {
            CardItems list;
            if (request.all) {
                list = model->unimported();
            } else {
                model->select(chosen);
                for (const CardItem& item : model->items())
                    if (chosen.count(item.id) > 0 && !item.imported) list.push_back(item);
            }
            progress->start(list);
            started = model->startImport(std::move(list));
            if (!started) io.out << "card: 取り込むものはありません\n";
        }
        if (started) {
            std::function<bool()> summarised = [modelPtr] {
                return modelPtr->lastSummary().has_value();
            };
            bool done = co_await waiter.until(summarised, -1);
            if (!done && waiter.stopRequested()) {
                // Stopped: the file in transfer is finished, the rest left on the card; a
                // second signal gives up at once.
                waiter.clearStop();
                progress->bar.clear();
                io.err << "pexilctl card: 中止します（転送中のファイルを保存してから）\n";
                io.err.flush();
                model->cancelImport();
                done = co_await waiter.until(summarised, -1);
                if (done) status = exitInterrupted;
            }
            progress->bar.clear();
            if (done) {
                io.out << *model->lastSummary() << '\n';
            } else {
                io.err << "pexilctl card: 取り込みを中断しました\n";
                status = exitFailed;
            }
            if (failed > 0 && status != exitInterrupted) status = exitFailed;
        }
    }
    io.out.flush();
    link->close();
    std::function<bool()> idle = [linkPtr] { return linkPtr->downloading() == 0; };
    co_await waiter.until(std::move(idle), 10);
    model.reset();
    co_return status;
}

std::optional<CardRequest> parseCard(const QStringList& arguments, CommandIO io) {
    QStringList args = arguments;
    CardRequest request;
    // The virtual camera's card folder is --card-dir, as in tether.
    const qsizetype cardDir = args.indexOf(QStringLiteral("--card-dir"));
    if (cardDir >= 0) args[cardDir] = QStringLiteral("--card");
    request.all = args.removeAll(QStringLiteral("--all")) > 0;
    request.writeLocations = args.removeAll(QStringLiteral("--no-locations")) == 0;
    const auto address = takeValue(args, QStringLiteral("--camera"), io);
    const auto dest = takeValue(args, QStringLiteral("--dest"), io);
    const auto virtualOptions = takeVirtualOptions(args, io);
    if (!address || !dest || !virtualOptions) return std::nullopt;
    if (!address->isEmpty()) request.address = *address;
    request.dest = *dest;
    request.virtualOptions = *virtualOptions;
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1String("--"))) {
            io.err << "pexilctl card: 知らない引数です: " << arg << "\n";
            return std::nullopt;
        }
    }
    if (args.isEmpty()) {
        io.err << "pexilctl card: コマンドを指定してください（list, import）\n";
        return std::nullopt;
    }
    const QString action = args.takeFirst();
    if (action == QLatin1String("list")) {
        request.action = CardRequest::Action::list;
        if (!args.isEmpty() || request.all) {
            io.err << "pexilctl card: list は引数を取りません\n";
            return std::nullopt;
        }
    } else if (action == QLatin1String("import")) {
        request.action = CardRequest::Action::import;
        request.names = args;
        if (request.all == !request.names.isEmpty()) {
            io.err << "pexilctl card: import には --all かファイル名のどちらかを指定してください\n";
            return std::nullopt;
        }
    } else {
        io.err << "pexilctl card: 知らないコマンドです: " << action << "\n";
        return std::nullopt;
    }
    return request;
}

QString cardHelp() {
    return QStringLiteral(
        "usage: pexilctl card [--camera ADDRESS] list\n"
        "       pexilctl card [--camera ADDRESS] import (--all | NAME...) [--dest DIR] "
        "[--no-locations]\n"
        "\n"
        "The card browser of the application, headless: the same list, marks and imports, with\n"
        "the application's record of imported pictures and its last position record from the\n"
        "phone. An import never deletes from the card.\n"
        "  list     one line per picture, newest first: NAME SIZE CAPTURED [imported] [locatable]\n"
        "           (CAPTURED in the camera's clock, - when unknown), then\n"
        "           card: N items (M not imported)\n"
        "  import   --all: every picture not imported yet; NAME... (or FOLDER/NAME): those\n"
        "           pictures, unless imported already. Oldest first, one line per file:\n"
        "           import: K/N NAME [failed: REASON], then geotag: M when positions are written\n"
        "           into M pictures (never over a picture's own GPS; --no-locations: none),\n"
        "           then the summary line. On a terminal, a progress bar on standard error\n"
        "           while the files download (files, bytes, rate, time left).\n"
        "  --dest DIR   where pictures go (default: the pictures folder + /Pexil)\n"
        "\n"
        "--camera virtual takes the options of pexilctl vcam, with --card-dir DIR for the\n"
        "virtual camera's card folder, --gps-every N (every Nth picture carries the camera's\n"
        "own position), --no-prop-list (a body without GetObjectPropList) and\n"
        "--fail-object NAME:RESPONSE (that file's transfer is refused with RESPONSE).\n"
        "Exit status: 0 done, 1 a picture could not be imported or the camera failed,\n"
        "2 wrong command line, 130 stopped by Ctrl+C (after the file in transfer, with the\n"
        "summary line; the rest stays on the card).\n");
}

int runCard(const QStringList& arguments, CommandIO io) {
    if (printedHelp(arguments, io, cardHelp())) return exitOK;
    auto request = parseCard(arguments, io);
    if (!request) return exitUnreadable;
    StopSignals stopSignals;
    request->stop = &stopSignals;
    return runOnEventLoop(io, [&request, io](async::Runtime& runtime) {
        return card(runtime, std::move(*request), io);
    });
}

}  // namespace pexil::cli
