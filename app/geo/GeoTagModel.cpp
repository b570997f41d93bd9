#include "app/geo/GeoTagModel.h"

#include "app/geo/GeoJson.h"
#include "kit/async/WorkQueue.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <cmath>
#include <utility>

namespace pexil {

namespace {

const QString unreadablePrefix = QStringLiteral("位置情報ファイルを読めません: ");
// A record of a day's shooting is a few megabytes; a file far beyond that is not a record,
// and reading it whole on the main thread would freeze the window.
constexpr qint64 payloadFileLimit = 256LL * 1024 * 1024;

QString monthDayTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("M/d HH:mm"));
}

}  // namespace

const std::vector<GeoTagModel::Tolerance>& GeoTagModel::toleranceChoices() {
    static const std::vector<Tolerance> choices{
        {QStringLiteral("30秒"), 30},
        {QStringLiteral("2分"), 120},
        {QStringLiteral("10分"), 600},
        {QStringLiteral("1時間"), 3600},
    };
    return choices;
}

GeoTagModel::GeoTagModel(async::Runtime& runtime, Options options, QObject* parent)
    : QObject(parent), runtime_(runtime), options_(std::move(options)) {
    if (options_.workQueue) {
        queue_ = options_.workQueue;
    } else {
        ownQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("geotag"), 2);
        queue_ = ownQueue_.get();
    }
    exifTool_ = ExifTool::locate(options_.places);
    if (!exifTool_) return;
    inBackground([tool = *exifTool_] { return tool.version(); },
                 [this](std::optional<QString> version) {
                     exifToolVersion_ = std::move(version);
                     emit stateChanged();
                 });
}

GeoTagModel::~GeoTagModel() = default;

template <class Work, class Done>
void GeoTagModel::inBackground(Work work, Done done) {
    // The virtual clock of tests waits for work out on a queue before it moves on.
    auto pending = std::make_shared<async::ExternalWork>(runtime_.externalWork());
    async::Executor& main = runtime_.main();
    queue_->post([work = std::move(work), done = std::move(done), self = QPointer(this), &main,
                  pending]() mutable {
        auto result = work();
        main.post([done = std::move(done), self, result = std::move(result)]() mutable {
            if (self) done(std::move(result));
        });
        pending->release();
    });
}

bool GeoTagModel::canApply() const {
    return !matches_.empty() && !working_ && !scanning_ && exifToolVersion_.has_value();
}

GeoWriter GeoTagModel::writer() const {
    return GeoWriter(*payload_, tolerance_, overwriteExisting_, options_.zone);
}

void GeoTagModel::adopt(const GeoPayload& payload, const QString& sender) {
    payload_ = payload;
    payloadName_ = sender + QStringLiteral(" から受信");
    report_.reset();
    emit stateChanged();
    rescan();
}

void GeoTagModel::loadPayload(const QString& path) {
    const auto fail = [this](const QString& why) {
        problem_ = unreadablePrefix + why;
        emit stateChanged();
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    if (file.size() > payloadFileLimit) return fail(QStringLiteral("ファイルが大きすぎます"));
    const QByteArray json = file.readAll();
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());
    auto decoded =
        GeoJson::decodePayload(ByteView(reinterpret_cast<const std::uint8_t*>(json.constData()),
                                        static_cast<std::size_t>(json.size())));
    if (!decoded) return fail(decoded.error());
    payload_ = std::move(decoded).value();
    payloadName_ = QFileInfo(path).fileName();
    report_.reset();
    emit stateChanged();
    rescan();
}

void GeoTagModel::setFolder(const QString& folder) {
    folder_ = folder;
    emit stateChanged();
    rescan();
}

void GeoTagModel::setTolerance(double seconds) {
    if (seconds == tolerance_) return;
    tolerance_ = seconds;
    emit stateChanged();
    rescan();
}

void GeoTagModel::setOverwriteExisting(bool overwrite) {
    if (overwrite == overwriteExisting_) return;
    overwriteExisting_ = overwrite;
    emit stateChanged();
    rescan();
}

