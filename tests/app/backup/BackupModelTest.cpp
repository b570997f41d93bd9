// The backup copy: identical to the saved picture or absent, and a backup disk that is full,
// missing or corrupting never touches the primary copy.
#include "app/backup/BackupModel.h"
#include "app/backup/VerifiedCopy.h"
#include "kit/async/Executor.h"
#include "kit/async/VirtualRuntime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>
#include <vector>

namespace pexil {
namespace {

QByteArray picture(int size, char seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7);
    return bytes;
}

void put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry of `folder`, hidden temporaries included.
QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

ssize_t diskFull(int, ByteView) {
    errno = ENOSPC;
    return -1;
}

// Reports every byte written while the disk keeps one of them wrong.
ssize_t flipsAByte(int fd, ByteView piece) {
    std::vector<std::uint8_t> bad(piece.begin(), piece.end());
    if (!bad.empty()) bad[bad.size() / 2] ^= 0x5a;
    return ::write(fd, bad.data(), bad.size());
}

TEST(VerifiedCopy, CopiesIdenticallyOrLeavesNothingUnderARealName) {
    struct Case {
        const char* name;
        camera::PendingFile::Writer writer;
        bool sourceExists;
        std::optional<CopyFailure::Kind> failure;
        const char* reasonHas;
    };
    const std::vector<Case> cases{
        {"a good disk", {}, true, std::nullopt, ""},
        {"a full disk", diskFull, true, CopyFailure::Kind::destination, "空き容量がありません"},
        {"a disk that corrupts", flipsAByte, true, CopyFailure::Kind::mismatch, "一致しません"},
        {"a picture gone meanwhile", {}, false, CopyFailure::Kind::source, "読み直せません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("dest/DSC_0001.NEF"));
        const QByteArray bytes = picture(3 << 20, 'a');  // more than one read
        if (c.sourceExists) put(source, bytes);
        const QString folder = dir.filePath(QStringLiteral("backup/2024-06-01"));
        const auto copied = copyVerified(source, folder, c.writer);
        if (!c.failure) {
            ASSERT_TRUE(copied) << copied.error().reason.toStdString();
            EXPECT_EQ(copied.value(), QDir(folder).filePath(QStringLiteral("DSC_0001.NEF")));
            EXPECT_EQ(contents(copied.value()), bytes);
            // The picture's time, to the second as the destination keeps it.
            EXPECT_EQ(QFileInfo(copied.value()).lastModified().toSecsSinceEpoch(),
                      QFileInfo(source).lastModified().toSecsSinceEpoch());
            continue;
        }
        ASSERT_FALSE(copied);
        EXPECT_EQ(copied.error().kind, *c.failure);
        EXPECT_TRUE(copied.error().reason.contains(QString::fromUtf8(c.reasonHas)))
            << copied.error().reason.toStdString();
        EXPECT_EQ(entries(folder), QStringList());
        if (c.sourceExists) {
            EXPECT_EQ(contents(source), bytes);
        }
    }
}

TEST(VerifiedCopy, ANameTakenOnTheBackupDiskIsNumberedNotReplaced) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("DSC_0001.JPG"));
    put(source, picture(1000, 'x'));
    const QString folder = dir.filePath(QStringLiteral("backup"));
    put(QDir(folder).filePath(QStringLiteral("DSC_0001.JPG")), "another picture");
    const auto copied = copyVerified(source, folder);
    ASSERT_TRUE(copied);
    EXPECT_EQ(QFileInfo(copied.value()).fileName(), QStringLiteral("DSC_0001-1.JPG"));
    EXPECT_EQ(contents(QDir(folder).filePath(QStringLiteral("DSC_0001.JPG"))), "another picture");
}

struct BackupRig {
    BackupRig() {
        primary = dir.filePath(QStringLiteral("Pictures"));
        backupFolder = dir.filePath(QStringLiteral("Backup"));
    }
    QString shot(const QString& relative, char seed = 'p') {
        const QString path = QDir(primary).filePath(relative);
        put(path, picture(5000, seed));
        return path;
    }
    QTemporaryDir dir;
    QString primary;
    QString backupFolder;
    async::VirtualRuntime rt;
    async::InlineExecutor queue;
    QStringList log;
    BackupModel model{rt, queue, [this](const QString& line) { log << line; }};
};

