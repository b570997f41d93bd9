// The preferences as stored, and the destination folder they give.
#include "app/base/Preferences.h"
#include "app/base/PreferencesModel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace pexil {
namespace {

struct StoreCase {
    const char* name;
    std::vector<std::pair<const char*, QVariant>> stored;
    Preferences expected;
};

TEST(Preferences, StoredValuesReadBackWithTheirDefaults) {
    Preferences defaults;
    Preferences allSet;
    allSet.baseDestination = QStringLiteral("/srv/shoot");
    allSet.useDateSubfolder = true;
    allSet.autoConnect = false;
    allSet.deleteAfterDownload = true;
    allSet.autofocusBeforeShot = false;
    allSet.showNewShots = false;
    Preferences oddOnes = defaults;
    const StoreCase cases[] = {
        {"fresh store", {}, defaults},
        {"every key",
         {{"baseDestination", QStringLiteral("/srv/shoot")},
          {"useDateSubfolder", true},
          {"autoConnect", false},
          {"deleteAfterDownload", true},
          {"autofocusBeforeShot", false},
          {"showNewShots", false}},
         allSet},
        // Those that default to on stay on for anything that is not a Boolean.
        {"non-Boolean values",
         {{"autoConnect", QStringLiteral("yes")},
          {"autofocusBeforeShot", 7},
          {"showNewShots", QStringLiteral("1")},
          {"useDateSubfolder", QStringLiteral("on")}},
         oddOnes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
        for (const auto& [key, value] : c.stored) store.setValue(QString::fromLatin1(key), value);
        store.sync();
        QSettings reread(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
        EXPECT_EQ(Preferences::read(reread), c.expected);
    }
    EXPECT_TRUE(defaults.baseDestination.endsWith(QStringLiteral("/Pexil")));
}

TEST(Preferences, WrittenPreferencesSurviveTheStore) {
    QTemporaryDir dir;
    Preferences p;
    p.baseDestination = dir.filePath(QStringLiteral("out"));
    p.useDateSubfolder = true;
    p.deleteAfterDownload = true;
    {
        QSettings store(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
        p.write(store);
    }
    QSettings store(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
    EXPECT_EQ(Preferences::read(store), p);
}

TEST(Preferences, DateSubfoldersUseTheLocalDay) {
    Preferences p;
    p.baseDestination = QStringLiteral("/data/Pexil");
    const QDateTime date(QDate(2026, 12, 6), QTime(23, 59), Qt::LocalTime);
    EXPECT_EQ(p.destinationFor(date), QStringLiteral("/data/Pexil"));
    p.useDateSubfolder = true;
    EXPECT_EQ(p.destinationFor(date), QStringLiteral("/data/Pexil/2026-12-06"));
}

TEST(Preferences, ASessionIsAFolderAfterTheDateFolder) {
    Preferences p;
    p.baseDestination = QStringLiteral("/data/Pexil");
    p.sessionName = QStringLiteral("Studio A");
    const QDateTime date(QDate(2026, 12, 6), QTime(10, 0), Qt::LocalTime);
    EXPECT_EQ(p.destinationFor(date), QStringLiteral("/data/Pexil/Studio A"));
    p.useDateSubfolder = true;
    EXPECT_EQ(p.destinationFor(date), QStringLiteral("/data/Pexil/2026-12-06/Studio A"));
    // A name that cannot be a folder (edited into the store by hand) is no folder.
    p.sessionName = QStringLiteral("../up");
    EXPECT_EQ(p.destinationFor(date), QStringLiteral("/data/Pexil/2026-12-06"));
}

TEST(Preferences, SessionNamesThatCannotBeAFolderAreRefused) {
    const struct {
        QString name;
        const char* reason;  // null: taken
    } cases[] = {
        {QString(), nullptr},
        {QStringLiteral("Studio"), nullptr},
        {QString::fromUtf8("撮影 12月"), nullptr},
        {QStringLiteral("a/b"), "セッション名に使えない文字があります: /"},
        {QStringLiteral("a\\b"), "セッション名に使えない文字があります: \\"},
        {QStringLiteral("a\nb"), "セッション名に使えない文字があります: 制御文字"},
        {QStringLiteral(".."), "セッション名を「.」で始めることはできません"},
        {QStringLiteral(".hidden"), "セッション名を「.」で始めることはできません"},
        {QStringLiteral(" Studio"), "セッション名の前後に空白は入れられません"},
        {QString(201, u'x'), "セッション名が長すぎます"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const auto problem = Preferences::checkSessionName(c.name);
        if (!c.reason)
            EXPECT_EQ(problem, std::nullopt);
        else
            EXPECT_EQ(problem, QString::fromUtf8(c.reason));
    }
}

TEST(Preferences, TheDestinationCheckCreatesTestsAndExplains) {
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("a/b/c"));
    EXPECT_EQ(Preferences::checkDestination(fresh), std::nullopt);
    EXPECT_TRUE(QDir(fresh).exists());
    EXPECT_FALSE(QFile::exists(fresh + QStringLiteral("/.pexil-write-test")));

    // Under a file nothing can be created.
    const QString file = dir.filePath(QStringLiteral("plain"));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_EQ(Preferences::checkDestination(file + QStringLiteral("/sub")),
              QString::fromUtf8("保存先を作成できません: ") + file + QStringLiteral("/sub"));

    if (geteuid() != 0) {  // root writes anywhere
        const QString locked = dir.filePath(QStringLiteral("locked"));
        QDir().mkpath(locked);
        chmod(locked.toLocal8Bit().constData(), 0555);
        EXPECT_EQ(Preferences::checkDestination(locked),
                  QString::fromUtf8("保存先に書き込めません: ") + locked);
        EXPECT_FALSE(QFile::exists(locked + QStringLiteral("/.pexil-write-test")));
        chmod(locked.toLocal8Bit().constData(), 0755);
    }
}

}  // namespace
}  // namespace pexil

namespace pexil {
namespace {

// Each change is written at once (another start reads it) and announced once; setting what
// is already set neither writes nor announces.
TEST(PreferencesModel, AChangeIsStoredAtOnceAndAnnouncedOnce) {
    struct Case {
        const char* what;
        std::function<void(PreferencesModel&)> change;
        std::function<bool(const Preferences&)> holds;
    };
    const QString folder = QStringLiteral("/srv/shoot");
    for (const Case& c :
         {Case{"base destination", [&](PreferencesModel& m) { m.setBaseDestination(folder); },
               [&](const Preferences& p) { return p.baseDestination == folder; }},
          Case{"date subfolder", [](PreferencesModel& m) { m.setUseDateSubfolder(true); },
               [](const Preferences& p) { return p.useDateSubfolder; }},
          Case{"auto-connect", [](PreferencesModel& m) { m.setAutoConnect(false); },
               [](const Preferences& p) { return !p.autoConnect; }},
          Case{"delete after download", [](PreferencesModel& m) { m.setDeleteAfterDownload(true); },
               [](const Preferences& p) { return p.deleteAfterDownload; }},
          Case{"autofocus first", [](PreferencesModel& m) { m.setAutofocusBeforeShot(false); },
               [](const Preferences& p) { return !p.autofocusBeforeShot; }},
          Case{"show new shots", [](PreferencesModel& m) { m.setShowNewShots(false); },
               [](const Preferences& p) { return !p.showNewShots; }},
          Case{"session",
               [](PreferencesModel& m) { EXPECT_FALSE(m.setSessionName(QStringLiteral("S"))); },
               [](const Preferences& p) { return p.sessionName == QStringLiteral("S"); }},
          Case{"name template",
               [](PreferencesModel& m) {
                   EXPECT_FALSE(m.setNameTemplate(QStringLiteral("{counter:4}")));
               },
               [](const Preferences& p) {
                   return p.nameTemplate == QStringLiteral("{counter:4}");
               }}}) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.ini"));
        PreferencesModel model(std::make_unique<QSettings>(file, QSettings::IniFormat));
        int announced = 0;
        QObject::connect(&model, &PreferencesModel::changed, [&] { ++announced; });
        c.change(model);
        c.change(model);
        EXPECT_EQ(announced, 1) << c.what;
        EXPECT_TRUE(c.holds(Preferences::read(QSettings(file, QSettings::IniFormat)))) << c.what;
    }
}

TEST(StoredLiveViewMemory, ABodyThatNeedsSdramIsRememberedInTheStoreForTheNextRun) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("liveview.ini"));
    const QString key = QStringLiteral("liveViewNeedsSDRAM.3000123");
    StoredLiveViewMemory first(ini);
    EXPECT_FALSE(first.needsSDRAM(key));
    first.rememberNeedsSDRAM(key);

    const StoredLiveViewMemory next(ini);
    EXPECT_TRUE(next.needsSDRAM(key));
    EXPECT_FALSE(next.needsSDRAM(QStringLiteral("liveViewNeedsSDRAM.other")));
    EXPECT_TRUE(QSettings(ini, QSettings::IniFormat).value(key).toBool())
        << "the key as the store keeps it";
}

}  // namespace
}  // namespace pexil

namespace pexil {
namespace {

TEST(PreferencesModel, ARefusedNameKeepsTheOneBeforeAndSaysWhy) {
    QTemporaryDir dir;
    PreferencesModel model(
        std::make_unique<QSettings>(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat));
    ASSERT_FALSE(model.setNameTemplate(QStringLiteral("{session}_{counter:3}")));
    ASSERT_FALSE(model.setSessionName(QStringLiteral("Studio")));
    int announced = 0;
    QObject::connect(&model, &PreferencesModel::changed, [&] { ++announced; });
    EXPECT_EQ(model.setNameTemplate(QStringLiteral("{counter")),
              QString::fromUtf8("「{」が閉じていません"));
    EXPECT_EQ(model.setSessionName(QStringLiteral("a/b")),
              QString::fromUtf8("セッション名に使えない文字があります: /"));
    EXPECT_EQ(model.nameTemplate(), QStringLiteral("{session}_{counter:3}"));
    EXPECT_EQ(model.sessionName(), QStringLiteral("Studio"));
    EXPECT_EQ(announced, 0);
}

}  // namespace
}  // namespace pexil