void GeoTagModel::clearProblem() {
    if (!problem_) return;
    problem_.reset();
    emit stateChanged();
}

void GeoTagModel::rescan() {
    // Whatever scan is still out is superseded from here on, also by an empty result.
    const std::uint64_t generation = ++scanGeneration_;
    if (!payload_ || !folder_) {
        scanning_ = false;
        setResults({});
        emit stateChanged();
        return;
    }
    scanning_ = true;
    emit stateChanged();
    inBackground([writer = writer(), folder = *folder_] { return writer.plan(folder); },
                 [this, generation](GeoWriter::Plan plan) {
                     if (generation != scanGeneration_) return;  // made for other choices
                     scanning_ = false;
                     setResults(std::move(plan));
                     emit stateChanged();
                 });
}

void GeoTagModel::setResults(GeoWriter::Plan plan) {
    matches_ = std::move(plan.matches);
    unmatched_ = std::move(plan.unmatched);
    alreadyTagged_ = std::move(plan.alreadyTagged);
    emit resultsChanged();
}

void GeoTagModel::apply() {
    if (!payload_ || matches_.empty() || working_ || scanning_) return;
    working_ = true;
    report_.reset();
    emit stateChanged();
    inBackground([matches = matches_, places = options_.places,
                  log = options_.log] { return ExifTool::apply(matches, {}, log, places); },
                 [this](GeoWriter::Report report) {
                     report_ = std::move(report);
                     working_ = false;
                     emit stateChanged();
                     // Pictures that now carry GPS data move to "already tagged" unless
                     // overwriting.
                     rescan();
                 });
}

std::optional<QString> GeoTagModel::payloadSummary() const {
    if (!payload_) return std::nullopt;
    QStringList parts{
        QStringLiteral("正確な位置 %1 件").arg(payload_->shots.size()),
        QStringLiteral("軌跡 %1 点").arg(payload_->track.size()),
    };
    if (const auto range = payload_->trackRange())
        parts << monthDayTime(range->first) + QStringLiteral("〜") + monthDayTime(range->second);
    return parts.join(QStringLiteral(" / "));
}

std::optional<QString> GeoTagModel::folderSummary() const {
    if (!folder_) return std::nullopt;
    const auto total = matches_.size() + static_cast<std::size_t>(unmatched_.size()) +
                       static_cast<std::size_t>(alreadyTagged_.size());
    return QStringLiteral("対象 %1 件").arg(total);
}

GeoTagModel::Tally GeoTagModel::tally() const {
    Tally t;
    for (const GeoWriter::Match& match : matches_) ++(match.exact ? t.exact : t.estimated);
    t.alreadyTagged = static_cast<int>(alreadyTagged_.size());
    t.unmatched = static_cast<int>(unmatched_.size());
    return t;
}

std::optional<QString> GeoTagModel::writtenText() const {
    if (!report_ || report_->written.isEmpty()) return std::nullopt;
    return QStringLiteral("%1 件に書き込みました").arg(report_->written.size());
}

std::optional<QString> GeoTagModel::failedText() const {
    if (!report_ || report_->failed.empty()) return std::nullopt;
    // Concatenated: the reason is ExifTool's own text and may hold "%1".
    return QString::number(report_->failed.size()) + QStringLiteral(" 件は書き込めませんでした: ") +
           report_->failed.front().reason;
}

std::optional<QString> GeoTagModel::gapText(const GeoWriter::Match& match) {
    if (match.exact || !match.gap) return std::nullopt;
    return QStringLiteral("±%1秒").arg(static_cast<long long>(std::trunc(*match.gap)));
}

QString GeoTagModel::positionText(const GeoPoint& point) {
    // Qt's own formatting: the C library's would follow LC_NUMERIC ("35,6812" in some locales).
    return QString::asprintf("%.4f, %.4f", point.lat, point.lon);
}

}  // namespace pexil
