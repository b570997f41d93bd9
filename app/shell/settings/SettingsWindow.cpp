#include "app/shell/settings/SettingsWindow.h"

#include "app/base/PreferencesModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/session/DestinationModel.h"
#include "app/shell/FileReveal.h"
#include "ui/components/ElidedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace pexil::shell {

namespace {

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(ui::Theme::font(11));
    label->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    return label;
}


}  // namespace

SettingsWindow::SettingsWindow(ConnectionModel& connection, DestinationModel& destination,
                               PreferencesModel& prefs, Log& log, QWidget* parent)
    : QDialog(parent),
      connection_(connection),
      folder_(destination),
      log_(log),
      prefs_(prefs),
      tabs_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("設定"));
    setFixedWidth(width);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    tabs_->addTab(generalTab(), ui::GlyphIconEngine::icon(u"gearshape"), QStringLiteral("一般"));
    tabs_->addTab(saveTab(), ui::GlyphIconEngine::icon(u"externaldrive"), QStringLiteral("保存"));
    for (auto signal : {&ConnectionModel::stateChanged, &ConnectionModel::deviceInfoChanged,
                        &ConnectionModel::clockOffsetChanged})
        connect(&connection_, signal, this, &SettingsWindow::update);
    connect(&folder_, &DestinationModel::problemChanged, this, &SettingsWindow::update);
    connect(&prefs_, &PreferencesModel::changed, this, &SettingsWindow::update);
    update();
}

QWidget* SettingsWindow::generalTab() {
    auto* tab = new QWidget(this);
    auto* column = new QVBoxLayout(tab);
    autoConnect_ = new QCheckBox(QStringLiteral("起動時にカメラへ自動接続する"), tab);
    connect(autoConnect_, &QCheckBox::toggled, &prefs_, &PreferencesModel::setAutoConnect);
    column->addWidget(autoConnect_);
    column->addWidget(caption(
        // An installed user has no source tree: the doctor names what to run for this machine.
        QStringLiteral("カメラとのやり取りは Pexil 自身の PTP エンジン（USB・PTP/IP）で行います。USB のカメラを開けないときは、"
                       "ヘルプ → 診断 に直し方のコマンドが出ます。"),
        tab));

    showNew_ = new QCheckBox(QStringLiteral("新しい写真を自動で表示"), tab);
    connect(showNew_, &QCheckBox::toggled, &prefs_, &PreferencesModel::setShowNewShots);
    column->addWidget(showNew_);
    column->addWidget(
        caption(QStringLiteral(
                    "オフにすると、新しい写真はフィルムストリップに印付きで並び、"
                    "見ている写真はそのままです。拡大して見ている間は、オンでも切り替わりません。"),
                tab));

    auto* status = new QGroupBox(QStringLiteral("接続状態"), tab);
    auto* form = new QFormLayout(status);
    camera_ = new QLabel(status);
    serialCaption_ = new QLabel(QStringLiteral("シリアル番号"), status);
    serial_ = new QLabel(status);
    firmwareCaption_ = new QLabel(QStringLiteral("ファームウェア"), status);
    firmware_ = new QLabel(status);
    form->addRow(QStringLiteral("カメラ"), camera_);
    form->addRow(serialCaption_, serial_);
    form->addRow(firmwareCaption_, firmware_);
    auto* clockRow = new QHBoxLayout;
    clock_ = new QLabel(status);
    clock_->setFont(ui::Theme::digitsFont(13));
    syncClock_ = new QPushButton(QStringLiteral("PC に合わせる"), status);
    connect(syncClock_, &QPushButton::clicked, &connection_, &ConnectionModel::syncClock);
    clockRow->addWidget(clock_);
    clockRow->addStretch(1);
    clockRow->addWidget(syncClock_);
    form->addRow(QStringLiteral("カメラ時計"), clockRow);
    column->addWidget(status);

    auto* logBox = new QGroupBox(tab);
    auto* logColumn = new QVBoxLayout(logBox);
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(new QLabel(QStringLiteral("ログ"), logBox));
    logRow->addStretch(1);
    auto* reveal = new QPushButton(QStringLiteral("フォルダで表示"), logBox);
    connect(reveal, &QPushButton::clicked, this, [this] { FileReveal::showFile(log_.path()); });
    logRow->addWidget(reveal);
    logColumn->addLayout(logRow);
    logColumn->addWidget(caption(QStringLiteral("接続に失敗したときは ") + log_.path() +
                                     QStringLiteral(" に原因が残ります。"),
                                 logBox));
    column->addWidget(logBox);
    column->addStretch(1);
    return tab;
}

