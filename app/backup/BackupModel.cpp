#include "app/backup/BackupModel.h"

#include "kit/async/WorkQueue.h"

#include <QDir>
#include <QFileInfo>

namespace pexil {

namespace {

CopyFailure folderRefused(const QString& reason) {
    return {CopyFailure::Kind::destination, reason};
}

}  // namespace

BackupModel::BackupModel(async::Runtime& runtime, async::Executor& queue,
                         std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), workQueue_(queue), log_(std::move(log)), scope_(runtime) {}

std::optional<QString> BackupModel::checkFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir())
        return QString::fromUtf8("控えの保存先が見つかりません（ディスクを確認してください）: ") +
               folder;
    if (!info.isWritable()) return QString::fromUtf8("控えの保存先に書き込めません: ") + folder;
    return std::nullopt;
}

void BackupModel::configure(const QString& folder, const QString& primaryBase) {
    primaryBase_ = primaryBase;
    if (folder == folder_) return;
    folder_ = folder;
    setProblem(folder_.isEmpty() ? std::nullopt : checkFolder(folder_));
    if (folder_.isEmpty() && !failed_.isEmpty()) {
        // No backup is wanted any more: nothing is missing from it.
        failed_.clear();
        emit missingChanged();
    }
}

QStringList BackupModel::missing() const {
    QStringList names;
    for (const QString& path : failed_) names << QFileInfo(path).fileName();
    return names;
}

void BackupModel::copy(const QString& path) {
    if (folder_.isEmpty()) return;
    queue_.push_back(path);
    ++pending_;
    if (!copying_) {
        copying_ = true;
        scope_.spawn(drain());
    }
    emit pendingChanged();
}

void BackupModel::retry() {
    if (failed_.isEmpty()) {
        setProblem(folder_.isEmpty() ? std::nullopt : checkFolder(folder_));
        return;
    }
    const QStringList again = std::exchange(failed_, {});
    emit missingChanged();
    for (const QString& path : again) copy(path);
}

QString BackupModel::targetFolder(const QString& source) const {
    // The same folders below the backup as below the destination: a date or session folder
    // is found where the photographer looks for it.
    const QString relative = QDir(primaryBase_).relativeFilePath(QFileInfo(source).absolutePath());
    if (relative.isEmpty() || relative == QStringLiteral(".") ||
        relative.startsWith(QStringLiteral("..")) || QDir::isAbsolutePath(relative))
        return folder_;
    return QDir(folder_).filePath(relative);
}

async::Task<void> BackupModel::drain() {
    while (!queue_.empty()) {
        const QString source = queue_.front();
        queue_.pop_front();
        if (folder_.isEmpty()) {
            // The backup was turned off meanwhile: nothing is missing from it.
            --pending_;
            emit pendingChanged();
            continue;
        }
        std::optional<Result<QString, CopyFailure>> result;
        if (auto refused = checkFolder(folder_)) {
            result.emplace(folderRefused(*refused));
        } else {
            // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
            auto work = [source, folder = targetFolder(source), writer = writer] {
                return copyVerified(source, folder, writer);
            };
            auto done = co_await async::runOn(workQueue_, std::move(work));
            result.emplace(std::move(done));
        }
        const QString name = QFileInfo(source).fileName();
        if (*result) {
            log_(QString::fromUtf8("控え: ") + result->value());
            // The disk took this one: whatever stopped the earlier ones is over.
            setProblem(std::nullopt);
            emit copied(source, result->value(), QString());
        } else {
            const QString& reason = result->error().reason;
            log_(QString::fromUtf8("控えの保存失敗 ") + name + QString::fromUtf8(": ") + reason);
            failed_ << source;
            emit missingChanged();
            setProblem(reason);
            emit copied(source, QString(), reason);
        }
        --pending_;
        emit pendingChanged();
    }
    copying_ = false;
}

void BackupModel::setProblem(std::optional<QString> problem) {
    if (problem_ == problem) return;
    problem_ = std::move(problem);
    emit problemChanged();
}

}  // namespace pexil
