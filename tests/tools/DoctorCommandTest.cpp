#include "tools/pexilctl/DoctorCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

namespace pexil::cli {
namespace {

using Level = DoctorFinding::Level;

TEST(DoctorFinding, FormatsOneLinePerFindingAndOneForItsFix) {
    struct Case {
        DoctorFinding finding;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {DoctorFinding::ok(QStringLiteral("log"), QStringLiteral("/home/a/.local/state/Pexil/Pexil.log")),
         "ok log: /home/a/.local/state/Pexil/Pexil.log\n"},
        {DoctorFinding::warn(QStringLiteral("usb"), QStringLiteral("カメラが見つからない")),
         "warn usb: カメラが見つからない\n"},
        {DoctorFinding::fail(QStringLiteral("holder"), QStringLiteral("gphoto2 が使っている"),
                             QStringLiteral("kill 42")),
         "fail holder: gphoto2 が使っている\n  fix: kill 42\n"},
        // A device's product name or a folder name may carry line breaks: they must not
        // start a line that reads as a finding of its own.
        {DoctorFinding::fail(QStringLiteral("destination"),
                             QStringLiteral("/tmp/a\nok usb: fake\r"),
                             QStringLiteral("mkdir\n-p x")),
         "fail destination: /tmp/a ok usb: fake\n  fix: mkdir -p x\n"},
        {DoctorFinding::warn(QStringLiteral("avahi"), QStringLiteral("x"), QStringLiteral(" \n ")),
         "warn avahi: x\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.finding.format().toStdString(), c.expected);

    std::vector<DoctorFinding> all;
    for (const Case& c : cases) all.push_back(c.finding);
    QString joined;
    for (const Case& c : cases) joined += QString::fromUtf8(c.expected);
    EXPECT_EQ(formatReport(all), joined);
    EXPECT_TRUE(anyFailed(all));
    EXPECT_FALSE(anyFailed({cases[0].finding, cases[1].finding}));
}

TEST(DoctorFinding, DestinationIsCheckedWithoutBeingCreated) {
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("Pexil"));
    QDir().mkpath(existing);
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    struct Case {
        QString folder;
        Level level;
        const char* textHas;
    };
    const std::vector<Case> cases = {
        {existing, Level::ok, "に書き込める"},
        {dir.filePath(QStringLiteral("new/deeper")), Level::ok, "最初の保存で作られる"},
        {file, Level::fail, "フォルダではない"},
        {file + QStringLiteral("/below"), Level::fail, "を作れない"},
        // procfs takes no new files, not even from root.
        {QStringLiteral("/proc/sys"), Level::fail, "書き込めません"},
        {QString(), Level::fail, "決まっていない"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        const DoctorFinding f = DeviceDoctor::destinationFinding(c.folder);
        EXPECT_EQ(f.topic, QStringLiteral("destination"));
        EXPECT_EQ(f.level, c.level);
        EXPECT_TRUE(f.text.contains(QString::fromUtf8(c.textHas))) << f.text.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("new"))));
    EXPECT_TRUE(
        QDir(existing).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST(DoctorFinding, ExifToolIsFoundWithItsVersionOrGivesTheInstallCommand) {
    QTemporaryDir dir;
    const QString fake = dir.filePath(QStringLiteral("exiftool"));
    QFile script(fake);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("print \"12.57\\n\";\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const DoctorFinding found = DeviceDoctor::exifToolFinding({QString(), {fake}});
    EXPECT_EQ(found.format(), QStringLiteral("ok exiftool: %1 12.57\n").arg(fake));
    const DoctorFinding missing =
        DeviceDoctor::exifToolFinding({QString(), {dir.filePath(QStringLiteral("none"))}});
    EXPECT_EQ(missing.level, Level::warn);
    EXPECT_EQ(missing.fix, QStringLiteral("sudo apt-get install libimage-exiftool-perl"));
}

// The command on an empty device tree: no camera, a probe that fails, a destination given.
class DoctorCommand : public ::testing::Test {
protected:
    DoctorCommand() {
        QDir(dir.path()).mkpath(QStringLiteral("devices"));
        QDir(dir.path()).mkpath(QStringLiteral("rules"));
        environment.usb.devices = dir.filePath(QStringLiteral("devices"));
        environment.usb.ruleDirectories = {dir.filePath(QStringLiteral("rules"))};
        environment.exifTool = {QString(), {}};
        environment.avahi = [] {
            return DoctorFinding::warn(QStringLiteral("avahi"), QStringLiteral("no daemon"),
                                       QStringLiteral("sudo systemctl enable --now avahi-daemon"));
        };
        environment.destination = dir.filePath(QStringLiteral("Pictures/Pexil"));
        environment.logPath = dir.filePath(QStringLiteral("Pexil.log"));
    }

    struct Outcome {
        int code;
        QString out;
        QString err;
    };
    Outcome run(const QStringList& args) {
        Outcome r{};
        QTextStream out(&r.out), err(&r.err);
        r.code = runDoctor(args, {out, err}, environment);
        out.flush();
        err.flush();
        return r;
    }

    QTemporaryDir dir;
    DeviceDoctor::Environment environment;
};

TEST_F(DoctorCommand, PrintsEveryTopicInOrderAndExitsZeroWhenNothingFails) {
    const Outcome r = run({});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.err.isEmpty());
    QStringList topics;
    for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QStringLiteral("  fix: "))) continue;
        const QString head = line.section(u':', 0, 0);
        ASSERT_EQ(head.count(u' '), 1) << line.toStdString();
        const QString level = head.section(u' ', 0, 0);
        EXPECT_TRUE(level == QLatin1String("ok") || level == QLatin1String("warn") ||
                    level == QLatin1String("fail"));
        topics << head.section(u' ', 1);
    }
    EXPECT_EQ(topics, (QStringList{"udev", "usb", "exiftool", "avahi", "destination", "log"}));
    EXPECT_TRUE(r.out.contains(QStringLiteral(
        "warn avahi: no daemon\n  fix: sudo systemctl enable --now avahi-daemon\n")));
    EXPECT_TRUE(r.out.endsWith(
        QStringLiteral("ok log: %1（最初の接続で作られる）\n").arg(environment.logPath)));
}

TEST_F(DoctorCommand, ExitsOneWhenAFindingFailsAndTwoForAWrongCommandLine) {
    QFile(dir.filePath(QStringLiteral("taken"))).open(QIODevice::WriteOnly);
    const Outcome failed = run({QStringLiteral("--dest"), dir.filePath(QStringLiteral("taken"))});
    EXPECT_EQ(failed.code, 1);
    EXPECT_TRUE(failed.out.contains(QStringLiteral("fail destination: %1 はフォルダではない")
                                        .arg(dir.filePath(QStringLiteral("taken")))))
        << failed.out.toStdString();

    struct Case {
        QStringList args;
        const char* errHas;
    };
    const std::vector<Case> wrong = {{{QStringLiteral("--dest")}, "--dest"},
                                     {{QStringLiteral("--fast")}, "--fast"}};
    for (const Case& c : wrong) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.errHas))) << r.err.toStdString();
    }
    const Outcome help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("usage: pexilctl doctor")));
}

}  // namespace
}  // namespace pexil::cli
