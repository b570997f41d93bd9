#include "app/card/CardModel.h"

#include "app/base/Preferences.h"
#include "app/geo/GeoStore.h"
#include "app/geo/GeoWriter.h"
#include "camera/service/CameraFileSource.h"
#include "kit/async/WorkQueue.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace pexil {

namespace {

// Newest first; an item without a date is older than any dated one; equal dates put the
// greater id first.
bool newerFirst(const CardItem& a, const CardItem& b) {
    if (a.captured.has_value() != b.captured.has_value()) return a.captured.has_value();
    if (a.captured && *a.captured != *b.captured) return *a.captured > *b.captured;
    return a.id > b.id;
}

}  // namespace

CardModel::CardModel(async::Runtime& runtime, Log& log, CameraLink& link, GeoStore& geo,
                     ImportLedger& ledger, QSettings& settings, Options options, QObject* parent)
    : QObject(parent),
      runtime_(runtime),
      log_(log),
      link_(link),
      geo_(geo),
      ledger_(ledger),
      settings_(settings),
      options_(std::move(options)),
      scope_(runtime) {
    destination = [](const QDateTime&) { return Preferences::defaultBaseDestination(); };
    serial = [] { return QStringLiteral("?"); };
    fileSource = [](const CameraLink::CameraFilePtr& file) -> std::shared_ptr<CardFileSource> {
        return std::make_shared<camera::CameraFileSource>(file);
    };
    writeLocations_ = Preferences::storedBool(settings_, writeLocationsKey()).value_or(true);
}

CardModel::~CardModel() {
    // Tasks first: none may resume into members destroyed below. The queues then finish what
    // they hold, which touches nothing of the model.
    scope_.cancelAll();
}

async::Executor& CardModel::decodeQueue() {
    if (options_.decodeQueue) return *options_.decodeQueue;
    if (!ownDecodeQueue_)
        ownDecodeQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.card"), 2);
    return *ownDecodeQueue_;
}

async::Executor& CardModel::writeQueue() {
    if (options_.writeQueue) return *options_.writeQueue;
    if (!ownWriteQueue_)
        ownWriteQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.geowrite"));
    return *ownWriteQueue_;
}

// --- derived ---

CardItems CardModel::unimported() const {
    CardItems out;
    for (const CardItem& item : items_)
        if (!item.imported) out.push_back(item);
    return out;
}

int CardModel::locatableCount() const {
    return static_cast<int>(
        std::count_if(items_.begin(), items_.end(), [](const CardItem& i) { return i.locatable; }));
}

const CardItem* CardModel::item(const QString& id) const {
    const auto at = indexOf(id);
    return at ? &items_[*at] : nullptr;
}

CardItem* CardModel::findItem(const QString& id) {
    const auto at = indexOf(id);
    return at ? &items_[*at] : nullptr;
}

std::optional<std::size_t> CardModel::indexOf(const QString& id) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].id == id) return i;
    return std::nullopt;
}

std::shared_ptr<CardFileSource> CardModel::sourceOf(const CameraLink::CameraFilePtr& file) const {
    return file ? fileSource(file) : nullptr;
}

// --- catalogue ---

std::optional<GeoWriter> CardModel::geoWriter() const {
    const auto& payload = geo_.payload();
    if (!payload) return std::nullopt;
    return GeoWriter(*payload, GeoWriter::defaultTolerance, false);
}

QString CardModel::folderFor(const std::optional<QDateTime>& captured) const {
    // Date subfolders follow the capture date, so a card of last week lands in last week's.
    return destination(captured ? *captured : runtime_.clock().now());
}

bool CardModel::existsInDestination(const CardItem& item) const {
    // The name the link would save it under: a camera name is outside data and never used as
    // a path as it stands.
    const QFileInfo info(
        QDir(folderFor(item.captured)).filePath(CameraLink::savedNameFor(item.name)));
    if (!info.isFile() || info.size() != item.size) return false;
    // Name and size alone are often shared: two bodies numbering alike, a counter that wrapped.
    // Marking another picture's twin as imported would let the card be formatted with this
    // one never copied, so the capture time must agree too, where both sides have one.
    if (!item.captured) return true;
    const auto taken = takenAt(info);
    return !taken || sameSecond(*taken, *item.captured);
}

std::optional<QDateTime> CardModel::takenAt(const QFileInfo& info) const {
    const QString path = info.absoluteFilePath();
    const QDateTime modified = info.lastModified();
    // Rewritten in place or replaced by another file, it changes at least one of these.
    const Taken::Version version{info.size(), modified, info.metadataChangeTime()};
    if (const auto it = takenCache_.find(path);
        it != takenCache_.end() && it->second.version == version)
        return it->second.at;
    std::optional<QDateTime> at = GeoWriter::captureDate(path);
    if (!at && modified.isValid()) at = modified;
    takenCache_[path] = Taken{version, at};
    return at;
}

bool CardModel::sameSecond(const QDateTime& a, const QDateTime& b) {
    // The camera's clock reads as local time and so does EXIF; a value that came with a zone
    // of its own is compared by its clock reading as well, so the same moment written down in
    // two zones still agrees.
    if (a.toSecsSinceEpoch() == b.toSecsSinceEpoch()) return true;
    const auto wall = [](const QDateTime& t) {
        return QDateTime(t.date(), t.time(), Qt::UTC).toSecsSinceEpoch();
    };
    return wall(a) == wall(b);
}

