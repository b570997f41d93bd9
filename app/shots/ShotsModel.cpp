#include "app/shots/ShotsModel.h"

#include "app/shots/Thumbnailer.h"
#include "app/shots/XmpSidecar.h"
#include "kit/async/WorkQueue.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace pexil {

namespace {
constexpr int thumbnailPixels = 1200;
constexpr int previewPixels = 4288;
// A camera's EXIF thumbnail (160 × 120) fills a filmstrip cell and is read in a few
// milliseconds, where decoding a 24 MP picture even at a quarter of its size takes a tenth of
// a second: the shot is on screen at once, and the preview pane gets a 1200-pixel picture
// (sharp at the pane's fit) before the full preview, which takes a third of a second.
constexpr int filmstripPixels = 160;
// A shot the pane has shown keeps its 1200-pixel thumbnail (the pane's picture until the full
// preview is in) while it is among the newest few or selected; older shots keep a copy of the
// filmstrip cell's size. At 3.8 MB a thumbnail, a day's thousand shots would otherwise hold
// gigabytes.
constexpr std::size_t largeThumbnailShots = 3;
constexpr int agedThumbnailPixels = 128;
// The smallest picture a shot's histogram and clipping marks are worked out from.
constexpr int analysedPixels = 600;

int longSide(const QImage& image) { return std::max(image.width(), image.height()); }

QString accessibleText(const Shot& shot) {
    const QString name = QFileInfo(shot.path).fileName();
    // Until the picture is read, the time it arrived stands in for the time it was taken.
    const bool read = shot.meta.captured.has_value();
    const QString when = dateTimeText(read ? shot.meta.captured : std::optional(shot.arrived));
    if (when.isEmpty()) return name;
    return name + QStringLiteral("、") + when +
           (read ? QStringLiteral(" 撮影") : QStringLiteral(" 受信"));
}

QString accessibleDescription(const Shot& shot, bool shown, bool unseen) {
    QStringList parts;
    if (const QString summary = shot.meta.summary(); !summary.isEmpty()) parts << summary;
    if (const QString marked = shot.mark.spoken(); !marked.isEmpty()) parts << marked;
    if (shown) parts << QStringLiteral("表示中");
    if (unseen) parts << QStringLiteral("新着");
    if (const QString note = shot.clientNoteText(); !note.isEmpty()) parts << note;
    return parts.join(QStringLiteral("、"));
}
}  // namespace

ShotsModel::ShotsModel(async::Runtime& runtime, async::Executor& decodeQueue, QObject* parent)
    : QAbstractListModel(parent), decodeQueue_(decodeQueue), scope_(runtime) {}

ShotsModel::~ShotsModel() = default;

int ShotsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shots_.size());
}

QVariant ShotsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Shot& shot = shots_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return QFileInfo(shot.path).fileName();
        case Qt::ToolTipRole: {
            const QString note = shot.clientNoteText();
            return QFileInfo(shot.path).fileName() + (note.isEmpty() ? QString() : u'\n' + note);
        }
        case Qt::DecorationRole: return shot.thumbnail;
        case Qt::AccessibleTextRole: return accessibleText(shot);
        case Qt::AccessibleDescriptionRole:
            return accessibleDescription(shot, index.row() == shownRow_,
                                         unseen_.count(shot.id) > 0);
        case IdRole: return shot.id;
        case PathRole: return shot.path;
        case SelectedRole: return index.row() == shownRow_;
        case NewRole:
            return unseen_.count(shot.id) > 0;
        case RatingRole:
            return shot.mark.rating;
        case PickedRole:
            return shot.mark.picked;
        case ClientFavouriteRole:
            return shot.clientFavourite;
        default: return {};
    }
}

int ShotsModel::rowOf(const QUuid& id) const {
    const auto it = std::find_if(shots_.begin(), shots_.end(), [&id](const Shot& s) { return s.id == id; });
    return it == shots_.end() ? -1 : static_cast<int>(it - shots_.begin());
}

const Shot* ShotsModel::shot(const QUuid& id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &shots_[static_cast<std::size_t>(row)];
}

Shot* ShotsModel::find(const QUuid& id) {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &shots_[static_cast<std::size_t>(row)];
}

const Shot* ShotsModel::shown() const {
    if (shots_.empty()) return nullptr;
    if (selection_)
        if (const Shot* selected = shot(*selection_)) return selected;
    return &shots_.front();
}

QUuid ShotsModel::add(const QString& path, const QDateTime& arrived,
                      std::optional<int> colorTemperature) {
    Shot shot;
    shot.id = QUuid::createUuid();
    shot.path = path;
    shot.arrived = arrived;
    shot.colorTemperature = colorTemperature;
    // Rows inserted at the top: the view keeps its scroll position and needs no full relayout.
    beginInsertRows({}, 0, 0);
    shots_.insert(shots_.begin(), shot);
    if (shownRow_ >= 0) ++shownRow_;
    endInsertRows();
    emit shotsChanged();
    if (!selection_ || (followNew_ && !held_)) {
        setSelection(shot.id);
    } else {
        unseen_.insert(shot.id);
        emit newCountChanged();
    }
    scope_.spawn(decodeThumbnail(shot.id, path));
    return shot.id;
}