TEST(BackupModel, CopiesMirrorTheDestinationsFolders) {
    BackupRig r;
    ASSERT_TRUE(QDir().mkpath(r.backupFolder));
    r.model.configure(r.backupFolder, r.primary);
    QStringList copied;
    QObject::connect(
        &r.model, &BackupModel::copied,
        [&](const QString&, const QString& backup, const QString&) { copied << backup; });
    const QString first = r.shot(QStringLiteral("2024-06-01/Studio/Studio_0001.JPG"));
    const QString second = r.shot(QStringLiteral("Studio_0002.JPG"), 'q');
    r.model.copy(first);
    r.model.copy(second);
    EXPECT_EQ(r.model.pending(), 2);
    r.rt.runFor(async::Seconds(1));
    const QStringList wanted{
        QDir(r.backupFolder).filePath(QStringLiteral("2024-06-01/Studio/Studio_0001.JPG")),
        QDir(r.backupFolder).filePath(QStringLiteral("Studio_0002.JPG"))};
    EXPECT_EQ(copied, wanted);
    EXPECT_EQ(contents(wanted[0]), contents(first));
    EXPECT_EQ(contents(wanted[1]), contents(second));
    EXPECT_EQ(r.model.pending(), 0);
    EXPECT_FALSE(r.model.problem());
    EXPECT_EQ(r.log.size(), 2);
}

TEST(BackupModel, AMissingBackupDiskIsSaidAndNeverCreatedAndTheCopiesFollowWhenItIsBack) {
    BackupRig r;
    r.model.configure(r.backupFolder, r.primary);
    ASSERT_TRUE(r.model.problem());
    EXPECT_TRUE(r.model.problem()->contains(QString::fromUtf8("見つかりません")));
    const QString path = r.shot(QStringLiteral("DSC_0001.JPG"));
    r.model.copy(path);
    r.rt.runFor(async::Seconds(1));
    // A folder made now would be on the disk that holds the mount point.
    EXPECT_FALSE(QFileInfo::exists(r.backupFolder));
    EXPECT_EQ(r.model.missing(), QStringList{QStringLiteral("DSC_0001.JPG")});
    EXPECT_TRUE(contents(path).size() == 5000);

    ASSERT_TRUE(QDir().mkpath(r.backupFolder));
    r.model.retry();
    r.rt.runFor(async::Seconds(1));
    EXPECT_FALSE(r.model.problem());
    EXPECT_EQ(r.model.missing(), QStringList());
    EXPECT_EQ(contents(QDir(r.backupFolder).filePath(QStringLiteral("DSC_0001.JPG"))),
              contents(path));
}

TEST(BackupModel, AFullBackupDiskKeepsItsFailuresListedAfterTheNextCopyGoesWell) {
    BackupRig r;
    ASSERT_TRUE(QDir().mkpath(r.backupFolder));
    r.model.configure(r.backupFolder, r.primary);
    r.model.writer = diskFull;
    const QString lost = r.shot(QStringLiteral("DSC_0001.JPG"));
    r.model.copy(lost);
    r.rt.runFor(async::Seconds(1));
    ASSERT_TRUE(r.model.problem());
    EXPECT_TRUE(r.model.problem()->contains(QString::fromUtf8("空き容量がありません")));
    EXPECT_EQ(contents(lost).size(), 5000);
    ASSERT_EQ(r.log.size(), 1);
    EXPECT_TRUE(r.log[0].contains(QStringLiteral("DSC_0001.JPG")));

    r.model.writer = {};
    r.model.copy(r.shot(QStringLiteral("DSC_0002.JPG")));
    r.rt.runFor(async::Seconds(1));
    EXPECT_FALSE(r.model.problem());
    EXPECT_EQ(r.model.missing(), QStringList{QStringLiteral("DSC_0001.JPG")});

    // A copy queued when the backup is turned off is dropped, not listed as missing.
    r.model.copy(r.shot(QStringLiteral("DSC_0004.JPG")));
    r.model.configure(QString(), r.primary);
    r.rt.runFor(async::Seconds(1));
    EXPECT_EQ(r.model.pending(), 0);
    EXPECT_FALSE(QFileInfo::exists(QDir(r.backupFolder).filePath(QStringLiteral("DSC_0004.JPG"))));
    r.model.configure(r.backupFolder, r.primary);

    // Turning the backup off leaves nothing missing from it; nothing is copied any more.
    r.model.configure(QString(), r.primary);
    EXPECT_EQ(r.model.missing(), QStringList());
    r.model.copy(r.shot(QStringLiteral("DSC_0003.JPG")));
    EXPECT_EQ(r.model.pending(), 0);
}

}  // namespace
}  // namespace pexil
