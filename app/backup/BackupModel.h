#pragma once

#include "app/backup/VerifiedCopy.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

namespace pexil {

namespace async {
class Executor;
}

// The second copy of every saved picture, in a backup folder on another disk: the same
// folders below it as below the destination. Copies are made one at a time on a worker
// queue after the picture is saved and shown, so they never hold back the primary copy or
// the display. A backup folder that is missing (the disk unplugged) is never created: the
// copy would land on whatever disk holds the mount point.
//
// Threads: main thread only, every call and every signal.
// Lifetime: destroying the model abandons the copies not yet started; one being written
// finishes or leaves nothing under a real name.
class BackupModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> problem READ problem NOTIFY problemChanged)
    Q_PROPERTY(int pending READ pending NOTIFY pendingChanged)

public:
    // `log` takes one line per copy and per failure.
    BackupModel(async::Runtime& runtime, async::Executor& queue,
                std::function<void(const QString&)> log, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(BackupModel)

    // The backup folder; empty: no backup. `primaryBase` is the destination the saved
    // pictures' folders are taken relative to. A new folder checks at once that it is there.
    void configure(const QString& folder, const QString& primaryBase);
    const QString& folder() const { return folder_; }
    bool enabled() const { return !folder_.isEmpty(); }

    // Queues a copy of the picture saved at `path`. Nothing while no backup folder is set.
    void copy(const QString& path);
    // Copies again the pictures whose copy failed (the disk is back, space was made).
    void retry();

    // Why the last copy failed or the folder cannot take copies; none while all is well.
    const std::optional<QString>& problem() const { return problem_; }
    // The pictures of this run that have no backup copy, by file name.
    QStringList missing() const;
    // Copies queued or being written.
    int pending() const { return pending_; }

    // Why `folder` cannot take backup copies now; none when it can.
    static std::optional<QString> checkFolder(const QString& folder);

    // Stands in for write(2) in the copies (a test's full disk); empty: the disk.
    camera::PendingFile::Writer writer;

signals:
    void problemChanged();
    void pendingChanged();
    void missingChanged();
    // One copy is done: `backup` is its path, or empty with `reason` when it failed.
    void copied(const QString& source, const QString& backup, const QString& reason);

private:
    async::Task<void> drain();
    QString targetFolder(const QString& source) const;
    void setProblem(std::optional<QString> problem);

    async::Executor& workQueue_;
    std::function<void(const QString&)> log_;
    QString folder_;
    QString primaryBase_;
    std::deque<QString> queue_;
    bool copying_ = false;
    int pending_ = 0;
    QStringList failed_;  // source paths
    std::optional<QString> problem_;
    async::Scope scope_;
};

}  // namespace pexil
