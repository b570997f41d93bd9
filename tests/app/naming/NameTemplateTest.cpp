// File-naming templates, and the running counter that continues across restarts.
#include "app/naming/NameTemplate.h"
#include "app/naming/PictureNamer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil {
namespace {

NameFields sample(int counter = 7) {
    return {QStringLiteral("Studio"),
            QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9), Qt::LocalTime),
            counter,
            QStringLiteral("DSC_0042.NEF"),
            QStringLiteral("Z 6_2")};
}

TEST(NameTemplate, EveryFieldRenders) {
    const struct {
        const char* text;
        NameFields fields;
        const char* expected;
    } cases[] = {
        {"", sample(), "DSC_0042.NEF"},
        {"{session}_{counter:4}", sample(), "Studio_0007.NEF"},
        {"{counter}", sample(), "7.NEF"},
        {"{counter:1}", sample(123), "123.NEF"},
        {"{counter:3}", sample(12345), "12345.NEF"},  // wider than asked, never cut
        {"{date}-{time}", sample(), "20261209-140509.NEF"},
        {"{name}", sample(), "DSC_0042.NEF"},
        {"{model}_{number}", sample(), "Z 6_2_0042.NEF"},
        {"撮影 {counter:2}", sample(), "撮影 07.NEF"},
        // What the fields bring cannot leave the folder or hide the file.
        {"{model}{counter}", {{}, {}, 1, QStringLiteral("A.JPG"), QStringLiteral("../x")}, "_._x1.JPG"},
        {"{session}{counter}", {QStringLiteral(".hid"), {}, 1, QStringLiteral("A.JPG"), {}}, "_hid1.JPG"},
        // A camera name without an extension or digits.
        {"{number}{name}", {{}, {}, 1, QStringLiteral("IMAGE"), {}}, "IMAGE"},
        // Nothing rendered: the camera's name.
        {"{number}", {{}, {}, 1, QStringLiteral("IMG.JPG"), {}}, "IMG.JPG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = NameTemplate::parse(QString::fromUtf8(c.text));
        ASSERT_TRUE(parsed) << parsed.error().toStdString();
        EXPECT_EQ(parsed.value().render(c.fields), QString::fromUtf8(c.expected));
    }
}

TEST(NameTemplate, InvalidTemplatesAreRefusedWithTheReason) {
    const struct {
        QString text;
        const char* reason;
    } cases[] = {
        {QStringLiteral("{counter"), "「{」が閉じていません"},
        {QStringLiteral("a}{counter}"), "「}」に対応する「{」がありません"},
        {QStringLiteral("{serial}"), "不明な項目です: {serial}"},
        {QStringLiteral("{}"), "不明な項目です: {}"},
        {QStringLiteral("{counter:0}"), "連番の桁数は 1〜9 で指定してください: {counter:0}"},
        {QStringLiteral("{counter:10}"), "連番の桁数は 1〜9 で指定してください: {counter:10}"},
        {QStringLiteral("{counter:x}"), "連番の桁数は 1〜9 で指定してください: {counter:x}"},
        {QStringLiteral("{counter:2:3}"), "連番の桁数は 1〜9 で指定してください: {counter:2:3}"},
        {QStringLiteral("{date:4}"), "桁数を指定できるのは {counter} だけです: {date:4}"},
        {QStringLiteral("a/{counter}"), "ファイル名に使えない文字があります: /"},
        {QStringLiteral("a\\{counter}"), "ファイル名に使えない文字があります: \\"},
        {QStringLiteral("a\t{counter}"), "ファイル名に使えない文字があります: \\x09"},
        {QStringLiteral("{session}_{date}"),
         "{counter}、{name}、{number}、{time} のどれかを入れてください。"
         "ないとすべての写真が同じ名前になります"},
        {QStringLiteral("Studio"),
         "{counter}、{name}、{number}、{time} のどれかを入れてください。"
         "ないとすべての写真が同じ名前になります"},
        {QString(121, u'a') + QStringLiteral("{counter}"),
         "ファイル名の形式が長すぎます（120 文字まで）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const auto parsed = NameTemplate::parse(c.text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error(), QString::fromUtf8(c.reason));
    }
}

class PictureNamerTest : public ::testing::Test {
protected:
    QString storePath() const { return dir.filePath(QStringLiteral("prefs.ini")); }
    QString folder() const { return dir.filePath(QStringLiteral("out")); }
    static NameTemplate tmpl(const char* text) {
        return NameTemplate::parse(QString::fromUtf8(text)).value();
    }
    QString next(PictureNamer& namer, const char* cameraName) {
        return namer.nameFor(QString::fromUtf8(cameraName), QDateTime(), QStringLiteral("D850"),
                             folder());
    }
    QTemporaryDir dir;
};

TEST_F(PictureNamerTest, TheCounterContinuesAfterARestartPerSession) {
    {
        QSettings store(storePath(), QSettings::IniFormat);
        PictureNamer namer(store);
        namer.configure(tmpl("{session}_{counter:4}"), QStringLiteral("Studio"));
        for (const char* name : {"DSC_0001.JPG", "DSC_0002.JPG"}) {
            next(namer, name);
            namer.saved(QString::fromUtf8(name));
        }
        // A shot that was named but never saved does not use up its number.
        EXPECT_EQ(next(namer, "DSC_0003.JPG"), QStringLiteral("Studio_0003.JPG"));
    }
    QSettings store(storePath(), QSettings::IniFormat);
    PictureNamer namer(store);
    namer.configure(tmpl("{session}_{counter:4}"), QStringLiteral("Studio"));
    EXPECT_EQ(next(namer, "DSC_0004.JPG"), QStringLiteral("Studio_0003.JPG"));
    namer.configure(tmpl("{session}_{counter:4}"), QStringLiteral("Portraits/2"));
    EXPECT_EQ(next(namer, "DSC_0005.JPG"), QStringLiteral("Portraits_2_0001.JPG"));
}

TEST_F(PictureNamerTest, TheTwoFilesOfAShotShareTheirNumber) {
    QSettings store(storePath(), QSettings::IniFormat);
    PictureNamer namer(store);
    namer.configure(tmpl("S_{counter:3}"), {});
    const char* files[] = {"DSC_0001.NEF", "DSC_0001.JPG", "DSC_0002.NEF", "DSC_0002.JPG",
                           "DSC_0002.JPG"};  // the same name again is another picture
    const char* expected[] = {"S_001.NEF", "S_001.JPG", "S_002.NEF", "S_002.JPG", "S_003.JPG"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(next(namer, files[i]), QString::fromUtf8(expected[i])) << i;
        namer.saved(QString::fromUtf8(files[i]));
    }
    EXPECT_EQ(namer.nextCounter(), 4);
}

TEST_F(PictureNamerTest, NamesTakenInTheFolderMoveTheCounterOn) {
    QDir().mkpath(folder());
    for (const char* taken : {"S_001.JPG", "S_002.JPG", "S_004.JPG"})
        QFile(QDir(folder()).filePath(QString::fromUtf8(taken))).open(QIODevice::WriteOnly);
    QSettings store(storePath(), QSettings::IniFormat);
    PictureNamer namer(store);
    namer.configure(tmpl("S_{counter:3}"), {});
    EXPECT_EQ(next(namer, "DSC_0001.JPG"), QStringLiteral("S_003.JPG"));
    namer.saved(QStringLiteral("DSC_0001.JPG"));
    EXPECT_EQ(next(namer, "DSC_0002.JPG"), QStringLiteral("S_005.JPG"));
    // Without a counter the link's "-1" rule keeps names apart; the namer leaves them be.
    namer.configure(tmpl("{name}_x"), {});
    QFile(QDir(folder()).filePath(QStringLiteral("DSC_0003_x.JPG"))).open(QIODevice::WriteOnly);
    EXPECT_EQ(next(namer, "DSC_0003.JPG"), QStringLiteral("DSC_0003_x.JPG"));
    // The camera's names when there is no template.
    namer.configure(NameTemplate(), {});
    EXPECT_EQ(next(namer, "DSC_0004.JPG"), QStringLiteral("DSC_0004.JPG"));
}

}  // namespace
}  // namespace pexil
