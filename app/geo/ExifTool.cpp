#include "app/geo/ExifTool.h"

#include "app/geo/GeoPosition.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QUuid>

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace pexil {

namespace {

// The first `count` characters (code points, so a character beyond U+FFFF is never cut).
QString firstCharacters(const QString& text, qsizetype count) {
    qsizetype end = 0;
    for (qsizetype n = 0; n < count && end < text.size(); ++n)
        end +=
            text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate()
                ? 2
                : 1;
    return text.left(end);
}

bool needsCString(const QString& argument) {
    // ExifTool splits the file at line breaks, strips leading white space from plain lines,
    // skips "#" lines and empty ones; only a C-string line keeps such an argument whole.
    return argument.isEmpty() || argument.front().isSpace() || argument.front() == u'#' ||
           argument.contains(u'\n') || argument.contains(u'\r');
}

enum class Run { file, direct, refused };

// The last guard before a file the user keeps: whatever let a point out of range into a
// record, ExifTool would write it as it is (GPSLatitude 91.5).
std::optional<QString> refusal(const GeoPoint& point) {
    if (auto fault = GeoPosition::fault(point)) return QStringLiteral("書き込みません: ") + *fault;
    return std::nullopt;
}

}  // namespace

ExifTool::Places ExifTool::defaultPlaces() {
    Places places;
    if (QCoreApplication::instance() != nullptr)
        places.resourceDirectory = QCoreApplication::applicationDirPath();
    places.systemScripts = {QStringLiteral("/usr/bin/exiftool"),
                            QStringLiteral("/usr/local/bin/exiftool"),
                            QStringLiteral("/opt/homebrew/bin/exiftool")};
    return places;
}

std::optional<ExifTool> ExifTool::locate(const Places& places) {
    if (!places.resourceDirectory.isEmpty()) {
        const QDir resources(places.resourceDirectory);
        const QFileInfo bundled(resources.filePath(QStringLiteral("exiftool/exiftool")));
        // A bundled copy may have lost its executable bit in packaging; Perl runs it anyway.
        if (bundled.isFile() && bundled.isReadable())
            return ExifTool{bundled.filePath(), resources.filePath(QStringLiteral("exiftool/lib"))};
    }
    for (const QString& candidate : places.systemScripts) {
        const QFileInfo system(candidate);
        if (system.isFile() && system.isExecutable())
            return ExifTool{system.filePath(), QStringLiteral("/")};
    }
    return std::nullopt;
}

ExifTool::Output ExifTool::run(const QStringList& args) const {
    QProcess process;
    process.setProgram(perl);
    process.setArguments(QStringList{script} + args);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PERL5LIB"), libDirectory);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // Nothing we pass makes ExifTool read its input; should it ever, it must see an end
    // rather than wait on a terminal that pexilctl happens to run in.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) return Output{{}, process.errorString(), -1};
    // Waiting reads both pipes as data arrives, so a chatty stderr cannot stall the child.
    process.waitForFinished(-1);
    Output result;
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    result.error = QString::fromUtf8(process.readAllStandardError()).trimmed();
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

std::optional<QString> ExifTool::version() const {
    const QString text = run({QStringLiteral("-ver")}).output.trimmed();
    if (text.isEmpty()) return std::nullopt;
    return text;
}

QString ExifTool::number(double value) {
    // Plain fixed notation: the shortest digits that read back as the same double, without
    // the exponent form ExifTool's coordinate parser does not expect.
    char buffer[512];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (error != std::errc()) return QString::number(value, 'g', 17);
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    QString result = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (std::isfinite(value) && text.find('.') == std::string_view::npos)
        result += QStringLiteral(".0");
    return result;
}

QStringList ExifTool::tagArguments(const GeoPoint& point) {
    QStringList args;
    args << QStringLiteral("-GPSLatitude=") + number(std::fabs(point.lat));
    args << QStringLiteral("-GPSLatitudeRef=") +
                (point.lat >= 0 ? QStringLiteral("N") : QStringLiteral("S"));
    args << QStringLiteral("-GPSLongitude=") + number(std::fabs(point.lon));
    args << QStringLiteral("-GPSLongitudeRef=") +
                (point.lon >= 0 ? QStringLiteral("E") : QStringLiteral("W"));
    if (point.alt) {
        args << QStringLiteral("-GPSAltitude=") + number(std::fabs(*point.alt));
        // "#=" writes the number itself. Through the printed form ExifTool reads any number
        // not starting with "-" as "above sea level", so "=1" would store 0 and put a
        // picture taken below sea level above it.
        args << QStringLiteral("-GPSAltitudeRef#=") +
                    (*point.alt >= 0 ? QStringLiteral("0") : QStringLiteral("1"));
    }
    return args;
}

std::optional<QString> ExifTool::argumentFileLine(const QString& argument) {
    if (!needsCString(argument)) return argument;
    // A C-string line escapes every "$" and "@" before unescaping, so neither survives.
    if (argument.contains(u'$') || argument.contains(u'@')) return std::nullopt;
    QString line = QStringLiteral("#[CSTR]");
    line.reserve(line.size() + argument.size() + 8);
    for (const QChar c : argument) {
        switch (c.unicode()) {
            case u'\\':
                line += QStringLiteral("\\\\");
                break;
            case u'"':
                line += QStringLiteral("\\\"");
                break;
            case u'\n':
                line += QStringLiteral("\\n");
                break;
            case u'\r':
                line += QStringLiteral("\\r");
                break;
            case u'\t':
                line += QStringLiteral("\\t");
                break;
            default:
                line += c;
        }
    }
    return line;
}

GeoWriter::Report ExifTool::apply(const std::vector<GeoWriter::Match>& matches,
                                  const Progress& progress, const LogSink& log,
                                  const Places& places) {
    GeoWriter::Report report;
    if (matches.empty()) return report;
    if (const auto found = locate(places)) return found->write(matches, progress, log);
    const int total = static_cast<int>(matches.size());
    if (progress) progress(0, total);
    for (const auto& match : matches)
        report.failed.push_back(
            {QFileInfo(match.url).fileName(),
             refusal(match.point).value_or(QStringLiteral("exiftool が見つかりません"))});
    if (progress) progress(total, total);
    return report;
}

GeoWriter::Report ExifTool::write(const std::vector<GeoWriter::Match>& matches,
                                  const Progress& progress, const LogSink& log,
                                  const QString& temporaryDirectory) const {
    GeoWriter::Report report;
    if (matches.empty()) return report;
    const auto say = [&](const QString& line) {
        if (log) log(line);
    };
    const int total = static_cast<int>(matches.size());
    if (progress) progress(0, total);
    say(QStringLiteral("位置情報の書き込み開始: %1 件").arg(total));

    // A path is an argument of its own, alone on its line. Written plainly, a line break in a
    // file name would split it into several arguments, and the pieces would be read as
    // options acting on other pictures of the batch.
    QStringList fileLines;
    QStringList directArgs;
    std::vector<Run> runOf;
    runOf.reserve(matches.size());
    for (const auto& match : matches) {
        if (refusal(match.point)) {
            runOf.push_back(Run::refused);
            continue;
        }
        const QString path = QFileInfo(match.url).absoluteFilePath();
        const QStringList tags = tagArguments(match.point);
        if (const auto line = argumentFileLine(path)) {
            fileLines << tags << QStringLiteral("-overwrite_original") << *line
                      << QStringLiteral("-execute");
            runOf.push_back(Run::file);
        } else {
            directArgs << tags << QStringLiteral("-overwrite_original") << path
                       << QStringLiteral("-execute");
            runOf.push_back(Run::direct);
        }
    }

    const QString argumentFile =
        QDir(temporaryDirectory)
            .filePath(QStringLiteral("pexil-geo-") +
                      QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".args"));
    const auto finish = [&] {
        QFile::remove(argumentFile);
        if (progress) progress(total, total);
        return report;
    };

    if (!fileLines.isEmpty()) {
        QSaveFile file(argumentFile);
        bool saved = file.open(QIODevice::WriteOnly);
        if (saved) {
            // The list names the user's pictures; others on the machine need not read it.
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            const QByteArray text = fileLines.join(u'\n').toUtf8();
            saved = file.write(text) == text.size() && file.commit();
        }
        if (!saved) {
            say(QStringLiteral("作業ファイルを作れません: ") + argumentFile + QStringLiteral(" (") +
                file.errorString() + QStringLiteral(")"));
            for (const auto& match : matches)
                report.failed.push_back(
                    {QFileInfo(match.url).fileName(),
                     refusal(match.point).value_or(QStringLiteral("作業ファイルを作れません"))});
            return finish();
        }
    }

    const auto runLogged = [&](const QStringList& args) {
        Output result = run(args);
        QString line = QStringLiteral("exiftool 終了: status %1").arg(result.status);
        if (!result.error.isEmpty())
            line += QStringLiteral(" / ") + firstCharacters(result.error, 200);
        say(line);
        return result;
    };
    const QStringList common{QStringLiteral("-common_args"), QStringLiteral("-q")};
    Output fromFile, direct;
    if (!fileLines.isEmpty())
        fromFile = runLogged(QStringList{QStringLiteral("-@"), argumentFile} + common);
    if (!directArgs.isEmpty()) direct = runLogged(directArgs + common);

    // ExifTool's status says little about single pictures; what counts is what they carry now.
    for (std::size_t i = 0; i < matches.size(); ++i) {
        const QString name = QFileInfo(matches[i].url).fileName();
        // Checked before the GPS test: a picture tagged before still did not get this point.
        if (runOf[i] == Run::refused) {
            report.failed.push_back({name, *refusal(matches[i].point)});
            continue;
        }
        if (GeoWriter::hasGPS(matches[i].url)) {
            report.written << name;
            continue;
        }
        const QString& error = runOf[i] == Run::file ? fromFile.error : direct.error;
        report.failed.push_back(
            {name, error.isEmpty() ? QStringLiteral("書き込まれませんでした") : error});
    }
    say(QStringLiteral("書き込み完了: 成功 %1 / 失敗 %2")
            .arg(report.written.size())
            .arg(report.failed.size()));
    return finish();
}

}  // namespace pexil
