#include "camera/session/FilePlacement.h"
#include "camera/session/JpegScaling.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/file.h>

#include <cerrno>
#include <turbojpeg.h>

namespace pexil::camera {
namespace {

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void writeAll(PendingFile& file, const QByteArray& content) {
    ASSERT_TRUE(file.begin(content.size()));
    ASSERT_TRUE(file.write(ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())));
}

TEST(FilePlacement, NumberedNamesGoBeforeTheExtension) {
    EXPECT_EQ(numberedName(QStringLiteral("DSC_0001.JPG"), 1), QStringLiteral("DSC_0001-1.JPG"));
    EXPECT_EQ(numberedName(QStringLiteral("DSC_0001.tar.NEF"), 2), QStringLiteral("DSC_0001.tar-2.NEF"));
    EXPECT_EQ(numberedName(QStringLiteral("README"), 3), QStringLiteral("README-3"));
    EXPECT_EQ(numberedName(QStringLiteral(".hidden"), 1), QStringLiteral(".hidden-1"));
}

TEST(FilePlacement, ACompleteFileTakesItsNameOrTheNextFreeOne) {
    QTemporaryDir dir;
    QFile taken(dir.filePath(QStringLiteral("DSC_0001.JPG")));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("old");
    taken.close();

    for (int expected = 1; expected <= 2; ++expected) {
        auto file = PendingFile::create(dir.path(), QStringLiteral("DSC_0001.JPG"));
        ASSERT_TRUE(file);
        writeAll(*file.value(), "new picture");
        const auto placed = file.value()->place();
        ASSERT_TRUE(placed);
        EXPECT_EQ(placed.value(), QStringLiteral("DSC_0001-%1.JPG").arg(expected));
    }
    QFile old(dir.filePath(QStringLiteral("DSC_0001.JPG")));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old")) << "an existing picture is never replaced";
    EXPECT_EQ(entries(dir.path()), (QStringList{QStringLiteral("DSC_0001-1.JPG"), QStringLiteral("DSC_0001-2.JPG"),
                                                QStringLiteral("DSC_0001.JPG")}));
    EXPECT_EQ(QFileInfo(dir.filePath(QStringLiteral("DSC_0001-1.JPG"))).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup |
                  QFile::ReadOther);
}

TEST(FilePlacement, ANameTakenWhileTheTransferRanIsNotOverwritten) {
    QTemporaryDir dir;
    auto file = PendingFile::create(dir.path(), QStringLiteral("A.NEF"));
    ASSERT_TRUE(file);
    writeAll(*file.value(), "picture");
    QFile rival(dir.filePath(QStringLiteral("A.NEF")));
    ASSERT_TRUE(rival.open(QIODevice::WriteOnly));
    rival.write("someone else's");
    rival.close();
    EXPECT_EQ(file.value()->place().value(), QStringLiteral("A-1.NEF"));
}

TEST(FilePlacement, AnUnfinishedFileLeavesNothingBehind) {
    QTemporaryDir dir;
    {
        auto file = PendingFile::create(dir.path(), QStringLiteral("DSC_0002.NEF"));
        ASSERT_TRUE(file);
        writeAll(*file.value(), QByteArray(100000, 'x'));
        EXPECT_EQ(entries(dir.path()).size(), 1);
        EXPECT_TRUE(entries(dir.path()).front().startsWith(QStringLiteral(".DSC_0002.NEF.")));
    }
    EXPECT_TRUE(entries(dir.path()).isEmpty());

    // Discarded while another owner (the session thread's sink) still holds it.
    auto file = PendingFile::create(dir.path(), QStringLiteral("DSC_0003.NEF"));
    ASSERT_TRUE(file);
    writeAll(*file.value(), QByteArray(1000, 'x'));
    file.value()->discard();
    EXPECT_TRUE(entries(dir.path()).isEmpty());
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("kept.txt"))).open(QIODevice::WriteOnly));
    file.value().reset();  // a second removal must not touch anything else
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("kept.txt")});
}

TEST(FilePlacement, AMissingFolderIsMadeWithItsParentsAndACameraNameCannotLeaveIt) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("2024/06/01"));
    auto file = PendingFile::create(folder, QStringLiteral("../.profile"));
    ASSERT_TRUE(file) << file.error().message().toStdString();
    writeAll(*file.value(), "picture");
    const auto placed = file.value()->place();
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed.value(), QStringLiteral("_._.profile"));
    EXPECT_EQ(entries(folder), QStringList{QStringLiteral("_._.profile")});
    EXPECT_EQ(entries(dir.path()), QStringList());
}

TEST(FilePlacement, AFolderThatCannotBeMadeIsExplained) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const QString& folder : {blocker.fileName(), blocker.fileName() + QStringLiteral("/sub")}) {
        const auto file = PendingFile::create(folder, QStringLiteral("A.JPG"));
        ASSERT_FALSE(file);
        EXPECT_EQ(file.error().kind, PlacementError::Kind::folder);
        EXPECT_EQ(file.error().path, folder);
        EXPECT_TRUE(file.error().message().startsWith(QString::fromUtf8("保存先を作成できません: ") + folder))
            << file.error().message().toStdString();
    }
}

