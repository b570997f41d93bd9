#include "support/CommandRun.h"
#include "tools/pexilctl/CameraCommand.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

using Outcome = testing::CommandOutcome;

Outcome run(const QStringList& args) { return testing::runCommand(runCamera, args); }

// One virtual camera card shared by the steps of a test, as a user runs one command after another.
class CameraCommand : public ::testing::Test {
protected:
    QStringList camera(QStringList args) {
        return QStringList{QStringLiteral("--camera"), QStringLiteral("virtual"), QStringLiteral("--card"),
                           dir.filePath(QStringLiteral("card")), QStringLiteral("--photos"), QStringLiteral("4")} +
               args;
    }
    QTemporaryDir dir;
};

TEST_F(CameraCommand, ListsSummarisesAndDownloadsWithoutOverwriting) {
    const Outcome ls = run(camera({QStringLiteral("ls")}));
    ASSERT_EQ(ls.code, 0) << ls.err.toStdString();
    const QStringList lines = ls.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression line(QStringLiteral(R"(^DCIM/100NC\w+/DSC_000\d\.(JPG|NEF) \d+ \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$)"));
    for (const QString& l : lines) EXPECT_TRUE(line.match(l).hasMatch()) << l.toStdString();

    const Outcome summary = run(camera({QStringLiteral("summary")}));
    ASSERT_EQ(summary.code, 0) << summary.err.toStdString();
    EXPECT_TRUE(summary.out.contains(QStringLiteral("manufacturer: Nikon Corporation\n")));
    EXPECT_TRUE(summary.out.contains(QStringLiteral("files: 4\n")));
    EXPECT_TRUE(summary.out.contains(QStringLiteral("storage: 0x")));

    const QString first = lines[0].section(u' ', 0, 0);
    const QString dest = dir.filePath(QStringLiteral("dest"));
    QDir().mkpath(dest);
    const Outcome get = run(camera({QStringLiteral("get"), first, first.section(u'/', -1), QStringLiteral("--dest"), dest}));
    ASSERT_EQ(get.code, 0) << get.err.toStdString();
    const QString name = first.section(u'/', -1);
    const QString second = name.section(u'.', 0, 0) + QStringLiteral("-1.") + name.section(u'.', 1);
    EXPECT_EQ(get.out, QStringLiteral("saved: %1\nsaved: %2\n").arg(QDir(dest).filePath(name), QDir(dest).filePath(second)));
    QFile original(dir.filePath(QStringLiteral("card/") + first)), copy(QDir(dest).filePath(name));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), copy.readAll());
}

TEST_F(CameraCommand, ShootReportsTheNewFileAndThumbWritesAJpeg) {
    const Outcome shot = run(camera({QStringLiteral("shoot")}));
    ASSERT_EQ(shot.code, 0) << shot.err.toStdString();
    EXPECT_TRUE(shot.out.startsWith(QStringLiteral("shot: DCIM/"))) << shot.out.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("card/")) + shot.out.mid(6).trimmed()));

    const QString out = dir.filePath(QStringLiteral("thumb.jpg"));
    const Outcome thumb = run(camera({QStringLiteral("thumb"), shot.out.mid(6).trimmed(), QStringLiteral("--out"), out}));
    ASSERT_EQ(thumb.code, 0) << thumb.err.toStdString();
    QFile jpeg(out);
    ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(jpeg.read(2) == QByteArray("\xFF\xD8", 2));
}

TEST_F(CameraCommand, MistakesAreOneClearLineAndANonZeroStatus) {
    const Outcome missing = run(camera({QStringLiteral("get"), QStringLiteral("NOPE.JPG"), QStringLiteral("--dest"), dir.path()}));
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err.count(u'\n'), 1);
    EXPECT_EQ(run({QStringLiteral("--camera"), QStringLiteral("usb:x"), QStringLiteral("ls")}).code, 2);
    EXPECT_EQ(run(camera({QStringLiteral("dance")})).code, 2);
    EXPECT_EQ(run(camera({QStringLiteral("get"), QStringLiteral("A.JPG")})).code, 2);
    EXPECT_EQ(run(camera({QStringLiteral("--model"), QStringLiteral("d1"), QStringLiteral("ls")})).code, 2);
    const Outcome nobody = run({QStringLiteral("--camera"), QStringLiteral("ptpip://127.0.0.1:1"), QStringLiteral("ls")});
    EXPECT_EQ(nobody.code, 1);
    EXPECT_TRUE(nobody.err.contains(QStringLiteral("接続できません"))) << nobody.err.toStdString();
}

}  // namespace
}  // namespace pexil::cli
