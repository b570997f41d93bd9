#pragma once

#include <QAbstractListModel>
#include <QUuid>

#include <vector>

namespace pexil {
class SessionModel;
}

namespace pexil::shell {

// The session's shots as rows for the filmstrip, newest first. New shots arrive as inserted
// rows at the top (the view keeps its scroll position and needs no full relayout); a shot
// whose thumbnail arrives changes only its row.
//
// For screen readers a row's text is its file name and when it was taken ("DSC_0004.JPG、
// 2026年12月8日 10:15:30 撮影"; the time it arrived, "受信", until its picture is read), its
// description the exposure and whether the preview shows it ("表示中").
class ShotListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1, SelectedRole, PathRole };

    explicit ShotListModel(SessionModel& model, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ShotListModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The row of a shot; -1 when it is not shown.
    int rowOf(const QUuid& id) const;

private:
    void shotsChanged();
    void shotUpdated(const QUuid& id);
    void selectionChanged();

    SessionModel& model_;
    std::vector<QUuid> ids_;  // what the view was last told, newest first
    int selectedRow_ = -1;
};

}  // namespace pexil::shell
