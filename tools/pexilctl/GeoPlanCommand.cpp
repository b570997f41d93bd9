#include "tools/pexilctl/GeoPlanCommand.h"

#include "app/base/Log.h"
#include "app/geo/ExifTool.h"
#include "app/geo/GeoJson.h"
#include "app/geo/GeoStore.h"
#include "app/geo/GeoWriter.h"
#include "app/geo/GpxReader.h"
#include "tools/pexilctl/TerminalProgress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace pexil::cli {

namespace {

enum class Source { payload, gpx, received };

struct Options {
    QString folder;
    Source source = Source::payload;
    QString file;
    double tolerance = GeoWriter::defaultTolerance;
    bool overwrite = false;
};

// Parses the command line; on failure writes one line to err and gives none.
std::optional<Options> parseOptions(const QString& command, const QStringList& args, CommandIO io) {
    Options options;
    QStringList positional;
    int sources = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                io.err << "pexilctl geo " << command << ": " << arg << " には値が必要です\n";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == QLatin1String("--payload") || arg == QLatin1String("--gpx")) {
            const auto file = value();
            if (!file) return std::nullopt;
            options.source = arg == QLatin1String("--gpx") ? Source::gpx : Source::payload;
            options.file = *file;
            ++sources;
        } else if (arg == QLatin1String("--received")) {
            options.source = Source::received;
            ++sources;
        } else if (arg == QLatin1String("--tolerance")) {
            const auto text = value();
            if (!text) return std::nullopt;
            bool ok = false;
            const double seconds = text->toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds < 0) {
                io.err << "pexilctl geo " << command
                       << ": --tolerance には 0 以上の秒数を指定してください: " << *text << "\n";
                return std::nullopt;
            }
            options.tolerance = seconds;
        } else if (arg == QLatin1String("--overwrite")) {
            options.overwrite = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            io.err << "pexilctl geo " << command << ": 知らないオプションです: " << arg << "\n";
            return std::nullopt;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 1 || sources != 1) {
        io.err << "pexilctl geo " << command
               << ": フォルダを一つと、--payload, --gpx, --received のどれか一つを指定してください"
                  "（pexilctl geo "
               << command << " --help）\n";
        return std::nullopt;
    }
    options.folder = positional.front();
    return options;
}

std::optional<QByteArray> readAll(const QString& path, const QString& command, CommandIO io) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        io.err << "pexilctl geo " << command << ": ファイルを読めません: " << path << "（"
               << file.errorString() << "）\n";
        return std::nullopt;
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        io.err << "pexilctl geo " << command << ": ファイルを読めません: " << path << "（"
               << file.errorString() << "）\n";
        return std::nullopt;
    }
    return data;
}

ByteView view(const QByteArray& data) {
    return {reinterpret_cast<const std::uint8_t*>(data.constData()),
            static_cast<std::size_t>(data.size())};
}

