#include "camera/session/FilePlacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace pexil::camera {

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// What the destination did wrong, as far as errno tells; `otherwise` for the rest.
PlacementError destinationError(int error, PlacementError::Kind otherwise, const QString& path,
                                const QString& doing) {
    using Kind = PlacementError::Kind;
    const QString why = QStringLiteral("（") + systemError(error) + QStringLiteral("）");
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return {Kind::diskFull, path, QString::fromUtf8("空き容量がありません") + why};
        case EACCES:
        case EPERM:
        case EROFS:
            return {Kind::permission, path, QString::fromUtf8("書き込みが許されていません") + why};
        default:
            return {otherwise, path, doing + why};
    }
}

// Renames without ever replacing an existing file: renameat2(RENAME_NOREPLACE) where the
// filesystem has it, else a hard link (which fails on an existing name) and an unlink.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#endif
    if (::link(from.constData(), to.constData()) != 0) return -1;
    ::unlink(from.constData());
    return 0;
}

}  // namespace

QString PlacementError::message() const {
    if (kind == Kind::folder)
        return QString::fromUtf8("保存先を作成できません: ") + path + QStringLiteral("（") +
               reason + QStringLiteral("）");
    return QString::fromUtf8("保存先に書けません: ") + path + QString::fromUtf8(": ") + reason;
}

QString safeFileName(const QString& cameraName) {
    QString name = cameraName;
    for (QChar& c : name)
        if (c == u'/' || c == u'\\' || c == QChar(u'\0')) c = u'_';
    if (name.startsWith(u'.')) name[0] = u'_';
    return name.isEmpty() ? QStringLiteral("_") : name;
}

void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

QString numberedName(const QString& name, int n) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return name + QStringLiteral("-%1").arg(n);
    return name.left(dot) + QStringLiteral("-%1").arg(n) + name.mid(dot);
}

Result<std::unique_ptr<PendingFile>, PlacementError> PendingFile::create(const QString& folder,
                                                                         const QString& cameraName,
                                                                         Writer writer) {
    std::error_code made;
    std::filesystem::create_directories(
        std::filesystem::path(QFile::encodeName(folder).toStdString()), made);
    if (made) {
        // A folder that cannot be made stays a folder problem, whatever the system's reason.
        return PlacementError{PlacementError::Kind::folder, folder,
                              QString::fromLocal8Bit(made.message())};
    }
    const QString name = safeFileName(cameraName);
    QByteArray pattern =
        QFile::encodeName(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX.part").arg(name)));
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0)
        return destinationError(errno, PlacementError::Kind::write, folder,
                                QString::fromUtf8("ファイルを作れません"));
    return std::unique_ptr<PendingFile>(
        new PendingFile(folder, name, QFile::decodeName(pattern), fd, std::move(writer)));
}

PendingFile::PendingFile(QString folder, QString name, QString tempPath, int fd, Writer writer)
    : folder_(std::move(folder)),
      name_(std::move(name)),
      tempPath_(std::move(tempPath)),
      fd_(fd),
      writer_(std::move(writer)) {}

PendingFile::~PendingFile() {
    discard();
}

void PendingFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!placed_) ::unlink(QFile::encodeName(tempPath_).constData());
    placed_ = true;  // nothing left to remove
}

bool PendingFile::begin(std::optional<std::uint64_t>) {
    return fd_ >= 0;
}

bool PendingFile::write(ByteView piece) {
    if (problem_) return false;  // the first refusal is the reason; the rest follow from it
    std::size_t done = 0;
    while (done < piece.size()) {
        const ByteView rest = piece.subspan(done);
        const ssize_t n = writer_ ? writer_(fd_, rest) : ::write(fd_, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            problem_ =
                destinationError(errno, PlacementError::Kind::write, QDir(folder_).filePath(name_),
                                 QString::fromUtf8("ファイルを書けません"));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += piece.size();
    // Starts the disk writing what has come so far, without waiting for it: the flush in
    // place() then waits only for the last few megabytes instead of the whole picture,
    // which is most of what saving adds to the transfer. Only a hint; nothing is lost
    // where the filesystem ignores it.
    if (written_ - writeBackFrom_ >= writeBackStep) {
        ::sync_file_range(fd_, static_cast<off_t>(writeBackFrom_),
                          static_cast<off_t>(written_ - writeBackFrom_), SYNC_FILE_RANGE_WRITE);
        writeBackFrom_ = written_;
    }
    return true;
}

Result<QString, PlacementError> PendingFile::place() {
    const QString target = QDir(folder_).filePath(name_);
    if (::fsync(fd_) != 0 || ::fchmod(fd_, 0644) != 0 || ::close(fd_) != 0) {
        const int error = errno;
        fd_ = -1;
        return destinationError(error, PlacementError::Kind::write, target,
                                QString::fromUtf8("ファイルを書き終えられません"));
    }
    fd_ = -1;
    const QByteArray from = QFile::encodeName(tempPath_);
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? name_ : numberedName(name_, n);
        if (renameNoReplace(from, QFile::encodeName(QDir(folder_).filePath(candidate))) == 0) {
            placed_ = true;
            return candidate;
        }
        if (errno != EEXIST)
            return destinationError(errno, PlacementError::Kind::rename,
                                    QDir(folder_).filePath(candidate),
                                    QString::fromUtf8("ファイルを置けません"));
    }
    return PlacementError{PlacementError::Kind::rename, target,
                          QString::fromUtf8("空いている名前がありません")};
}

}  // namespace pexil::camera
