#include "app/geo/GeoWriter.h"

#include "app/geo/ExifDate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <array>
#include <mutex>
#include <string>
#include <utility>

namespace pexil {

namespace {

constexpr std::array<QLatin1StringView, 14> pictureExtensions{
    QLatin1StringView("nef"), QLatin1StringView("nrw"),  QLatin1StringView("cr2"),
    QLatin1StringView("cr3"), QLatin1StringView("arw"),  QLatin1StringView("raf"),
    QLatin1StringView("dng"), QLatin1StringView("orf"),  QLatin1StringView("rw2"),
    QLatin1StringView("jpg"), QLatin1StringView("jpeg"), QLatin1StringView("heic"),
    QLatin1StringView("tif"), QLatin1StringView("tiff")};

// Exiv2 keeps process-wide state that is not safe to set up from two threads at once (the XMP
// toolkit initialises itself lazily on the first packet it decodes), and scans run on several
// threads. Setting it up once, before any file is read, is the library's documented remedy.
// Its warnings about odd maker notes would land on the terminal of pexilctl and say nothing
// a user can act on; every failure here already means "no date" or "no GPS".
void prepareExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // HEIC and CR3 are ISO media files, which this Exiv2 reads only when asked to.
        Exiv2::enableBMFF(true);
    });
}

struct PictureMeta {
    std::optional<QString> dateTimeOriginal;
    bool gps = false;
};

// Everything any caller needs from one opening of the file: a scan asks for both answers, and
// a raw file's metadata is not cheap to read twice.
PictureMeta readMeta(const QString& path) {
    prepareExiv2();
    PictureMeta meta;
    try {
        // Absolute: Exiv2 takes a path beginning with "-" or "http://" for standard input or a
        // URL.
        const auto image = Exiv2::ImageFactory::open(
            QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString(), false);
        if (image.get() == nullptr) return meta;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        const auto date = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        if (date != exif.end() && date->typeId() == Exiv2::asciiString)
            meta.dateTimeOriginal = QString::fromStdString(date->toString());
        meta.gps = std::any_of(exif.begin(), exif.end(), [](const Exiv2::Exifdatum& datum) {
            return datum.groupName() == "GPSInfo";
        });
    } catch (const std::exception&) {
        // Exiv2::AnyError for files it cannot read, std::bad_alloc for absurd sizes in a
        // broken file: both mean the picture has no metadata we can use.
        return {};
    }
    return meta;
}

std::uint64_t distance(qint64 a, qint64 b) {
    // Unsigned, so that two far-apart times cannot overflow.
    return a >= b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                  : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

}  // namespace

struct GeoWriter::State {
    struct Entry {
        qint64 ms;
        std::size_t index;
    };
    GeoPayload payload;
    std::vector<Entry> byTime;  // sorted by time, then by position in the track
};

GeoWriter::GeoWriter(GeoPayload payload, double tolerance, bool overwriteExisting,
                     std::optional<QTimeZone> zone)
    : tolerance_(tolerance), overwriteExisting_(overwriteExisting), zone_(std::move(zone)) {
    auto state = std::make_shared<State>();
    state->payload = std::move(payload);
    const auto& track = state->payload.track;
    state->byTime.reserve(track.size());
    for (std::size_t i = 0; i < track.size(); ++i)
        if (track[i].time.isValid())
            state->byTime.push_back({track[i].time.toMSecsSinceEpoch(), i});
    std::sort(state->byTime.begin(), state->byTime.end(), [](const auto& a, const auto& b) {
        return a.ms != b.ms ? a.ms < b.ms : a.index < b.index;
    });
    state_ = std::move(state);
}

const GeoPayload& GeoWriter::payload() const {
    return state_->payload;
}

QTimeZone GeoWriter::zone() const {
    return zone_ ? *zone_ : QTimeZone::systemTimeZone();
}

std::optional<QDateTime> GeoWriter::captureDate(const QString& path, const QTimeZone& zone) {
    const PictureMeta meta = readMeta(path);
    if (!meta.dateTimeOriginal) return std::nullopt;
    return parseExifDate(*meta.dateTimeOriginal, zone);
}

bool GeoWriter::hasGPS(const QString& path) {
    return readMeta(path).gps;
}