std::optional<GeoPayload> loadPayload(const Options& options, const QString& command,
                                      CommandIO io) {
    const QString path =
        options.source == Source::received
            ? QDir(GeoStore::defaultFolder()).filePath(QStringLiteral("geo-latest.json"))
            : options.file;
    if (options.source == Source::received && !QFileInfo::exists(path)) {
        io.err << "pexilctl geo " << command << ": 受信した位置情報がありません: " << path << "\n";
        return std::nullopt;
    }
    const auto data = readAll(path, command, io);
    if (!data) return std::nullopt;
    switch (options.source) {
        case Source::payload: {
            auto decoded = GeoJson::decodePayload(view(*data));
            if (decoded) return std::move(decoded).value();
            io.err << "pexilctl geo " << command << ": 位置情報ファイルを読めません: " << path
                   << "（" << decoded.error() << "）\n";
            return std::nullopt;
        }
        case Source::gpx: {
            auto decoded = Gpx::read(view(*data));
            if (decoded) return std::move(decoded).value();
            io.err << "pexilctl geo " << command << ": GPX ファイルを読めません: " << path << "（"
                   << decoded.error() << "）\n";
            return std::nullopt;
        }
        case Source::received: {
            auto saved = GeoStore::decodeSaved(view(*data));
            if (saved) return std::move(saved->payload);
            io.err << "pexilctl geo " << command
                   << ": 受信した位置情報を読めません（壊れています）: " << path << "\n";
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Everything a command needs before it prints: the options, the record and the plan. None,
// with the line on err, for a wrong command line or an unreadable record or folder.
struct Prepared {
    GeoWriter writer;
    GeoWriter::Plan plan;
};

std::optional<Prepared> prepare(const QString& command, const QStringList& args, CommandIO io) {
    const auto options = parseOptions(command, args, io);
    if (!options) return std::nullopt;
    const QFileInfo folder(options->folder);
    if (!folder.isDir() || !folder.isReadable()) {
        io.err << "pexilctl geo " << command << ": フォルダを読めません: " << options->folder
               << "\n";
        return std::nullopt;
    }
    auto payload = loadPayload(*options, command, io);
    if (!payload) return std::nullopt;
    GeoWriter writer(std::move(*payload), options->tolerance, options->overwrite);
    GeoWriter::Plan plan = writer.plan(options->folder);
    return Prepared{std::move(writer), std::move(plan)};
}

// One name per line whatever it holds: a line break in a file name would otherwise forge a
// line of its own.
QString printable(const QString& name) {
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'\\') {
            text += QStringLiteral("\\\\");
        } else if (c == u'\n') {
            text += QStringLiteral("\\n");
        } else if (c == u'\r') {
            text += QStringLiteral("\\r");
        } else {
            text += c;
        }
    }
    return text;
}

QString nameOf(const QString& path) {
    return printable(QFileInfo(path).fileName());
}

QString degrees(double value) {
    return QString::asprintf("%.6f", value);
}

}  // namespace

QString geoPlanHelp() {
    return QStringLiteral(
        "usage: pexilctl geo plan FOLDER (--payload FILE | --gpx FILE | --received)\n"
        "                         [--tolerance SECONDS] [--overwrite]\n"
        "\n"
        "Shows which position each picture of FOLDER would receive. Pictures are the files of\n"
        "FOLDER itself (not its subfolders) ending in nef, nrw, cr2, cr3, arw, raf, dng, orf,\n"
        "rw2, jpg, jpeg, heic, tif or tiff in any letter case.\n"
        "\n"
        "The record:\n"
        "  --payload FILE   a position record (JSON) from the phone\n"
        "  --gpx FILE       the tracks of a GPX file (no positions by file name)\n"
        "  --received       the record last received by Pexil (geo-latest.json in Pexil's\n"
        "                   folder under the per-user data folder)\n"
        "  --tolerance S    largest distance in seconds between a picture's capture time and\n"
        "                   a track point (default 120)\n"
        "  --overwrite      also match pictures that carry GPS data already\n"
        "\n"
        "A picture gets the position recorded for its file name (exact, letter case counts);\n"
        "otherwise the track point nearest to its EXIF DateTimeOriginal (read as local time),\n"
        "if within the tolerance; among equally near points the first in the record wins.\n"
        "\n"
        "Output, one line per picture, sorted by file name (byte order, upper case first):\n"
        "  exact NAME LAT LON             position by file name\n"
        "  estimated NAME LAT LON ±GAPs   track point GAP seconds away (whole seconds,\n"
        "                                 truncated)\n"
        "  tagged NAME                    carries GPS data already (without --overwrite)\n"
        "  unmatched NAME                 no position\n"
        "LAT and LON are decimal degrees with six decimals (north and east positive), always\n"
        "the last fields but one or two, so a NAME with spaces can be split off from the right.\n"
        "In NAME a backslash is written \\\\, a line feed \\n and a carriage return \\r.\n"
        "\n"
        "Exit status: 0 done, 2 the command line is wrong or the folder or record cannot be\n"
        "read.\n");
}

