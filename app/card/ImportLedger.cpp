#include "app/card/ImportLedger.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace pexil {

namespace {

// Holds the ledger's lock file for one read-modify-write. Without a lock file (a folder that
// cannot be written) it holds nothing: the write that follows fails and says so.
class LedgerLock {
public:
    explicit LedgerLock(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~LedgerLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    LedgerLock(const LedgerLock&) = delete;
    LedgerLock& operator=(const LedgerLock&) = delete;

private:
    int fd_;
};

}  // namespace

ImportLedger::ImportLedger(QString folder, LogFn log) : log_(std::move(log)) {
    QDir().mkpath(folder);
    path_ = QDir(folder).filePath(QStringLiteral("imported.json"));
    if (read(keys_) == Disk::damaged) {
        keys_.clear();
        problem_ = QString::fromUtf8(
                       "取り込みの控えが壊れていて読めません（%1）。"
                       "取り込み済みの印は付きません")
                       .arg(path_);
        if (log_) log_(*problem_);
    }
}

QString ImportLedger::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Pexil");
}

QString ImportLedger::key(const QString& serial, const QString& name, qint64 size,
                          const std::optional<QDateTime>& captured) {
    // Whole seconds toward zero, also before 1970.
    const qint64 seconds = captured ? captured->toMSecsSinceEpoch() / 1000 : 0;
    return serial + u'|' + name + u'|' + QString::number(size) + u'|' + QString::number(seconds);
}

ImportLedger::Disk ImportLedger::read(std::set<QString>& into) const {
    QFile file(path_);
    if (!file.exists()) return Disk::missing;
    if (!file.open(QIODevice::ReadOnly)) return Disk::damaged;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return Disk::damaged;
    std::set<QString> loaded;
    for (const QJsonValue& value : doc.array()) {
        if (!value.isString()) return Disk::damaged;
        loaded.insert(value.toString());
    }
    into.merge(loaded);
    return Disk::read;
}

std::optional<QString> ImportLedger::setAside() {
    const QString first = path_ + QStringLiteral(".damaged");
    for (int n = 1; n < 10000; ++n) {
        const QString aside = n == 1 ? first : first + u'.' + QString::number(n);
        if (QFile::exists(aside)) continue;
        // rename() never replaces: a copy made meanwhile by another process stays too.
        if (QFile::rename(path_, aside)) return aside;
        if (!QFile::exists(path_)) return QString();  // another process moved it first
        return std::nullopt;
    }
    return std::nullopt;
}

void ImportLedger::record(const QString& serial, const QString& name, qint64 size,
                          const std::optional<QDateTime>& captured) {
    if (!keys_.insert(key(serial, name, size, captured)).second) return;
    const LedgerLock lock(path_ + QStringLiteral(".lock"));
    if (read(keys_) == Disk::damaged) {
        // Rewriting would silently drop every import the damaged file still remembers.
        const auto aside = setAside();
        if (!aside) {
            const QString text =
                QString::fromUtf8("取り込みの控えを保存できない: 壊れた控えを退避できません");
            if (log_) log_(text);
            setProblem(text);
            unwritten_ = true;
            return;
        }
        if (!aside->isEmpty()) {
            unwritten_ = false;
            if (log_) log_(QString::fromUtf8("取り込みの控えが壊れていたため退避: ") + *aside);
            setProblem(QString::fromUtf8("取り込みの控えが壊れていたため %1 に退避しました。"
                                         "それまでの取り込み済みの印は付きません")
                           .arg(*aside));
        }
    }
    QJsonArray array;
    for (const QString& k : keys_) array.append(k);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        const QString text =
            QString::fromUtf8("取り込みの控えを保存できない: ") + file.errorString();
        if (log_) log_(text);
        setProblem(text);
        unwritten_ = true;
        return;
    }
    // A record written again ends a failure to write; a damaged copy set aside stays told.
    if (std::exchange(unwritten_, false)) setProblem(std::nullopt);
}

void ImportLedger::setProblem(std::optional<QString> problem) {
    if (problem_ == problem) return;
    problem_ = std::move(problem);
    if (onProblemChanged) onProblemChanged();
}

}  // namespace pexil
