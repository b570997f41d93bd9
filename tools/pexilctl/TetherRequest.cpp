#include "tools/pexilctl/TetherRequest.h"

#include "app/backup/BackupModel.h"
#include "app/base/Preferences.h"
#include "app/capture/ExposureBracket.h"
#include "app/capture/Intervalometer.h"
#include "app/liveview/FocusStack.h"
#include "app/naming/NameTemplate.h"
#include "kit/ptp/Result.h"
#include "tools/pexilctl/CommandLine.h"
#include "tools/pexilctl/VirtualCameraOptions.h"

#include <QDir>

#include <cstdlib>
#include <map>

namespace pexil::cli {

namespace {

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

std::optional<TetherRequest> parseTetherRequest(QStringList args, CommandIO io) {
    TetherRequest request;
    // --card is a flag here; the virtual camera's card folder is --card-dir.
    request.card = args.removeAll(QStringLiteral("--card")) > 0;
    const qsizetype cardDir = args.indexOf(QStringLiteral("--card-dir"));
    if (cardDir >= 0) args[cardDir] = QStringLiteral("--card");
    request.deleteAfterDownload = args.removeAll(QStringLiteral("--delete-after-download")) > 0;
    request.autofocus = args.removeAll(QStringLiteral("--af")) > 0;
    request.settings = args.removeAll(QStringLiteral("--settings")) > 0;
    request.syncClock = args.removeAll(QStringLiteral("--sync-clock")) > 0;
    request.releaseControl = args.removeAll(QStringLiteral("--release-control")) > 0;
    for (qsizetype at = args.indexOf(QStringLiteral("--set")); at >= 0;
         at = args.indexOf(QStringLiteral("--set"))) {
        if (at + 1 >= args.size() || !args[at + 1].contains(u'=')) {
            io.err << "pexilctl tether: --set には LABEL=TEXT を渡してください\n";
            return std::nullopt;
        }
        request.assignments << args[at + 1];
        args.remove(at, 2);
    }
    const auto afAt = takeValue(args, QStringLiteral("--af-at"), io);
    if (!afAt) return std::nullopt;
    if (!afAt->isEmpty()) {
        const QStringList parts = afAt->split(u',');
        bool okX = false, okY = false;
        const double x = parts.value(0).toDouble(&okX);
        const double y = parts.value(1).toDouble(&okY);
        if (parts.size() != 2 || !okX || !okY || x < 0 || x > 1 || y < 0 || y > 1) {
            io.err << "pexilctl tether: --af-at には X,Y（0 から 1 の割合）を渡してください: "
                   << *afAt << "\n";
            return std::nullopt;
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
            return std::nullopt;
        }
        request.drives.push_back(
            {near ? PTPCamera::FocusDirection::near : PTPCamera::FocusDirection::far, steps, text});
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    const auto bracketShots = intValue(args, QStringLiteral("--bracket"), io, 0);
    const auto bracketStep = takeValue(args, QStringLiteral("--step"), io);
    if (!bracketShots || !bracketStep) return std::nullopt;
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
            return std::nullopt;
        }
        request.bracketShots = *bracketShots;
        request.bracketStep = steps.at(step);
    }
    const auto stackShots = intValue(args, QStringLiteral("--focus-stack"), io, 0);
    const auto stackStep = takeValue(args, QStringLiteral("--focus-step"), io);
    if (!stackShots || !stackStep) return std::nullopt;
    if (*stackShots > 0) {
        bool ok = false;
        const int step = stackStep->toInt(&ok);
        if (*stackShots > FocusStack::maxShots || !ok || step == 0 || std::abs(step) > 32767) {
            io.err << "pexilctl tether: --focus-stack には 1〜" << FocusStack::maxShots
                   << " 枚、--focus-step には 0 以外の −32767〜32767 を渡してください\n";
            return std::nullopt;
        }
        request.stackShots = *stackShots;
        request.stackStep = step;
    } else if (!stackStep->isEmpty()) {
        io.err << "pexilctl tether: --focus-step は --focus-stack と使ってください\n";
        return std::nullopt;
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
    const auto ioTimeout =
        takeIoTimeout(args, io, QStringLiteral("tether"), camera::defaultIoTimeout);
    const auto clientView = takeValue(args, QStringLiteral("--client-view"), io);
    const auto virtualOptions = takeVirtualOptions(args, io);
    if (!address || !dest || !session || !nameTemplate || !backup || !framesDir || !shots ||
        !interval || !delay || !frames || !seconds || !ioTimeout || !virtualOptions || !clientView)
        return std::nullopt;
    request.ioTimeout = *ioTimeout;
    if (!args.isEmpty()) {
        io.err << "pexilctl tether: 知らない引数です: " << args.join(u' ') << "\n";
        return std::nullopt;
    }
    if (!address->isEmpty()) request.address = *address;
    request.dest = *dest;
    if (const auto problem = Preferences::checkSessionName(*session)) {
        io.err << "pexilctl tether: " << *problem << "\n";
        return std::nullopt;
    }
    request.session = *session;
    if (const auto parsed = NameTemplate::parse(*nameTemplate); !parsed) {
        io.err << "pexilctl tether: " << parsed.error() << "\n";
        return std::nullopt;
    }
    request.nameTemplate = *nameTemplate;
    if (!backup->isEmpty()) {
        if (const auto problem = BackupModel::checkFolder(*backup)) {
            io.err << "pexilctl tether: " << *problem << "\n";
            return std::nullopt;
        }
        request.backup = QDir(*backup).absolutePath();
    }
    request.framesDir = *framesDir;
    request.shots = *shots;
    if (request.bracketShots > 0 && (request.shots > 0 || *interval >= 0)) {
        io.err << "pexilctl tether: --bracket は --shoot や --interval とは別に使ってください\n";
        return std::nullopt;
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
            return std::nullopt;
        }
        request.interval = plan.interval;
        request.delay = plan.delay;
    }
    if (!clientView->isEmpty()) {
        const auto where = parseClientViewAddress(*clientView);
        if (!where) {
            io.err << "pexilctl tether: " << where.error() << "\n";
            return std::nullopt;
        }
        request.clientView = where.value();
    }
    request.frames = *frames;
    request.virtualOptions = *virtualOptions;
    request.seconds = *seconds;
    if (!request.framesDir.isEmpty() && !QDir().mkpath(request.framesDir)) {
        io.err << "pexilctl tether: フォルダを作れません: " << request.framesDir << "\n";
        return std::nullopt;
    }

    return request;
}

}  // namespace pexil::cli
