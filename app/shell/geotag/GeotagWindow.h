#pragma once

#include "app/geo/GeoTagModel.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace pexil {
class GeoStore;
}

namespace pexil::ui {
class ElidedLabel;
}  // namespace pexil::ui

namespace pexil::shell {

class ReceiverBar;

// Writes positions into pictures already on the computer: the record in use (received, or a
// payload file), the picture folder, which pictures get an exact, an estimated or no position
// or are tagged already, the tolerance and overwrite options, and "書き込む" (Return).
//
// The window gets a fresh GeoTagModel of its own. When shown without a record it adopts the
// store's; every record the store receives while the window is open replaces the one in use.
// An alert "エラー" is open while the model has a problem; dismissing it clears the problem.
class GeotagWindow final : public QDialog {
    Q_OBJECT
public:
    GeotagWindow(GeoStore& store, async::Runtime& runtime, GeoTagModel::Options options,
                 QWidget* parent = nullptr);
    ~GeotagWindow() override;
    Q_DISABLE_COPY_MOVE(GeotagWindow)

    GeoTagModel& model() { return *model_; }
    ReceiverBar* receiverBar() const { return receiverBar_; }
    QPushButton* writeButton() const { return write_; }
    QComboBox* toleranceBox() const { return tolerance_; }
    QCheckBox* overwriteBox() const { return overwrite_; }
    QProgressBar* busyIndicator() const { return busy_; }
    QListWidget* matchList() const { return list_; }
    // The alert while one is open, else null.
    QMessageBox* alert() const { return alert_; }

    // The file choosers (window-modal, Qt's own dialog); confirming one loads the record or
    // sets the folder.
    QFileDialog* pickPayload();
    QFileDialog* pickFolder();

    // What the window shows, for tests and accessibility.
    QString payloadDetail() const;
    QString payloadSubtitle() const;  // empty when hidden
    QString folderDetail() const;
    QString folderSubtitle() const;
    // "ファイル名で確定 N", … for the tallies on show, in order.
    QStringList tallyTexts() const;
    QStringList reportTexts() const;  // the report lines on show
    QString footerText() const;
    // One line per listed match: name, "±N秒" when estimated, position.
    QStringList rowTexts() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* header();
    QWidget* sources();
    QWidget* optionsRow();
    QWidget* results();
    QWidget* footer();
    void adoptStored();
    void update();
    void updateResults();
    void updateAlert();

    GeoStore& store_;
    GeoTagModel* model_;  // child
    ReceiverBar* receiverBar_ = nullptr;
    ui::ElidedLabel* payloadDetail_ = nullptr;
    QLabel* payloadSubtitle_ = nullptr;
    ui::ElidedLabel* folderDetail_ = nullptr;
    QLabel* folderSubtitle_ = nullptr;
    QComboBox* tolerance_ = nullptr;
    QCheckBox* overwrite_ = nullptr;
    QLabel* exactCount_ = nullptr;
    QLabel* estimatedCount_ = nullptr;
    QWidget* taggedTally_ = nullptr;
    QLabel* taggedCount_ = nullptr;
    QLabel* unmatchedCount_ = nullptr;
    QWidget* writtenRow_ = nullptr;
    QLabel* writtenText_ = nullptr;
    QWidget* failedRow_ = nullptr;
    QLabel* failedText_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* version_ = nullptr;
    QWidget* missing_ = nullptr;
    QProgressBar* busy_ = nullptr;
    QPushButton* write_ = nullptr;
    QMessageBox* alert_ = nullptr;
};

}  // namespace pexil::shell
