#include "app/clientview/ClientShots.h"

#include "app/clientview/PreviewJpeg.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/WorkQueue.h"

#include <QFileInfo>

#include <algorithm>

namespace pexil {

namespace {

QString clientId(const QUuid& id) {
    return id.toString(QUuid::Id128);
}

bool acceptableComment(const QString& text) {
    if (text.size() > ClientShots::maxComment) return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c != u'\n' &&
               (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format);
    });
}

}  // namespace

ClientShots::ClientShots(async::Runtime& runtime, async::Executor& previews, ShotsModel& shots,
                         QObject* parent)
    : QObject(parent), previews_(previews), shots_(shots), scope_(runtime) {
    connect(&shots_, &ShotsModel::shotsChanged, this, &ClientShots::follow);
    // The mark changes with the photographer's keys; the time taken comes with the picture's
    // metadata, read after the shot arrived.
    connect(&shots_, &ShotsModel::shotUpdated, this, [this](const QUuid& id) {
        const pexil::Shot* source = shots_.shot(id);
        Entry* own = findMutable(clientId(id));
        if (!source || !own) return;
        const QDateTime time = source->meta.captured.value_or(source->arrived);
        if (own->mark == source->mark && own->time == time) return;
        own->mark = source->mark;
        own->time = time;
        emit changed(own->id);
    });
    follow();
}

ClientShots::~ClientShots() = default;

void ClientShots::follow() {
    // Oldest first, so that shots taken before the view was turned on keep their order.
    const ShotList& all = shots_.list();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!seen_.emplace(it->id, true).second) continue;
        Entry shot;
        shot.shot = it->id;
        shot.id = clientId(it->id);
        shot.path = it->path;
        shot.name = QFileInfo(it->path).fileName();
        shot.time = it->meta.captured.value_or(it->arrived);
        shot.mark = it->mark;
        shot.order = ++received_;
        scope_.spawn(publish(std::move(shot)));
    }
}

async::Task<void> ClientShots::publish(Entry shot) {
    const QString path = shot.path;
    // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
    auto make = [path] { return previewJpeg(path, previewPixels); };
    std::optional<QByteArray> jpeg = co_await async::runOn(previews_, std::move(make));
    if (!jpeg) co_return;  // not a picture the view can show
    // The filmstrip may have read the time it was taken meanwhile.
    if (const pexil::Shot* source = shots_.shot(shot.shot); source && source->meta.captured)
        shot.time = *source->meta.captured;
    previewBytes_[shot.id] = std::move(*jpeg);
    previewOrder_.push_back(shot.id);
    while (static_cast<int>(previewOrder_.size()) > previewsKept) {
        previewBytes_.erase(previewOrder_.front());
        previewOrder_.pop_front();
    }
    // Previews may finish out of order; the list stays in the filmstrip's order, newest first.
    const auto at = std::find_if(list_.begin(), list_.end(),
                                 [&shot](const Entry& s) { return s.order < shot.order; });
    const QString id = shot.id;
    list_.insert(at, std::move(shot));
    emit published(id);
}

const ClientShots::Entry* ClientShots::find(const QString& id) const {
    const auto it =
        std::find_if(list_.begin(), list_.end(), [&id](const Entry& s) { return s.id == id; });
    return it == list_.end() ? nullptr : &*it;
}

ClientShots::Entry* ClientShots::findMutable(const QString& id) {
    return const_cast<Entry*>(std::as_const(*this).find(id));
}

std::optional<QByteArray> ClientShots::preview(const QString& id) {
    const Entry* shot = find(id);
    if (!shot) return std::nullopt;
    if (const auto kept = previewBytes_.find(id); kept != previewBytes_.end()) return kept->second;
    // An old shot: made again, on the spot; rare enough not to keep.
    return previewJpeg(shot->path, previewPixels);
}

bool ClientShots::setFavourite(const QString& id, bool favourite) {
    Entry* shot = findMutable(id);
    if (!shot) return false;
    if (shot->favourite != favourite) {
        shot->favourite = favourite;
        emit changed(id);
        emit noteChanged(shot->shot, shot->favourite, shot->comment);
    }
    return true;
}

bool ClientShots::setComment(const QString& id, const QString& comment) {
    Entry* shot = findMutable(id);
    if (!shot || !acceptableComment(comment)) return false;
    const QString text = comment.trimmed();
    if (shot->comment != text) {
        shot->comment = text;
        emit changed(id);
        emit noteChanged(shot->shot, shot->favourite, shot->comment);
    }
    return true;
}

QJsonObject ClientShots::toJson(const Entry& shot) {
    QJsonObject out;
    out.insert(QStringLiteral("id"), shot.id);
    out.insert(QStringLiteral("name"), shot.name);
    const QDateTime local = shot.time.toLocalTime();
    out.insert(QStringLiteral("time"),
               local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate));
    out.insert(QStringLiteral("timeText"),
               shot.time.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
    out.insert(QStringLiteral("rating"), std::max(shot.mark.rating, 0));
    out.insert(QStringLiteral("picked"), shot.mark.picked);
    out.insert(QStringLiteral("rejected"), shot.mark.rejected());
    out.insert(QStringLiteral("favourite"), shot.favourite);
    out.insert(QStringLiteral("comment"), shot.comment);
    return out;
}

}  // namespace pexil