QWidget* SettingsWindow::saveTab() {
    auto* tab = new QWidget(this);
    auto* column = new QVBoxLayout(tab);
    auto* box = new QGroupBox(QStringLiteral("テザー保存先"), tab);
    auto* inner = new QVBoxLayout(box);
    auto* pathRow = new QHBoxLayout;
    // A path cut in the middle when it does not fit: both ends say the most.
    destination_ = new ui::ElidedLabel(box, Qt::ElideMiddle);
    destination_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* change = new QPushButton(QStringLiteral("変更…"), box);
    connect(change, &QPushButton::clicked, this, &SettingsWindow::chooseDestination);
    pathRow->addWidget(destination_, 1);
    pathRow->addWidget(change);
    inner->addLayout(pathRow);
    problem_ = new QLabel(box);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::danger().name()));
    inner->addWidget(problem_);
    dateSubfolder_ = new QCheckBox(QStringLiteral("日付ごとのサブフォルダを作る"), box);
    connect(dateSubfolder_, &QCheckBox::toggled, &prefs_, &PreferencesModel::setUseDateSubfolder);
    inner->addWidget(dateSubfolder_);
    actual_ = caption(QString(), box);
    inner->addWidget(actual_);
    cameraNames_ = caption(
        QStringLiteral("撮影ファイルはカメラ側の名前のまま保存され、同名があれば連番を付けます。"),
        box);
    inner->addWidget(cameraNames_);
    column->addWidget(box);
    column->addWidget(namingBox(tab));
    column->addWidget(backupBox(tab));

    deleteAfter_ = new QCheckBox(QStringLiteral("転送後にカメラのカードから削除する"), tab);
    connect(deleteAfter_, &QCheckBox::toggled, &prefs_, &PreferencesModel::setDeleteAfterDownload);
    column->addWidget(deleteAfter_);
    column->addWidget(caption(QStringLiteral("既定はオフです。オンにすると転送に成功したファイルをカードから消します。"), tab));
    column->addStretch(1);
    return tab;
}

QWidget* SettingsWindow::namingBox(QWidget* parent) {
    auto* box = new QGroupBox(QStringLiteral("セッションとファイル名"), parent);
    auto* form = new QFormLayout(box);
    session_ = new QLineEdit(prefs_.sessionName(), box);
    session_->setPlaceholderText(QStringLiteral("なし"));
    session_->setAccessibleName(QStringLiteral("セッション名"));
    template_ = new QLineEdit(prefs_.nameTemplate(), box);
    template_->setPlaceholderText(QStringLiteral("カメラ側の名前"));
    template_->setAccessibleName(QStringLiteral("ファイル名の形式"));
    form->addRow(QStringLiteral("セッション"), session_);
    form->addRow(QStringLiteral("ファイル名"), template_);
    // The session is a folder: taken when the photographer is done typing, not a folder
    // per keystroke.
    connect(session_, &QLineEdit::editingFinished, this, [this] {
        namingProblem_ = prefs_.setSessionName(session_->text().trimmed());
        showNaming();
    });
    connect(template_, &QLineEdit::textChanged, this, [this](const QString& text) {
        namingProblem_ = prefs_.setNameTemplate(text);
        showNaming();
    });
    form->addRow(caption(QStringLiteral("{session} {date} {time} {counter:4} {name} {number} "
                                        "{model}。セッションは保存先の中のフォルダになり、"
                                        "連番はセッションごとに続きます。"),
                         box));
    naming_ = new QLabel(box);
    naming_->setWordWrap(true);
    naming_->setFont(ui::Theme::font(11));
    naming_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(naming_);
    connect(&folder_, &DestinationModel::nextNameChanged, this, &SettingsWindow::showNaming);
    return box;
}

QWidget* SettingsWindow::backupBox(QWidget* parent) {
    auto* box = new QGroupBox(QStringLiteral("控え（バックアップ）"), parent);
    auto* inner = new QVBoxLayout(box);
    auto* row = new QHBoxLayout;
    backup_ = new ui::ElidedLabel(box, Qt::ElideMiddle);
    backup_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* choose = new QPushButton(QStringLiteral("選択…"), box);
    connect(choose, &QPushButton::clicked, this, &SettingsWindow::chooseBackup);
    backupOff_ = new QPushButton(QStringLiteral("使わない"), box);
    connect(backupOff_, &QPushButton::clicked, this, [this] { prefs_.setBackupFolder(QString()); });
    row->addWidget(backup_, 1);
    row->addWidget(choose);
    row->addWidget(backupOff_);
    inner->addLayout(row);
    inner->addWidget(
        caption(QStringLiteral("保存した写真を別のディスクにも書き、読み直して確かめます。"), box));
    return box;
}

