#include "app/backup/VerifiedCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>

namespace pexil {

namespace {

constexpr qint64 chunk = 1 << 20;

CopyFailure unreadable(const QString& path) {
    return {CopyFailure::Kind::source, QString::fromUtf8("保存した写真を読み直せません: ") + path};
}

CopyFailure mismatch(const QString& path) {
    return {CopyFailure::Kind::mismatch,
            QString::fromUtf8("控えの内容が元の写真と一致しません: ") + path};
}

// The checksum and size of what the disk holds for `path` now, not of what the page cache
// remembers from writing it: the backup is verified only if it is read from the disk.
std::optional<std::pair<QByteArray, qint64>> readBack(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_DONTNEED);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(chunk);
        if (piece.isEmpty() && file.error() != QFileDevice::NoError) return std::nullopt;
        hash.addData(piece);
        size += piece.size();
    }
    return std::pair{hash.result(), size};
}

}  // namespace

Result<QString, CopyFailure> copyVerified(const QString& source, const QString& folder,
                                          camera::PendingFile::Writer writer) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return unreadable(source);
    auto pending =
        camera::PendingFile::create(folder, QFileInfo(source).fileName(), std::move(writer));
    if (!pending) return CopyFailure{CopyFailure::Kind::destination, pending.error().message()};
    camera::PendingFile& out = *pending.value();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    out.begin(static_cast<std::uint64_t>(in.size()));
    while (!in.atEnd()) {
        const QByteArray piece = in.read(chunk);
        if (piece.isEmpty() && in.error() != QFileDevice::NoError) return unreadable(source);
        hash.addData(piece);
        size += piece.size();
        if (!out.write(ByteView(reinterpret_cast<const std::uint8_t*>(piece.constData()),
                                static_cast<std::size_t>(piece.size()))))
            return CopyFailure{CopyFailure::Kind::destination,
                               out.problem() ? out.problem()->message() : folder};
    }
    // The copy keeps the picture's time, as the primary did.
    out.setCaptured(QFileInfo(source).lastModified());
    auto placed = out.place();
    if (!placed) return CopyFailure{CopyFailure::Kind::destination, placed.error().message()};
    const QString path = QDir(folder).filePath(placed.value());
    const auto written = readBack(path);
    if (!written || written->first != hash.result() || written->second != size) {
        // A bad copy under a real name would be trusted later; better none.
        QFile::remove(path);
        return mismatch(path);
    }
    return path;
}

}  // namespace pexil
