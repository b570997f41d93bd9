#include "app/shell/main/MainWindow.h"

#include "app/capture/CaptureModel.h"
#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/doctor/CameraTrouble.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/SessionModel.h"
#include "app/shell/DesktopNotifier.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/card/CardActionBar.h"
#include "app/shell/card/CardBrowser.h"
#include "app/shell/card/CardInfoRow.h"
#include "app/shell/main/BackupStrip.h"
#include "app/shell/main/CameraActions.h"
#include "app/shell/main/CameraCommand.h"
#include "app/shell/main/CameraMenu.h"
#include "app/shell/main/CameraStatusMenu.h"
#include "app/shell/main/CameraWaitView.h"
#include "app/shell/main/Filmstrip.h"
#include "app/shell/main/FocusStackDialog.h"
#include "app/shell/main/InfoRow.h"
#include "app/shell/main/Inspector.h"
#include "app/shell/main/LiveViewActions.h"
#include "app/shell/main/LiveViewBar.h"
#include "app/shell/main/MarkKeys.h"
#include "app/shell/main/PreviewPane.h"
#include "app/shell/main/PreviewZoom.h"
#include "app/shell/main/SeriesActions.h"
#include "app/shell/main/WarmupOverlay.h"
#include "app/shell/main/WarningStrip.h"
#include "app/shots/ShotsModel.h"
#include "ui/components/GlassButton.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace pexil::shell {

namespace {
// A toolbar button of a camera command: it runs the action and is enabled when it is.
void follow(ui::GlassButton* button, QAction* action) {
    QObject::connect(button, &ui::GlassButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, [button, action] { button->setEnabled(action->isEnabled()); });
    button->setEnabled(action->isEnabled());
}
}  // namespace

namespace {
const QString geometryKey = QStringLiteral("mainWindow/geometry");
const QString splitterKey = QStringLiteral("mainWindow/splitter");
}  // namespace