void ShotsModel::select(const QUuid& id) {
    if (!shot(id)) return;
    setSelection(id);
    loadFullPreview(id);
}

void ShotsModel::setSelection(const QUuid& id) {
    if (selection_ != id) {
        selection_ = id;
        emit selectionChanged();
        if (aids_.analyses()) {
            // The marks of the shot before must not lie over this one.
            analysed_.reset();
            analysis_ = {};
            emit analysisChanged();
            analyseShown();
        }
    }
    // A shot marked new is never the one shown, so the rows told below include it.
    if (unseen_.erase(id) > 0) emit newCountChanged();
    const int row = rowOf(id);
    if (row == shownRow_) return;
    const int before = shownRow_;
    shownRow_ = row;
    for (const int r : {before, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r), index(r),
                             {SelectedRole, NewRole, Qt::AccessibleDescriptionRole});
}

void ShotsModel::setAids(const LiveAids& aids) {
    LiveAids wanted;
    wanted.histogram = aids.histogram;
    wanted.clipping = aids.clipping;
    if (wanted == aids_) return;
    aids_ = wanted;
    analysed_.reset();
    analysis_ = {};
    emit analysisChanged();
    analyseShown();
}

void ShotsModel::analyseShown() {
    const Shot* s = shown();
    if (!aids_.analyses() || !s || s->thumbnail.isNull()) return;
    if (analysed_ == s->id && analysedPicture_ == s->thumbnail.cacheKey()) return;
    // A camera's 160-pixel thumbnail says little of clipping; its sharp picture is on its way.
    if (longSide(s->thumbnail) < analysedPixels) return;
    analysed_ = s->id;
    analysedPicture_ = s->thumbnail.cacheKey();
    scope_.spawn(analyse(s->id, s->thumbnail, aids_));
}

async::Task<void> ShotsModel::analyse(QUuid id, QImage picture, LiveAids aids) {
    const qint64 key = picture.cacheKey();
    // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
    auto work = [picture, aids] { return analyseFrame(picture, aids, 0); };
    FrameAnalysis result = co_await async::runOn(decodeQueue_, std::move(work));
    // Another shot or a sharper picture meanwhile: its own analysis follows.
    if (analysed_ != id || analysedPicture_ != key) co_return;
    analysis_ = std::move(result);
    emit analysisChanged();
}