TEST(FilePlacement, AFullDiskIsTheDestinationsFailureAndLeavesNothing) {
    QTemporaryDir dir;
    auto file = PendingFile::create(dir.path(), QStringLiteral("A.NEF"), [](int, ByteView) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    ASSERT_TRUE(file);
    EXPECT_FALSE(file.value()->write(Bytes(100, 1)));
    ASSERT_TRUE(file.value()->problem());
    EXPECT_EQ(file.value()->problem()->kind, PlacementError::Kind::diskFull);
    EXPECT_TRUE(file.value()->problem()->message().startsWith(QString::fromUtf8("保存先に書けません")));
    file.value().reset();
    EXPECT_TRUE(entries(dir.path()).isEmpty());
}

Bytes makeJpeg(int width, int height) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width * height * 3), 128);
    for (std::size_t i = 0; i < pixels.size(); i += 7) pixels[i] = static_cast<unsigned char>(i);
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, pixels.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 80, 0);
    Bytes jpeg(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

std::pair<int, int> sizeOf(const Bytes& jpeg) {
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, s = 0, c = 0;
    tjDecompressHeader3(handle, const_cast<unsigned char*>(jpeg.data()), jpeg.size(), &w, &h, &s, &c);
    tjDestroy(handle);
    return {w, h};
}

// A camera may name a file up to the filesystem's limit; the temporary, longer by its
// decorations, and the numbered names must still fit.
TEST(FilePlacement, NamesAtTheLengthLimitStillSaveAndNumber) {
    QTemporaryDir dir;
    const QString names[] = {QString(250, u'A') + QStringLiteral(".JPG"),
                             QString(83, QChar(0x5199)) + QStringLiteral(".NEF")};  // 3 bytes each
    for (const QString& name : names) {
        for (int copy = 0; copy < 2; ++copy) {
            auto file = PendingFile::create(dir.path(), name);
            ASSERT_TRUE(file) << file.error().message().toStdString();
            writeAll(*file.value(), QByteArray(10, 'x'));
            auto placed = file.value()->place();
            ASSERT_TRUE(placed) << placed.error().message().toStdString();
            EXPECT_LE(QFile::encodeName(placed.value()).size(), maxFileNameBytes);
            EXPECT_TRUE(placed.value().endsWith(name.right(4)));
            if (copy == 0) {
                EXPECT_EQ(placed.value(), name);
            }
        }
    }
    EXPECT_EQ(entries(dir.path()).size(), 4);
}

// What a killed run left: temporaries nobody writes any more. A temporary of a download still
// running (in this process, or held by another) stays, and so does every real file.
TEST(FilePlacement, StaleTemporariesGoWhenTheFolderIsUsedAgain) {
    QTemporaryDir dir;
    auto running = PendingFile::create(dir.path(), QStringLiteral("DSC_0009.JPG"));
    ASSERT_TRUE(running);
    const QDateTime longAgo = QDateTime::currentDateTime().addDays(-1);
    auto make = [&dir, &longAgo](const QString& name) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("partial");
        file.flush();
        file.setFileTime(longAgo, QFileDevice::FileModificationTime);
    };
    make(QStringLiteral(".DSC_0001.JPG.a1B2c3.part"));  // left by a killed run
    make(QStringLiteral(".DSC_0002.NEF.Zz9Yy8.part"));  // likewise
    make(QStringLiteral("DSC_0003.JPG"));               // a picture
    make(QStringLiteral(".notes.part"));                // not of our pattern
    const QString heldName = QStringLiteral(".DSC_0004.JPG.q1w2e3.part");
    make(heldName);
    // Another process's download in progress holds its lock on its temporary.
    QFile held(dir.filePath(heldName));
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    ASSERT_EQ(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(removeStaleTemporaries(dir.path()), 2);
    const QStringList left = entries(dir.path());
    EXPECT_FALSE(left.contains(QStringLiteral(".DSC_0001.JPG.a1B2c3.part")));
    EXPECT_FALSE(left.contains(QStringLiteral(".DSC_0002.NEF.Zz9Yy8.part")));
    EXPECT_TRUE(left.contains(QStringLiteral("DSC_0003.JPG")));
    EXPECT_TRUE(left.contains(QStringLiteral(".notes.part")));
    EXPECT_TRUE(left.contains(heldName));
    EXPECT_EQ(left.filter(QStringLiteral(".DSC_0009.JPG.")).size(), 1) << "our own download stays";
    held.close();

    // Creating a file is the moment a destination is used: the sweep happens then.
    auto next = PendingFile::create(dir.path(), QStringLiteral("DSC_0010.JPG"));
    ASSERT_TRUE(next);
    EXPECT_FALSE(entries(dir.path()).contains(heldName));
}

TEST(JpegScaling, ThumbnailsLargerThanAskedAreScaledDownToFit) {
    const Bytes big = makeJpeg(640, 424);
    const auto fitted = fitJpeg(big, 160);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(sizeOf(*fitted), (std::pair{160, 106}));
    EXPECT_EQ(fitJpeg(big, 0), big);
    EXPECT_EQ(fitJpeg(big, 640), big);
    const auto odd = fitJpeg(big, 300);  // 3/8 is the largest factor that fits
    ASSERT_TRUE(odd);
    EXPECT_LE(std::max(sizeOf(*odd).first, sizeOf(*odd).second), 300);
    EXPECT_FALSE(fitJpeg(Bytes{0xFF, 0xD8, 0x00}, 100));
    EXPECT_FALSE(fitJpeg(Bytes{}, 100));
}

}  // namespace
}  // namespace pexil::camera