void SettingsWindow::showNaming() {
    // With a naming template of their own the pictures no longer keep the camera's names.
    cameraNames_->setVisible(prefs_.nameTemplate().isEmpty());
    naming_->setText(namingProblem_ ? *namingProblem_
                                    : QStringLiteral("次のファイル: ") + folder_.nextName());
    naming_->setStyleSheet(
        QStringLiteral("color: %1")
            .arg((namingProblem_ ? ui::Theme::danger() : ui::Theme::dim()).name()));
}

QFileDialog* SettingsWindow::folderDialog(const QString& title, const QString& start,
                                          const QString& accept) {
    auto* dialog = new QFileDialog(this, title, start);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: the confirm label is ours and it works the same offscreen.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, accept);
    dialog->setWindowModality(Qt::WindowModal);
    return dialog;
}

QFileDialog* SettingsWindow::chooseDestination() {
    auto* dialog = folderDialog(QStringLiteral("テザー撮影した画像の保存先を選んでください"),
                                prefs_.baseDestination(), QStringLiteral("ここに保存"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) prefs_.setBaseDestination(folder);
    });
    dialog->open();
    return dialog;
}

QFileDialog* SettingsWindow::chooseBackup() {
    auto* dialog =
        folderDialog(QStringLiteral("控えを保存するフォルダを選んでください（別のディスクに）"),
                     prefs_.backupFolder().isEmpty() ? QDir::homePath() : prefs_.backupFolder(),
                     QStringLiteral("ここに控えを保存"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) prefs_.setBackupFolder(folder);
    });
    dialog->open();
    return dialog;
}

QString SettingsWindow::destinationText() const { return destination_->fullText(); }
QString SettingsWindow::backupText() const {
    return backup_->fullText();
}
QString SettingsWindow::actualDestinationText() const { return actual_->text(); }
QString SettingsWindow::problemText() const { return problem_->isHidden() ? QString() : problem_->text(); }
QString SettingsWindow::clockText() const { return clock_->text(); }
QString SettingsWindow::namingText() const {
    return naming_->text();
}

void SettingsWindow::update() {
    for (auto [box, on] :
         {std::pair{autoConnect_, prefs_.autoConnect()}, std::pair{showNew_, prefs_.showNewShots()},
          std::pair{dateSubfolder_, prefs_.useDateSubfolder()},
          std::pair{deleteAfter_, prefs_.deleteAfterDownload()}}) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
    }
    camera_->setText(connection_.modelName());
    const auto& device = connection_.deviceInfo();
    const bool hasSerial = device && !device->serialNumber.isEmpty();
    const bool hasFirmware = device && !device->version.isEmpty();
    serial_->setText(hasSerial ? device->serialNumber : QString());
    firmware_->setText(hasFirmware ? device->version : QString());
    for (QWidget* w : std::initializer_list<QWidget*>{serialCaption_, serial_}) w->setVisible(hasSerial);
    for (QWidget* w : std::initializer_list<QWidget*>{firmwareCaption_, firmware_}) w->setVisible(hasFirmware);
    clock_->setText(connection_.clockOffsetDescription().value_or(QStringLiteral("―")));
    const auto offset = connection_.clockOffset();
    const bool far = offset && std::fabs(*offset) > 60;
    clock_->setStyleSheet(QStringLiteral("color: %1")
                              .arg(far ? ui::Theme::orange().name() : ui::Theme::dim().name()));
    syncClock_->setEnabled(connection_.state().is(ConnectionState::Kind::connected));

    destination_->setFullText(prefs_.baseDestination());
    backup_->setFullText(prefs_.backupFolder().isEmpty() ? QStringLiteral("なし")
                                                         : prefs_.backupFolder());
    backupOff_->setEnabled(!prefs_.backupFolder().isEmpty());
    actual_->setText(QStringLiteral("実際の保存先: ") + folder_.folderNow());
    problem_->setText(folder_.problem().value_or(QString()));
    problem_->setVisible(folder_.problem().has_value());
    showNaming();
}

}  // namespace pexil::shell
