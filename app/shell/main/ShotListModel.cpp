#include "app/shell/main/ShotListModel.h"

#include "app/session/SessionModel.h"
#include "app/shell/card/CardTexts.h"
#include "app/shell/main/ShotSelection.h"

#include <QFileInfo>

#include <algorithm>

namespace pexil::shell {

namespace {
QString accessibleText(const Shot& shot) {
    const QString name = QFileInfo(shot.path).fileName();
    // Until the picture is read, the time it arrived stands in for the time it was taken.
    const bool read = shot.meta.captured.has_value();
    const QString when =
        CardTexts::dateTime(read ? shot.meta.captured : std::optional(shot.arrived));
    if (when.isEmpty()) return name;
    return name + QStringLiteral("、") + when +
           (read ? QStringLiteral(" 撮影") : QStringLiteral(" 受信"));
}

QString accessibleDescription(const Shot& shot, bool shown) {
    QStringList parts;
    if (const QString summary = shot.meta.summary(); !summary.isEmpty()) parts << summary;
    if (shown) parts << QStringLiteral("表示中");
    return parts.join(QStringLiteral("、"));
}
}  // namespace

ShotListModel::ShotListModel(SessionModel& model, QObject* parent) : QAbstractListModel(parent), model_(model) {
    for (const Shot& shot : model_.shots()) ids_.push_back(shot.id);
    connect(&model_, &SessionModel::shotsChanged, this, &ShotListModel::shotsChanged);
    connect(&model_, &SessionModel::shotUpdated, this, &ShotListModel::shotUpdated);
    connect(&model_, &SessionModel::selectionChanged, this, &ShotListModel::selectionChanged);
    selectionChanged();
}

int ShotListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

QVariant ShotListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Shot* shot = model_.shot(ids_[static_cast<std::size_t>(index.row())]);
    if (!shot) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return QFileInfo(shot->path).fileName();
        case Qt::DecorationRole: return shot->thumbnail;
        case Qt::AccessibleTextRole: return accessibleText(*shot);
        case Qt::AccessibleDescriptionRole:
            return accessibleDescription(*shot, index.row() == selectedRow_);
        case IdRole: return shot->id;
        case PathRole: return shot->path;
        case SelectedRole: return index.row() == selectedRow_;
        default: return {};
    }
}

int ShotListModel::rowOf(const QUuid& id) const {
    const auto it = std::find(ids_.begin(), ids_.end(), id);
    return it == ids_.end() ? -1 : static_cast<int>(it - ids_.begin());
}

void ShotListModel::shotsChanged() {
    std::vector<QUuid> now;
    now.reserve(model_.shots().size());
    for (const Shot& shot : model_.shots()) now.push_back(shot.id);
    // The common change is shots added at the front; anything else is told as a reset.
    const bool prepended = now.size() > ids_.size() &&
                           std::equal(ids_.begin(), ids_.end(), now.end() - static_cast<long>(ids_.size()));
    if (prepended) {
        const int added = static_cast<int>(now.size() - ids_.size());
        beginInsertRows({}, 0, added - 1);
        ids_ = std::move(now);
        endInsertRows();
    } else if (now != ids_) {
        beginResetModel();
        ids_ = std::move(now);
        endResetModel();
    }
    selectionChanged();
}

void ShotListModel::shotUpdated(const QUuid& id) {
    const int row = rowOf(id);
    // The picture read brings the time it was taken and its exposure with the thumbnail.
    if (row >= 0)
        emit dataChanged(
            index(row), index(row),
            {Qt::DecorationRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
}

void ShotListModel::selectionChanged() {
    const Shot* shot = selectedShot(model_.shots(), model_.selection());
    const int row = shot ? rowOf(shot->id) : -1;
    if (row == selectedRow_) return;
    const int before = selectedRow_;
    selectedRow_ = row;
    for (const int r : {before, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r), index(r), {SelectedRole, Qt::AccessibleDescriptionRole});
}

}  // namespace pexil::shell
