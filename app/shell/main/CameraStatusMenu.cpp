#include "app/shell/main/CameraStatusMenu.h"

#include "app/connection/ConnectionModel.h"
#include "app/doctor/CameraTrouble.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/main/CameraCommand.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

namespace pexil::shell {

CameraStatusMenu::CameraStatusMenu(ConnectionModel& connection, CameraSettingsModel& settings,
                                   QWidget* parent)
    : QToolButton(parent), connection_(connection), settings_(settings), menu_(new QMenu(this)) {
    setMenu(menu_);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIcon(ui::GlyphIconEngine::icon(u"camera", ui::Theme::text()));
    setFocusPolicy(Qt::NoFocus);
    setFont(ui::Theme::font(13, QFont::Medium));
    connect(menu_, &QMenu::aboutToShow, this, &CameraStatusMenu::rebuild);
    connect(&connection_, &ConnectionModel::stateChanged, this, &CameraStatusMenu::updateTitle);
    connect(&connection_, &ConnectionModel::warmupChanged, this, &CameraStatusMenu::updateTitle);
    updateTitle();
}

void CameraStatusMenu::updateTitle() {
    const QString status = ShellTexts::status(connection_.state(), connection_.warmup());
    setText(status);
    setAccessibleName(status);
    setToolTip(ShellTexts::menuDetail(connection_.state()).value_or(status));
}

QStringList CameraStatusMenu::itemTexts() {
    rebuild();
    QStringList out;
    for (QAction* action : menu_->actions())
        if (!action->isSeparator()) out << action->text();
    return out;
}

bool CameraStatusMenu::trigger(const QString& text) {
    rebuild();
    for (QAction* action : menu_->actions())
        if (action->text() == text && action->isEnabled()) {
            action->trigger();
            return true;
        }
    return false;
}

void CameraStatusMenu::setTrouble(CameraTrouble* trouble) { trouble_ = trouble; }

void CameraStatusMenu::rebuild() {
    menu_->clear();
    using Kind = ConnectionState::Kind;
    const auto& state = connection_.state();
    auto info = [this](const QString& text) { menu_->addAction(text)->setEnabled(false); };
    info(ShellTexts::status(state, connection_.warmup()));
    if (trouble_ && trouble_->finding()) {
        const DoctorFinding finding = *trouble_->finding();
        info(finding.text);
        if (!finding.fix.isEmpty()) {
            info(finding.fix);
            QAction* copy = menu_->addAction(QStringLiteral("コマンドをコピー"));
            copy->setToolTip(finding.fix);
            connect(copy, &QAction::triggered, this, [fix = finding.fix] { QGuiApplication::clipboard()->setText(fix); });
        }
        menu_->addSeparator();
        connect(menu_->addAction(QStringLiteral("再試行")), &QAction::triggered, &connection_,
                &ConnectionModel::connectCamera);
        return;
    }
    if (const auto detail = ShellTexts::menuDetail(state); detail && !detail->isEmpty()) info(*detail);
    menu_->addSeparator();
    switch (state.kind) {
        case Kind::connected: {
            if (const auto& device = connection_.deviceInfo(); device && !device->version.isEmpty())
                info(QStringLiteral("ファームウェア ") + device->version);
            if (const auto level = settings_.batteryPercent())
                info(QStringLiteral("カメラの電池 %1%").arg(*level));
            if (const auto clock = connection_.clockOffsetDescription())
                info(QStringLiteral("カメラの時計: ") + *clock);
            menu_->addSeparator();
            connect(menu_->addAction(CameraCommands::title(CameraCommand::syncClock)),
                    &QAction::triggered, &connection_, &ConnectionModel::syncClock);
            QAction* release = menu_->addAction(CameraCommands::title(CameraCommand::releaseControl));
            release->setToolTip(CameraCommands::help(CameraCommand::releaseControl));
            connect(release, &QAction::triggered, &connection_,
                    &ConnectionModel::releaseCameraControl);
            break;
        }
        case Kind::waiting:
        case Kind::connecting:
            connect(menu_->addAction(QStringLiteral("待つのをやめる")), &QAction::triggered,
                    &connection_, &ConnectionModel::disconnectCamera);
            break;
        case Kind::failed:
        case Kind::disconnected:
            connect(menu_->addAction(CameraCommands::title(CameraCommand::connect)),
                    &QAction::triggered, &connection_, &ConnectionModel::connectCamera);
            break;
    }
}

}  // namespace pexil::shell