MainWindow::MainWindow(SessionModel& model, QWidget* parent)
    : QMainWindow(parent),
      model_(model),
      actions_(new CameraActions(
          model, [this](const QString& text) { reportError(text); }, this)),
      zoom_(new PreviewZoom(this)),
      warning_(new WarningStrip(model.destination(), model.connection(), this)),
      backupWarning_(new BackupStrip(model.backup(), this)),
      centreStack_(new QStackedWidget(this)),
      preview_(new PreviewPane(model.connection(), model.capture(), model.shots(), model.liveView(),
                               *zoom_, centreStack_)),
      waitView_(new CameraWaitView(model.connection(), centreStack_)),
      warmupView_(new WarmupOverlay(model.connection(), centreStack_)),
      info_(new InfoRow(model.shots(), model.liveView(), *zoom_, this)),
      filmstrip_(new Filmstrip(model.shots(), model.capture(), model.settings(), model.connection(),
                               model.card(), this)),
      sourceStack_(new QStackedWidget(this)),
      tetherPage_(new QWidget(sourceStack_)),
      cardPage_(new QWidget(sourceStack_)),
      cardBrowser_(new CardBrowser(model.connection(), model.card(), cardPage_)),
      cardInfo_(new CardInfoRow(model.card(), cardPage_)),
      cardBar_(new CardActionBar(model.connection(), model.shots(), model.card(), model.geo(),
                                 cardPage_)),
      inspector_(new Inspector(model.connection(), model.settings(), model.capture(),
                               model.preferences(), *actions_, this)),
      splitter_(new QSplitter(Qt::Horizontal, this)),
      space_(new QShortcut(QKeySequence(Qt::Key_Space), this)),
      notifier_(new DesktopNotifier(QDBusConnection::sessionBus(), this)) {
    setWindowTitle(QStringLiteral("Pexil"));
    setMinimumSize(minimumContent);
    resize(defaultSize);

    centreStack_->addWidget(preview_);
    centreStack_->addWidget(waitView_);
    centreStack_->addWidget(warmupView_);
    auto* main = new QWidget(splitter_);
    main->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(warning_);
    column->addWidget(backupWarning_);
    column->addWidget(sourceStack_, 1);
    auto* tether = new QVBoxLayout(tetherPage_);
    tether->setContentsMargins(0, 0, 0, 0);
    tether->setSpacing(0);
    tether->addWidget(centreStack_, 1);
    tether->addWidget(info_);
    tether->addWidget(filmstrip_);
    auto* card = new QVBoxLayout(cardPage_);
    card->setContentsMargins(0, 0, 0, 0);
    card->setSpacing(0);
    card->addWidget(cardBrowser_, 1);
    card->addWidget(cardInfo_);
    card->addWidget(cardBar_);
    sourceStack_->addWidget(tetherPage_);
    sourceStack_->addWidget(cardPage_);
    splitter_->addWidget(main);
    splitter_->addWidget(inspector_);
    splitter_->setChildrenCollapsible(false);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    splitter_->setSizes({defaultSize.width() - 320, 320});
    setCentralWidget(splitter_);

    liveActions_ = new LiveViewActions(
        model_.liveView(), [this] { return model_.capture().shootAndWait(false); }, this);
    connect(liveActions_, &LiveViewActions::focusStackRequested, this, [this] {
        FocusStackDialog dialog(this);
        if (dialog.exec() == QDialog::Accepted) liveActions_->stack().start(dialog.plan());
    });
    connect(liveActions_, &LiveViewActions::magnifyRequested, preview_,
            &PreviewPane::magnifyAfArea);
    info_->setLiveControls(new LiveViewBar(model_.liveView(), *liveActions_, info_));
    buildToolbar();
    buildMenus();
    // Marking where the pictures are looked at: the filmstrip and the large picture.
    installMarkKeys(filmstrip_, model.shots());
    installMarkKeys(preview_, model.shots());
    connect(&model.shots(), &ShotsModel::markFailed, this, &MainWindow::reportError);
    // Tab goes from the picture to the strip, then down the inspector to the shutter.
    QWidget::setTabOrder(preview_, filmstrip_->view());
    inspector_->setTabOrderAfter(filmstrip_->view());
    // The window opens with the keyboard on the strip, where the arrows step through the shots.
    filmstrip_->view()->setFocus();

    // Space is a window shortcut: a focused text field takes the key first, and the only
    // button that takes focus is the shutter, so nothing else is pressed by it.
    space_->setContext(Qt::WindowShortcut);
    space_->setAutoRepeat(false);
    connect(space_, &QShortcut::activated, this, [this] {
        if (spaceEnabled()) model_.capture().shoot();
    });

    const QSettings settings;
    restoreGeometry(settings.value(geometryKey).toByteArray());
    splitter_->restoreState(settings.value(splitterKey).toByteArray());
    inspectorToggle_->setChecked(!inspector_->isHidden());

    for (auto signal : {&ConnectionModel::stateChanged, &ConnectionModel::warmupChanged})
        connect(&model_.connection(), signal, this, &MainWindow::updateState);
    connect(&model_.capture(), &CaptureModel::busyChanged, this, &MainWindow::updateState);
    connect(&model_.shots(), &ShotsModel::shotsChanged, this, &MainWindow::updateState);
    // A picture looked at closely is not taken away by the next shot.
    const auto hold = [this] {
        model_.shots().setHeld(zoom_->isZoomedIn() && !model_.liveView().isLive());
    };
    connect(zoom_, &PreviewZoom::changed, this, hold);
    connect(&model_.liveView(), &LiveViewModel::isLiveChanged, this, hold);
    connect(&model_.liveView(), &LiveViewModel::isLiveChanged, this, &MainWindow::updateLiveButton);
    connect(&model_.capture(), &CaptureModel::afStateChanged, this, &MainWindow::updateAFButton);
    connect(&model_, &SessionModel::lastErrorChanged, this, &MainWindow::updateAlert);
    connect(&model_.connection(), &ConnectionModel::stateChanged, this, &MainWindow::tellLoss);
    connect(&model_.card(), &CardModel::activeChanged, this, &MainWindow::updateSource);
    connect(&model_.card(), &CardModel::activeChanged, this, &MainWindow::updateState);
    updateSource();
    updateState();
    updateLiveButton();
    updateAFButton();
    updateAlert();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildToolbar() {
    auto* bar = new QToolBar(this);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize({18, 18});
    bar->setStyleSheet(QStringLiteral("QToolBar { background: %1; border: none; spacing: 8px; padding: 4px 8px; }")
                           .arg(ui::Theme::surface().name()));
    status_ = new CameraStatusMenu(model_.connection(), model_.settings(), bar);
    bar->addWidget(status_);
    liveButton_ = new ui::GlassButton(ui::GlassButton::Shape::Capsule, bar);
    liveButton_->setText(QStringLiteral("ライブビュー"));
    liveButton_->setToolTip(QStringLiteral("ミラーアップして映像を受け取ります（Ctrl+L）"));
    follow(liveButton_, actions_->action(CameraCommand::liveView));
    bar->addWidget(liveButton_);
    afButton_ = new ui::GlassButton(ui::GlassButton::Shape::Circle, bar);
    afButton_->setAccessibleName(CameraCommands::title(CameraCommand::autofocus));
    afButton_->setToolTip(QStringLiteral("AF を実行（シャッター半押し相当、Ctrl+F）"));
    follow(afButton_, actions_->action(CameraCommand::autofocus));
    bar->addWidget(afButton_);
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    inspectorToggle_ = bar->addAction(ui::GlyphIconEngine::icon(u"sidebar.trailing", ui::Theme::dim()),
                                      QStringLiteral("撮影設定パネル"));
    inspectorToggle_->setCheckable(true);
    inspectorToggle_->setChecked(true);
    inspectorToggle_->setToolTip(QStringLiteral("撮影設定パネル"));
    connect(inspectorToggle_, &QAction::toggled, inspector_, &QWidget::setVisible);
    if (QWidget* button = bar->widgetForAction(inspectorToggle_)) button->setFocusPolicy(Qt::NoFocus);
    addToolBar(Qt::TopToolBarArea, bar);
}

void MainWindow::buildMenus() {
    // Mnemonics in the Japanese way, "(F)" after the name; F10 opens the bar as elsewhere on
    // Linux desktops.
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    QAction* settings = file->addAction(QStringLiteral("設定…"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings, &QAction::triggered, this, &MainWindow::settingsRequested);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("終了"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    cameraMenu_ = new CameraMenu(*actions_, this);
    series_ = new SeriesActions(model_.runtime(), model_.connection(), model_.capture(),
                                model_.settings(), model_.preferences(), this);
    series_->addTo(cameraMenu_);
    connect(series_, &SeriesActions::textChanged, this,
            [this] { filmstrip_->setSeriesText(series_->text()); });
    menuBar()->addMenu(cameraMenu_);
    connect(actions_, &CameraActions::geotagRequested, this, &MainWindow::geotagRequested);

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    const auto zoomAction = [this, view](const QString& text, QList<QKeySequence> keys, void (PreviewZoom::*slot)()) {
        QAction* action = view->addAction(text);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, zoom_, slot);
    };
    zoomAction(QStringLiteral("拡大"), {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
               &PreviewZoom::zoomIn);
    zoomAction(QStringLiteral("縮小"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, &PreviewZoom::zoomOut);
    zoomAction(QStringLiteral("全体表示"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, &PreviewZoom::fitToPane);
    zoomAction(QStringLiteral("等倍"), {QKeySequence(Qt::CTRL | Qt::Key_1)}, &PreviewZoom::actualSize);
    liveActions_->addTo(view);
    // The filmstrip's switch, from the keyboard: the card needs the camera, as the switch does.
    view->addSeparator();
    QAction* tether = view->addAction(QStringLiteral("撮影した写真"));
    tether->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    connect(tether, &QAction::triggered, this, [this] { model_.card().setActive(false); });
    cardAction_ = view->addAction(QStringLiteral("カードの写真"));
    cardAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    connect(cardAction_, &QAction::triggered, this, [this] { model_.card().setActive(true); });

    QMenu* window = menuBar()->addMenu(QStringLiteral("ウィンドウ(&W)"));
    // The camera menu's own action: two actions with one key would make the key ambiguous,
    // and Qt then runs neither.
    window->addAction(actions_->action(CameraCommand::geotag));
    connect(window->addAction(QStringLiteral("クライアントビュー…")), &QAction::triggered, this,
            &MainWindow::clientViewRequested);
    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this, file] {
        menuBar()->setFocus(Qt::MenuBarFocusReason);
        menuBar()->setActiveAction(file->menuAction());
    });
    connect(help->addAction(QStringLiteral("診断")), &QAction::triggered, this, &MainWindow::diagnosisRequested);
    connect(help->addAction(QStringLiteral("診断ログを開く")), &QAction::triggered, this, &MainWindow::logRequested);
    connect(help->addAction(QStringLiteral("バージョン情報")), &QAction::triggered, this, &MainWindow::aboutRequested);
    connect(warning_, &WarningStrip::destinationRequested, this, &MainWindow::settingsRequested);
}

MainWindow::Centre MainWindow::centre() const {
    if (centreStack_->currentWidget() == warmupView_) return Centre::warmup;
    if (centreStack_->currentWidget() == waitView_) return Centre::waiting;
    return Centre::preview;
}

void MainWindow::setCameraTrouble(CameraTrouble* trouble) {
    if (trouble_) {
        disconnect(trouble_, nullptr, this, nullptr);
        disconnect(&model_, nullptr, trouble_, nullptr);
    }
    trouble_ = trouble;
    waitView_->setTrouble(trouble);
    status_->setTrouble(trouble);
    if (trouble_) {
        connect(&model_.connection(), &ConnectionModel::stateChanged, trouble_, [this] {
            if (trouble_) trouble_->update(model_.connection().state());
        });
        connect(trouble_, &CameraTrouble::changed, this, &MainWindow::updateCentre);
        trouble_->update(model_.connection().state());
    }
    updateCentre();
}

void MainWindow::tellLoss() {
    const auto& state = model_.connection().state();
    if (state.is(ConnectionState::Kind::connected)) {
        lossSaid_ = false;
        notifier_->withdraw();
        return;
    }
    const bool lost = state.is(ConnectionState::Kind::waiting) && state.text && !state.text->isEmpty();
    if (!lost || lossSaid_) return;
    lossSaid_ = true;
    // The warning strip says it in the window; a photographer working in another program
    // hears of it from the desktop.
    if (!isActiveWindow())
        notifier_->show(QStringLiteral("カメラとの接続が切れました"),
                        ShellTexts::lost(*state.text, model_.connection().reconnectAt()));
}

bool MainWindow::showsCard() const { return sourceStack_->currentWidget() == cardPage_; }

void MainWindow::updateSource() {
    const bool card = model_.card().active();
    // The keyboard follows the switch: the grid takes it when shown, and the tether view
    // takes it back from a card page that had it (else it would be left on a hidden widget).
    const bool hadKeyboard = sourceStack_->currentWidget()->isAncestorOf(QApplication::focusWidget());
    sourceStack_->setCurrentWidget(card ? cardPage_ : tetherPage_);
    if (card)
        cardBrowser_->takeKeyboard();
    else if (hadKeyboard)
        filmstrip_->view()->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::spaceEnabled() const {
    // Space fires the shutter only where its picture is seen: not while browsing the card.
    return CameraCommands::isEnabled(CameraCommand::shoot, model_.connection().state()) &&
           !model_.capture().busy() && !model_.card().active();
}

void MainWindow::updateState() {
    const auto& state = model_.connection().state();
    space_->setEnabled(spaceEnabled());
    if (cardAction_) cardAction_->setEnabled(state.is(ConnectionState::Kind::connected) || model_.card().active());
    updateCentre();
}

void MainWindow::updateCentre() {
    QWidget* shown = preview_;
    if (model_.connection().warmup())
        shown = warmupView_;
    else if (model_.connection().state().is(ConnectionState::Kind::waiting) &&
             model_.shots().empty())
        shown = waitView_;
    // A camera that would not open, with what mends it, matters more than the last shot.
    else if (trouble_ && trouble_->finding())
        shown = waitView_;
    centreStack_->setCurrentWidget(shown);
}

void MainWindow::updateLiveButton() {
    const bool live = model_.liveView().isLive();
    liveButton_->setIcon(ui::GlyphIconEngine::icon(live ? u"eye.fill" : u"eye", live ? ui::Theme::amber() : ui::Theme::text()));
    liveButton_->setTint(live ? ui::Theme::amber() : QColor());
    liveButton_->setAccessibleDescription(live ? QStringLiteral("表示中") : QString());
    liveButton_->update();
}

void MainWindow::updateAFButton() {
    using Kind = AFState::Kind;
    const AFState& af = model_.capture().afState();
    switch (af.kind) {
        case Kind::idle: afButton_->setIcon(ui::GlyphIconEngine::icon(u"viewfinder.circle")); break;
        // No spinner of its own: the focus symbol dimmed while the lens drives.
        case Kind::running: afButton_->setIcon(ui::GlyphIconEngine::icon(u"viewfinder.circle", ui::Theme::dimmer())); break;
        case Kind::succeeded:
            afButton_->setIcon(ui::GlyphIconEngine::icon(u"checkmark.circle.fill", ui::Theme::amber()));
            break;
        case Kind::failed:
            afButton_->setIcon(ui::GlyphIconEngine::icon(u"exclamationmark.triangle.fill", ui::Theme::danger()));
            break;
    }
    afButton_->setAccessibleDescription(af.kind == Kind::failed ? af.text : QString());
    afButton_->update();
}

void MainWindow::reportError(const QString& text) { model_.reportError(text); }

QMessageBox* MainWindow::alert() const { return alert_; }

QString MainWindow::alertText() const { return alert_ ? alert_->text() : QString(); }

void MainWindow::updateAlert() {
    const std::optional<QString> text = model_.lastError();
    if (!text) {
        if (QMessageBox* box = std::exchange(alert_, nullptr)) {
            box->close();
            box->deleteLater();
        }
        return;
    }
    if (alert_) {
        alert_->setText(*text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("エラー"), *text, QMessageBox::Ok, this);
    box->setWindowModality(Qt::WindowModal);
    alert_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (alert_ != box) return;  // closed because the error went away
        alert_ = nullptr;
        box->deleteLater();
        // Dismissing clears what was shown.
        model_.clearLastError();
        updateAlert();
    });
    box->open();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QSettings settings;
    settings.setValue(geometryKey, saveGeometry());
    settings.setValue(splitterKey, splitter_->saveState());
    QMainWindow::closeEvent(event);
}

}  // namespace pexil::shell