bool GeoWriter::isPictureName(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix();
    return std::any_of(
        pictureExtensions.begin(), pictureExtensions.end(),
        [&](QLatin1StringView ext) { return suffix.compare(ext, Qt::CaseInsensitive) == 0; });
}

bool GeoWriter::scanOrder(const QString& a, const QString& b) {
    // UTF-16 comparison would put characters beyond U+FFFF (surrogates) before U+E000..U+FFFF;
    // UTF-8 bytes compare in code point order.
    return a.toUtf8() < b.toUtf8();
}

QStringList GeoWriter::pictures(const QString& folder) {
    const QDir dir(folder);
    // Directories never: a folder named like a picture would hand ExifTool a whole tree.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    std::vector<std::pair<QByteArray, QString>> found;
    for (const QFileInfo& entry : entries)
        if (isPictureName(entry.fileName()))
            found.emplace_back(entry.fileName().toUtf8(), entry.filePath());
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(found.size()));
    for (auto& [name, path] : found) paths << std::move(path);
    return paths;
}

std::optional<GeoWriter::Nearest> GeoWriter::nearest(const QDateTime& time) const {
    const auto& byTime = state_->byTime;
    if (byTime.empty() || !time.isValid()) return std::nullopt;
    const qint64 at = time.toMSecsSinceEpoch();
    const auto byMs = [](const State::Entry& e, qint64 ms) { return e.ms < ms; };
    const auto after = std::lower_bound(byTime.begin(), byTime.end(), at, byMs);

    // The nearest distance is that of the last point not later than `at` or of the first not
    // earlier. Every point at that distance sits in one of (at most) two runs of equal times,
    // and the first entry of a run is its earliest in track order.
    std::optional<Nearest> best;
    const auto consider = [&](std::size_t index, std::uint64_t d) {
        if (!best || d < best->distanceMs || (d == best->distanceMs && index < best->index))
            best = Nearest{index, d};
    };
    if (after != byTime.end()) consider(after->index, distance(after->ms, at));
    if (after != byTime.begin()) {
        const qint64 beforeMs = std::prev(after)->ms;
        const auto run = std::lower_bound(byTime.begin(), after, beforeMs, byMs);
        consider(run->index, distance(at, beforeMs));
    }
    return best;
}

std::optional<GeoWriter::Nearest> GeoWriter::withinTolerance(
    const std::optional<QDateTime>& captured) const {
    if (!captured) return std::nullopt;
    const auto found = nearest(*captured);
    if (!found || !(static_cast<double>(found->distanceMs) / 1000.0 <= tolerance_))
        return std::nullopt;
    return found;
}

std::optional<GeoWriter::Match> GeoWriter::matchWith(
    const QString& path, const std::optional<QDateTime>& captured) const {
    const auto& payload = state_->payload;
    const auto shot = payload.shots.find(QFileInfo(path).fileName());
    if (shot != payload.shots.end()) return Match{path, shot->second, true, captured, {}};
    const auto found = withinTolerance(captured);
    if (!found) return std::nullopt;
    return Match{path, payload.track[found->index], false, captured,
                 static_cast<double>(found->distanceMs) / 1000.0};
}

std::optional<GeoWriter::Match> GeoWriter::match(const QString& path) const {
    return matchWith(path, captureDate(path, zone()));
}

bool GeoWriter::canLocate(const QString& name, const std::optional<QDateTime>& captured) const {
    return state_->payload.shots.contains(name) || withinTolerance(captured).has_value();
}

GeoWriter::Plan GeoWriter::plan(const QString& folder) const {
    Plan plan;
    const QTimeZone zone = this->zone();
    for (const QString& path : pictures(folder)) {
        const PictureMeta meta = readMeta(path);
        if (!overwriteExisting_ && meta.gps) {
            plan.alreadyTagged << path;
            continue;
        }
        const auto captured =
            meta.dateTimeOriginal ? parseExifDate(*meta.dateTimeOriginal, zone) : std::nullopt;
        if (auto found = matchWith(path, captured)) {
            plan.matches.push_back(std::move(*found));
        } else {
            plan.unmatched << path;
        }
    }
    return plan;
}

}  // namespace pexil
