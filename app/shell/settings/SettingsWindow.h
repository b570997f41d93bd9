#pragma once

#include <QDialog>

#include <optional>

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace pexil {
class PreferencesModel;
class ConnectionModel;
class DestinationModel;
class Log;
}

namespace pexil::ui {
class ElidedLabel;
}  // namespace pexil::ui

namespace pexil::shell {

// The preferences, in two tabs: "一般" (automatic connection, what is known of the connected
// camera, the diagnostic log) and "保存" (the destination folder, date subfolders, deletion
// after download). Every change goes to the session at once, which stores it.
class SettingsWindow final : public QDialog {
    Q_OBJECT
public:
    static constexpr int width = 470;

    explicit SettingsWindow(ConnectionModel& connection, DestinationModel& destination,
                            PreferencesModel& prefs, Log& log, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SettingsWindow)

    QTabWidget* tabs() const { return tabs_; }
    // Opens the folder chooser (window-modal); choosing a folder makes it the destination.
    QFileDialog* chooseDestination();
    // Opens the folder chooser for the backup copies; choosing a folder turns them on.
    QFileDialog* chooseBackup();
    QString backupText() const;
    QPushButton* backupOffButton() const { return backupOff_; }
    QString destinationText() const;
    QString actualDestinationText() const;
    QString problemText() const;  // empty when the destination is usable
    QString clockText() const;
    QCheckBox* autoConnectBox() const { return autoConnect_; }
    QCheckBox* showNewShotsBox() const { return showNew_; }
    QCheckBox* dateSubfolderBox() const { return dateSubfolder_; }
    QCheckBox* deleteAfterDownloadBox() const { return deleteAfter_; }
    QLineEdit* sessionEdit() const { return session_; }
    QLineEdit* templateEdit() const { return template_; }
    // The next file's name, or why the name or template typed is refused.
    QString namingText() const;
    QPushButton* syncClockButton() const { return syncClock_; }

private:
    QWidget* generalTab();
    QWidget* saveTab();
    void update();
    QWidget* namingBox(QWidget* parent);
    QWidget* backupBox(QWidget* parent);
    QFileDialog* folderDialog(const QString& title, const QString& start, const QString& accept);
    void showNaming();

    ConnectionModel& connection_;
    DestinationModel& folder_;
    Log& log_;
    PreferencesModel& prefs_;
    QTabWidget* tabs_;
    QCheckBox* autoConnect_;
    QCheckBox* showNew_;
    QLabel* camera_;
    QLabel* serialCaption_;
    QLabel* serial_;
    QLabel* firmwareCaption_;
    QLabel* firmware_;
    QLabel* clock_;
    QPushButton* syncClock_;
    ui::ElidedLabel* destination_;
    ui::ElidedLabel* backup_;
    QPushButton* backupOff_;
    QLabel* actual_;
    QLabel* cameraNames_;
    QLabel* problem_;
    QCheckBox* dateSubfolder_;
    QCheckBox* deleteAfter_;
    QLineEdit* session_;
    QLineEdit* template_;
    QLabel* naming_;
    // Why the session name or template last typed was refused; none when taken.
    std::optional<QString> namingProblem_;
};

}  // namespace pexil::shell