void ShotsModel::changed(const QUuid& id) {
    // The picture read brings the time it was taken and its exposure with the thumbnail.
    if (const int row = rowOf(id); row >= 0)
        emit dataChanged(index(row), index(row),
                         {Qt::DecorationRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
    emit shotUpdated(id);
    if (const Shot* s = shown(); s && s->id == id) analyseShown();
}

void ShotsModel::mark(const QUuid& id, const ShotMark& mark) {
    Shot* shot = find(id);
    if (!shot || shot->mark == mark) return;
    shot->mark = mark;
    const int row = rowOf(id);
    emit dataChanged(index(row), index(row),
                     {RatingRole, PickedRole, Qt::AccessibleDescriptionRole});
    emit shotUpdated(id);
    // Not a favourite here may still be one from an earlier run: that label stays.
    writeSidecar(shot->path, {mark, shot->clientFavourite ? std::optional(true) : std::nullopt});
}

void ShotsModel::setClientNote(const QUuid& id, bool favourite, const QString& comment) {
    Shot* shot = find(id);
    if (!shot || (shot->clientFavourite == favourite && shot->clientComment == comment)) return;
    // The favourite goes to the sidecar's label for the raw editors; the comment stays here.
    if (shot->clientFavourite != favourite) writeSidecar(shot->path, {shot->mark, favourite});
    shot->clientFavourite = favourite;
    shot->clientComment = comment;
    const int row = rowOf(id);
    emit dataChanged(index(row), index(row),
                     {ClientFavouriteRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
    emit shotUpdated(id);
}

void ShotsModel::markFile(const QString& path, const ShotMark& mark) {
    const auto it = std::find_if(shots_.begin(), shots_.end(),
                                 [&path](const Shot& shot) { return shot.path == path; });
    if (it != shots_.end())
        this->mark(it->id, mark);
    else
        writeSidecar(path, {mark, std::nullopt});
}

void ShotsModel::writeSidecar(const QString& path, const SidecarMarks& marks) {
    // One write per sidecar at a time, on a queue of several threads: keys pressed quickly
    // must leave the last mark on disk, not whichever thread finished last.
    auto [waiting, idle] = marksWriting_.try_emplace(path);
    if (!idle) {
        // A favourite waiting to be written is kept by a later write that does not know it.
        const auto favourite = marks.clientFavourite || !waiting->second
                                   ? marks.clientFavourite
                                   : waiting->second->clientFavourite;
        waiting->second = SidecarMarks{marks.mark, favourite};
        return;
    }
    scope_.spawn(writeMarks(path, marks));
}

async::Task<void> ShotsModel::writeMarks(QString path, SidecarMarks marks) {
    for (;;) {
        // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
        auto work = [path, marks] {
            return XmpSidecar::write(path, marks.mark, marks.clientFavourite);
        };
        const auto failure = co_await async::runOn(decodeQueue_, std::move(work));
        if (failure) emit markFailed(*failure);
        const auto next = marksWriting_.find(path);
        if (next == marksWriting_.end() || !next->second) {
            if (next != marksWriting_.end()) marksWriting_.erase(next);
            co_return;
        }
        marks = *std::exchange(next->second, std::nullopt);
    }
}

void ShotsModel::loadFullPreview(const QUuid& id) {
    const Shot* wanted = shot(id);
    if (!wanted || fullPreviewID_ == id) return;
    fullPreviewID_ = id;
    const std::uint64_t generation = ++*previewGeneration_;
    if (!fullPreview_.isNull()) {
        fullPreview_ = QImage();
        emit fullPreviewChanged();
    }
    // An EXIF thumbnail is too small for the pane: a 1200-pixel picture, decoded beside the
    // full preview, is sharp at the pane's fit long before the full preview is in.
    if (longSide(wanted->thumbnail) < thumbnailPixels)
        scope_.spawn(sharpenThumbnail(id, wanted->path, generation));
    scope_.spawn(decodePreview(id, wanted->path, generation));
}

async::Task<void> ShotsModel::decodeThumbnail(QUuid id, QString path) {
    auto load = [path] { return Thumbnailer::load(path, thumbnailPixels, filmstripPixels); };
    auto decoded = co_await async::runOn(decodeQueue_, std::move(load));
    if (!decoded) co_return;
    if (Shot* s = find(id)) {
        // A shot selected before its thumbnail came may hold its sharper picture already.
        if (longSide(s->thumbnail) < longSide(decoded->image)) s->thumbnail = std::move(decoded->image);
        s->meta = std::move(decoded->meta);
        changed(id);
        emit shotsChanged();
        if (selection_ == id) loadFullPreview(id);
    }
    co_await shrinkAged();
}

async::Task<void> ShotsModel::shrinkAged() {
    // Each newer shot pushes one out of the newest few; its copy is scaled off the main thread.
    for (std::size_t i = largeThumbnailShots; i < shots_.size(); ++i) {
        const Shot& aged = shots_[i];
        if (aged.id == selection_ || longSide(aged.thumbnail) <= agedThumbnailPixels) continue;
        const QUuid agedID = aged.id;
        const qint64 large = aged.thumbnail.cacheKey();
        auto shrink = [image = aged.thumbnail] {
            return image.scaled(agedThumbnailPixels, agedThumbnailPixels, Qt::KeepAspectRatio,
                                Qt::SmoothTransformation);
        };
        QImage small = co_await async::runOn(decodeQueue_, std::move(shrink));
        // Selected meanwhile, or gone: the large one stays, or nothing is left to change.
        if (selection_ == agedID) continue;
        Shot* s = find(agedID);
        if (!s || s->thumbnail.cacheKey() != large) continue;
        s->thumbnail = std::move(small);
        changed(agedID);
    }
}

async::Task<std::optional<Thumbnail>> ShotsModel::loadForPane(QString path, int maxPixel,
                                                              std::uint64_t generation) {
    auto load = [path, maxPixel, generation,
                 current = previewGeneration_]() -> std::optional<Thumbnail> {
        if (current->load() != generation) return std::nullopt;
        return Thumbnailer::load(path, maxPixel);
    };
    auto loaded = co_await async::runOn(decodeQueue_, std::move(load));
    co_return loaded;
}

async::Task<void> ShotsModel::decodePreview(QUuid id, QString path, std::uint64_t generation) {
    auto decoded = co_await loadForPane(std::move(path), previewPixels, generation);
    if (!decoded || fullPreviewID_ != id) co_return;  // another shot is wanted now
    fullPreview_ = std::move(decoded->image);
    emit fullPreviewChanged();
}

async::Task<void> ShotsModel::sharpenThumbnail(QUuid id, QString path, std::uint64_t generation) {
    auto sharp = co_await loadForPane(std::move(path), thumbnailPixels, generation);
    if (!sharp || fullPreviewID_ != id) co_return;  // no longer on screen: the small one does
    Shot* s = find(id);
    if (!s || longSide(s->thumbnail) >= longSide(sharp->image)) co_return;
    s->thumbnail = std::move(sharp->image);
    if (s->meta.pixelWidth <= 0) s->meta = std::move(sharp->meta);
    changed(id);
}

}  // namespace pexil