QString geoApplyHelp() {
    return QStringLiteral(
        "usage: pexilctl geo apply FOLDER (--payload FILE | --gpx FILE | --received)\n"
        "                          [--tolerance SECONDS] [--overwrite]\n"
        "\n"
        "Writes the positions that 'pexilctl geo plan' shows into the pictures with ExifTool\n"
        "(the copy beside pexilctl in exiftool/exiftool, else /usr/bin/exiftool,\n"
        "/usr/local/bin/exiftool or /opt/homebrew/bin/exiftool): latitude, longitude and,\n"
        "when recorded, altitude. The arguments are those of 'pexilctl geo plan'.\n"
        "\n"
        "Output, one line per matched picture in scan order, then one summary line:\n"
        "  written NAME                   the picture carries GPS data now\n"
        "  failed NAME: REASON            it does not; REASON is ExifTool's message\n"
        "  summary: written=N failed=N unmatched=N tagged=N\n"
        "NAME and REASON are escaped as in 'pexilctl geo plan'. Progress and ExifTool's exit\n"
        "status go to Pexil's log file (~/.local/state/Pexil/Pexil.log).\n"
        "\n"
        "Exit status: 0 every matched picture written, 1 some failed, 2 the command line is\n"
        "wrong or the folder or record cannot be read.\n");
}

int runGeoPlan(const QStringList& args, CommandIO io) {
    if (printedHelp(args, io, geoPlanHelp())) return exitOK;
    const auto prepared = prepare(QStringLiteral("plan"), args, io);
    if (!prepared) return exitUnreadable;
    const GeoWriter::Plan& plan = prepared->plan;

    // The plan keeps three lists, each in scan order; the output interleaves them again.
    std::vector<std::pair<QString, QString>> lines;  // file name, line
    for (const auto& match : plan.matches) {
        const QString name = QFileInfo(match.url).fileName();
        QString line = (match.exact ? QStringLiteral("exact ") : QStringLiteral("estimated ")) +
                       printable(name) + u' ' + degrees(match.point.lat) + u' ' +
                       degrees(match.point.lon);
        if (!match.exact && match.gap)
            line += QStringLiteral(" ±%1s").arg(static_cast<qint64>(*match.gap));
        lines.emplace_back(name, line);
    }
    for (const QString& path : plan.alreadyTagged)
        lines.emplace_back(QFileInfo(path).fileName(), QStringLiteral("tagged ") + nameOf(path));
    for (const QString& path : plan.unmatched)
        lines.emplace_back(QFileInfo(path).fileName(), QStringLiteral("unmatched ") + nameOf(path));
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return GeoWriter::scanOrder(a.first, b.first);
    });
    for (const auto& [name, line] : lines) io.out << line << "\n";
    return exitOK;
}

int runGeoApply(const QStringList& args, CommandIO io) {
    if (printedHelp(args, io, geoApplyHelp())) return exitOK;
    const auto prepared = prepare(QStringLiteral("apply"), args, io);
    if (!prepared) return exitUnreadable;
    const GeoWriter::Plan& plan = prepared->plan;

    GeoWriter::Report report;
    {
        const Log log;
        // ExifTool writes the whole batch in one run: the bar shows its start and its end.
        TerminalProgress progress(io.err, TerminalProgress::isTerminal(io.err), QStringLiteral("apply"));
        report = ExifTool::apply(
            plan.matches,
            [&progress](int done, int total) {
                progress.update(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
            },
            log.writer());
    }  // the log's lines are in its file once it is gone; the bar is off the line

    const std::set<QString> written(report.written.begin(), report.written.end());
    std::map<QString, QString> failed;
    for (const auto& failure : report.failed) failed.emplace(failure.name, failure.reason);
    for (const auto& match : plan.matches) {
        const QString name = QFileInfo(match.url).fileName();
        if (written.contains(name)) {
            io.out << "written " << printable(name) << "\n";
        } else if (const auto failure = failed.find(name); failure != failed.end()) {
            io.out << "failed " << printable(name) << ": " << printable(failure->second) << "\n";
        }
    }
    io.out << "summary: written=" << report.written.size() << " failed=" << report.failed.size()
           << " unmatched=" << plan.unmatched.size() << " tagged=" << plan.alreadyTagged.size()
           << "\n";
    return report.failed.empty() ? exitOK : exitFailed;
}

}  // namespace pexil::cli
