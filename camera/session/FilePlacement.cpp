#include "camera/session/FilePlacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
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

// `text` cut at a character boundary so that its encoded form has at most `bytes` bytes.
QString fitBytes(QString text, qsizetype bytes) {
    while (!text.isEmpty() && QFile::encodeName(text).size() > bytes) {
        text.chop(1);
        if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);
    }
    return text;
}

// The temporaries' shape: "." NAME "." six characters of mkostemps ".part".
bool isTemporaryName(const char* name) {
    const std::size_t n = std::strlen(name);
    return n > 13 && name[0] == '.' && std::strcmp(name + n - 5, ".part") == 0 &&
           name[n - 12] == '.';
}

constexpr qsizetype temporaryExtra = 13;  // "." + ".XXXXXX" + ".part"

// Taken once, at the first download: a temporary older than that belongs to no transfer
// of this process.
std::time_t firstDownloadTime() {
    static const std::time_t started = std::time(nullptr);
    return started;
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

namespace {

// NAME + suffix + .EXT, the stem cut so that the whole fits a file name.
QString withSuffix(const QString& name, const QString& suffix) {
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot <= 0 ? QString() : name.mid(dot);
    const QString stem = dot <= 0 ? name : name.left(dot);
    const qsizetype room = maxFileNameBytes - QFile::encodeName(suffix + extension).size();
    return fitBytes(stem, std::max<qsizetype>(room, 1)) + suffix + extension;
}

}  // namespace

QString numberedName(const QString& name, int n) {
    return withSuffix(name, QStringLiteral("-%1").arg(n));
}

int removeStaleTemporaries(const QString& folder) {
    const std::time_t before = firstDownloadTime();
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) return 0;
    int removed = 0;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name)) continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat info {};
        // A writer holds its lock until the file is placed or given up; what nobody holds
        // and is older than our first download was left by a run that died.
        const bool stale = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           info.st_mtime < before && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && ::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
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
    firstDownloadTime();
    removeStaleTemporaries(folder);
    const QString name = withSuffix(safeFileName(cameraName), QString());
    // The temporary's name is longer than the final one; a camera name near the limit must
    // still get a temporary.
    const QString shortName = fitBytes(name, maxFileNameBytes - temporaryExtra);
    QByteArray pattern =
        QFile::encodeName(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX.part").arg(shortName)));
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0)
        return destinationError(errno, PlacementError::Kind::write, folder,
                                QString::fromUtf8("ファイルを作れません"));
    // Tells a sweep in another process that this temporary is alive.
    ::flock(fd, LOCK_EX | LOCK_NB);
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
    if (captured_ && captured_->isValid()) {
        // Best effort: a filesystem without settable times keeps the picture all the same.
        const qint64 ms = captured_->toMSecsSinceEpoch();
        const timespec times[2] = {{static_cast<time_t>(ms / 1000), 0},
                                   {static_cast<time_t>(ms / 1000), 0}};
        ::futimens(fd_, times);
    }
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
