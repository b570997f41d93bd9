#include "camera/session/FilePlacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pexil::camera {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Renames without ever replacing an existing file: renameat2(RENAME_NOREPLACE) where the
// filesystem has it, else a hard link (which fails on an existing name) and an unlink.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#endif
    if (::link(from.constData(), to.constData()) != 0) return -1;
    ::unlink(from.constData());
    return 0;
}

}  // namespace

void syncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

QString numberedName(const QString& name, int n) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return name + QStringLiteral("-%1").arg(n);
    return name.left(dot) + QStringLiteral("-%1").arg(n) + name.mid(dot);
}

Result<std::unique_ptr<PendingFile>, TransportError> PendingFile::create(const QString& folder, const QString& name) {
    QByteArray pattern = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX.part").arg(name)));
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0)
        return TransportError{QString::fromUtf8("保存先に書けません: ") + folder + QStringLiteral("（") +
                              systemError(errno) + QStringLiteral("）")};
    return std::unique_ptr<PendingFile>(new PendingFile(folder, QFile::decodeName(pattern), fd));
}

PendingFile::PendingFile(QString folder, QString tempPath, int fd)
    : folder_(std::move(folder)), tempPath_(std::move(tempPath)), fd_(fd) {}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!placed_) ::unlink(QFile::encodeName(tempPath_).constData());
    placed_ = true;  // nothing left to remove
}

bool PendingFile::begin(std::optional<std::uint64_t>) { return fd_ >= 0; }

bool PendingFile::write(ByteView piece) {
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t n = ::write(fd_, piece.data() + done, piece.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            problem_ = QString::fromUtf8("ファイルを書けません（") + systemError(errno) + QStringLiteral("）");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += piece.size();
    return true;
}

Result<QString, TransportError> PendingFile::place(const QString& name, unsigned permissions) {
    if (::fsync(fd_) != 0 || ::fchmod(fd_, permissions) != 0 || ::close(fd_) != 0) {
        const int error = errno;
        fd_ = -1;
        return TransportError{QString::fromUtf8("ファイルを書き終えられません（") + systemError(error) +
                              QStringLiteral("）")};
    }
    fd_ = -1;
    const QByteArray from = QFile::encodeName(tempPath_);
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? name : numberedName(name, n);
        if (renameNoReplace(from, QFile::encodeName(QDir(folder_).filePath(candidate))) == 0) {
            placed_ = true;
            return candidate;
        }
        if (errno != EEXIST)
            return TransportError{QString::fromUtf8("ファイルを置けません: ") + candidate + QStringLiteral("（") +
                                  systemError(errno) + QStringLiteral("）")};
    }
    return TransportError{QString::fromUtf8("空いている名前がありません: ") + name};
}

}  // namespace pexil::camera
