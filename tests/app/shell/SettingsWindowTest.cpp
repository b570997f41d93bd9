// The settings window: every change is stored at once, the destination chooser and what the
// window shows of the destination and the camera.
#include "ShellHarness.h"

#include "app/base/PreferencesModel.h"
#include "app/shell/settings/SettingsWindow.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

class SettingsWindowTest : public ::testing::Test {
protected:
    QVariant stored(const char* key) const {
        QSettings store(h.settingsPath(), QSettings::IniFormat);
        return store.value(QString::fromLatin1(key));
    }

    ShellHarness h{0};
    SettingsWindow window{h.model->connection(), h.model->destination(), h.model->preferences(),
                          h.model->log()};
};

TEST_F(SettingsWindowTest, twoTabsAtTheFixedWidth) {
    ASSERT_EQ(window.tabs()->count(), 2);
    EXPECT_EQ(window.tabs()->tabText(0), QStringLiteral("一般"));
    EXPECT_EQ(window.tabs()->tabText(1), QStringLiteral("保存"));
    EXPECT_EQ(window.minimumWidth(), SettingsWindow::width);
    EXPECT_EQ(window.maximumWidth(), SettingsWindow::width);
    // No camera: the clock is a bar and cannot be set.
    EXPECT_EQ(window.clockText(), QStringLiteral("―"));
    EXPECT_FALSE(window.syncClockButton()->isEnabled());
}

TEST_F(SettingsWindowTest, everyToggleIsStoredAtOnce) {
    struct Row {
        QCheckBox* box;
        const char* key;
        std::function<bool()> model;
    };
    const Row rows[] = {
        {window.autoConnectBox(), "autoConnect",
         [&] { return h.model->preferences().autoConnect(); }},
        {window.showNewShotsBox(), "showNewShots",
         [&] { return h.model->preferences().showNewShots(); }},
        {window.dateSubfolderBox(), "useDateSubfolder",
         [&] { return h.model->preferences().useDateSubfolder(); }},
        {window.deleteAfterDownloadBox(), "deleteAfterDownload",
         [&] { return h.model->preferences().deleteAfterDownload(); }},
    };
    for (const Row& row : rows) {
        const bool before = row.box->isChecked();
        EXPECT_EQ(before, row.model()) << row.key;
        row.box->click();
        EXPECT_EQ(row.model(), !before) << row.key;
        EXPECT_EQ(stored(row.key).toBool(), !before) << row.key;
    }
}

TEST_F(SettingsWindowTest, dateSubfoldersChangeTheActualDestination) {
    const QString base = h.model->preferences().baseDestination();
    EXPECT_EQ(window.destinationText(), base);
    EXPECT_EQ(window.actualDestinationText(), QStringLiteral("実際の保存先: ") + base);
    window.dateSubfolderBox()->click();
    const QString today = h.rt.clock().now().toLocalTime().date().toString(QStringLiteral("yyyy-MM-dd"));
    EXPECT_EQ(window.actualDestinationText(), QStringLiteral("実際の保存先: ") + base + u'/' + today);
    EXPECT_EQ(window.problemText(), QString());
}

// The next name is previewed as it is typed; a refused template says why and the one
// before stays; the session becomes a folder only once typed out.
TEST_F(SettingsWindowTest, theNamingPreviewFollowsTheTemplateAndTheSession) {
    const QString base = h.model->preferences().baseDestination();
    EXPECT_EQ(window.namingText(), QString::fromUtf8("次のファイル: DSC_0001.NEF"));
    window.templateEdit()->setText(QStringLiteral("{session}_{counter:3}"));
    EXPECT_EQ(window.namingText(), QString::fromUtf8("次のファイル: _001.NEF"));
    window.sessionEdit()->setText(QStringLiteral("Studio"));
    EXPECT_FALSE(QDir(base + QStringLiteral("/Studio")).exists());
    emit window.sessionEdit()->editingFinished();
    EXPECT_EQ(window.namingText(), QString::fromUtf8("次のファイル: Studio_001.NEF"));
    EXPECT_EQ(window.actualDestinationText(),
              QStringLiteral("実際の保存先: ") + base + QStringLiteral("/Studio"));
    EXPECT_TRUE(QDir(base + QStringLiteral("/Studio")).exists());
    window.templateEdit()->setText(QStringLiteral("{session}_{counter"));
    EXPECT_EQ(window.namingText(), QString::fromUtf8("「{」が閉じていません"));
    EXPECT_EQ(stored("nameTemplate").toString(), QStringLiteral("{session}_{counter:3}"));
    EXPECT_EQ(stored("sessionName").toString(), QStringLiteral("Studio"));
}

TEST_F(SettingsWindowTest, theChooserSavesHereAndCancelChangesNothing) {
    const QString before = h.model->preferences().baseDestination();
    QFileDialog* cancelled = window.chooseDestination();
    EXPECT_EQ(cancelled->labelText(QFileDialog::Accept), QStringLiteral("ここに保存"));
    EXPECT_EQ(cancelled->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(cancelled->windowTitle(), QStringLiteral("テザー撮影した画像の保存先を選んでください"));
    cancelled->reject();
    EXPECT_EQ(h.model->preferences().baseDestination(), before);

    const QString chosen = h.dir.filePath(QStringLiteral("chosen"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    QFileDialog* dialog = window.chooseDestination();
    emit dialog->fileSelected(chosen);
    EXPECT_EQ(h.model->preferences().baseDestination(), chosen);
    EXPECT_EQ(stored("baseDestination").toString(), chosen);
    EXPECT_EQ(window.destinationText(), chosen);
    dialog->reject();
}

TEST_F(SettingsWindowTest, theBackupFolderIsChosenAndTurnedOffAndKept) {
    EXPECT_EQ(window.backupText(), QStringLiteral("なし"));
    EXPECT_FALSE(window.backupOffButton()->isEnabled());
    const QString chosen = h.dir.filePath(QStringLiteral("second-disk"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    QFileDialog* dialog = window.chooseBackup();
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("ここに控えを保存"));
    emit dialog->fileSelected(chosen);
    dialog->reject();
    EXPECT_EQ(stored("backupFolder").toString(), chosen);
    EXPECT_EQ(window.backupText(), chosen);
    ASSERT_TRUE(window.backupOffButton()->isEnabled());
    window.backupOffButton()->click();
    EXPECT_EQ(stored("backupFolder").toString(), QString());
    EXPECT_EQ(window.backupText(), QStringLiteral("なし"));
}

TEST_F(SettingsWindowTest, anUnusableDestinationIsShown) {
    QFile blocker(h.dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = h.dir.filePath(QStringLiteral("blocker/Pexil"));
    h.model->preferences().setBaseDestination(folder);
    EXPECT_EQ(window.problemText(), QStringLiteral("保存先を作成できません: ") + folder);
}

}  // namespace
}  // namespace pexil::shell