void CardModel::refresh() {
    const auto& files = link_.cardFiles();
    const bool wasLoading = loading_;
    // Only a camera that is there can be loading its card; without one there is nothing to wait for.
    setLoading(link_.camera() != nullptr && !link_.cardSettled());
    setExpected(link_.cardExpected());
    if (files.empty()) {
        if (!items_.empty()) reset();
        return;
    }
    const auto writer = geoWriter();
    std::map<QString, QImage> thumbnails;
    for (CardItem& previous : items_)
        if (!previous.thumbnail.isNull())
            thumbnails.emplace(previous.id, std::move(previous.thumbnail));
    const QString serialNumber = serial();

    CardItems built;
    built.reserve(files.size());
    for (const auto& [key, file] : files) {
        CardItem item;
        item.id = key;
        item.file = file;
        item.name = file && !file->name().isEmpty() ? file->name() : QStringLiteral("?");
        item.size = file ? static_cast<qint64>(file->fileSize()) : 0;
        item.captured = file ? file->creationDate() : std::nullopt;
        if (auto thumb = thumbnails.find(key); thumb != thumbnails.end())
            item.thumbnail = std::move(thumb->second);
        // A fresh shot the link is saving counts from the moment it was taken on: importing
        // it again would put a second copy beside the one tethering writes.
        item.imported = ledger_.contains(
                            ImportLedger::key(serialNumber, item.name, item.size, item.captured)) ||
                        (file && link_.isClaimed(*file)) || existsInDestination(item);
        item.locatable = writer && writer->canLocate(item.name, item.captured);
        built.push_back(std::move(item));
    }
    sortNewestFirst(built);
    items_ = std::move(built);

    std::set<QString> kept;
    for (const QString& id : selection_)
        if (indexOf(id)) kept.insert(id);
    setSelection(std::move(kept));
    emit itemsChanged();

    if (wasLoading && !loading_) runThumbnailQueue();
}

void CardModel::sortNewestFirst(CardItems& items) {
    std::stable_sort(items.begin(), items.end(), newerFirst);
}

void CardModel::reset() {
    const bool hadItems = !items_.empty();
    items_.clear();
    setSelection({});
    setFocus(std::nullopt);
    cancelPreview();
    setPreview(QImage());
    thumbnailRequested_.clear();
    thumbnailQueue_.clear();
    cancelThumbnailWorker();
    setLoading(false);
    setExpected(std::nullopt);
    if (hadItems) emit itemsChanged();
}

void CardModel::geoChanged() {
    const auto writer = geoWriter();
    for (CardItem& item : items_)
        item.locatable = writer && writer->canLocate(item.name, item.captured);
    emit itemsChanged();
}

// --- selection and focus ---

void CardModel::click(const QString& id, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::ControlModifier)) {
        std::set<QString> next = selection_;
        if (!next.erase(id)) next.insert(id);
        anchor_ = id;
        setSelection(std::move(next));
        return;
    }
    if (modifiers.testFlag(Qt::ShiftModifier) && anchor_) {
        const auto from = indexOf(*anchor_);
        const auto to = indexOf(id);
        if (from && to) {
            std::set<QString> range;
            for (std::size_t i = std::min(*from, *to); i <= std::max(*from, *to); ++i)
                range.insert(items_[i].id);
            setSelection(std::move(range));
            return;
        }
    }
    anchor_ = id;
    setSelection({id});
}

void CardModel::select(const std::set<QString>& ids) {
    std::set<QString> next;
    for (const QString& id : ids)
        if (indexOf(id)) next.insert(id);
    setSelection(std::move(next));
}

void CardModel::step(int offset) {
    if (!focus_) return;
    const auto at = indexOf(*focus_);
    if (!at) return;
    const auto target = static_cast<long long>(*at) + offset;
    if (target < 0 || target >= static_cast<long long>(items_.size())) return;
    const QString id = items_[static_cast<std::size_t>(target)].id;
    anchor_ = id;
    setSelection({id});
    open(id);
}

// --- state setters that notify ---

void CardModel::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    emit activeChanged();
}

void CardModel::setWriteLocations(bool on) {
    settings_.setValue(writeLocationsKey(), on);
    settings_.sync();
    if (writeLocations_ == on) return;
    writeLocations_ = on;
    emit writeLocationsChanged();
}

void CardModel::setSelection(std::set<QString> selection) {
    if (selection_ == selection) return;
    selection_ = std::move(selection);
    emit selectionChanged();
}

void CardModel::setFocus(std::optional<QString> focus) {
    if (focus_ == focus) return;
    focus_ = std::move(focus);
    emit focusChanged();
}

void CardModel::setPreview(QImage image) {
    if (preview_.isNull() && image.isNull()) return;
    preview_ = std::move(image);
    emit previewChanged();
}

void CardModel::setLoading(bool loading) {
    if (loading_ == loading) return;
    loading_ = loading;
    emit loadingChanged();
}

void CardModel::setExpected(std::optional<int> expected) {
    if (expected_ == expected) return;
    expected_ = expected;
    emit expectedChanged();
}

void CardModel::setImportPhase(std::optional<ImportPhase> phase) {
    if (importPhase_ == phase) return;
    importPhase_ = phase;
    emit importPhaseChanged();
}

void CardModel::setLastSummary(std::optional<QString> summary) {
    if (lastSummary_ == summary) return;
    lastSummary_ = std::move(summary);
    emit lastSummaryChanged();
}

}  // namespace pexil
