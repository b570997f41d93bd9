#pragma once

#include <QSortFilterProxyModel>

namespace pexil {

// Which of the session's shots the filmstrip lists, by their marks: all, only the picks, or
// all but the rejects. Follows marks as they change.
class ShotFilter final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    enum class Kind { all, picks, notRejected };

    explicit ShotFilter(QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ShotFilter)

    Kind kind() const { return kind_; }
    void setKind(Kind kind);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    Kind kind_ = Kind::all;
};

}  // namespace pexil
