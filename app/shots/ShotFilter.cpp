#include "app/shots/ShotFilter.h"

#include "app/shots/ShotsModel.h"

namespace pexil {

ShotFilter::ShotFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
}

void ShotFilter::setKind(Kind kind) {
    if (kind_ == kind) return;
    kind_ = kind;
    invalidateFilter();
}

bool ShotFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QModelIndex row = sourceModel()->index(sourceRow, 0, sourceParent);
    switch (kind_) {
        case Kind::all:
            return true;
        case Kind::picks:
            return row.data(ShotsModel::PickedRole).toBool();
        case Kind::notRejected:
            return row.data(ShotsModel::RatingRole).toInt() >= 0;
    }
    return true;
}

}  // namespace pexil
