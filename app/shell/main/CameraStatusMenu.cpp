#include "app/shell/main/CameraStatusMenu.h"

#include "app/connection/ConnectionModel.h"
#include "app/doctor/CameraTrouble.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/main/CameraCommand.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

namespace pexil::shell {

CameraStatusMenu::CameraStatusMenu(SessionModel& model, QWidget* parent)
    : QToolButton(parent), model_(model), menu_(new QMenu(this)) {
    setMenu(menu_);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIcon(ui::GlyphIconEngine::icon(u"camera", ui::Theme::text()));
    setFocusPolicy(Qt::NoFocus);
    setFont(ui::Theme::font(13, QFont::Medium));
    connect(menu_, &QMenu::aboutToShow, this, &CameraStatusMenu::rebuild);
    connect(&model_.connection(), &ConnectionModel::stateChanged, this,
            &CameraStatusMenu::updateTitle);
    connect(&model_.connection(), &ConnectionModel::warmupChanged, this,
            &CameraStatusMenu::updateTitle);
    updateTitle();
}

void CameraStatusMenu::updateTitle() {
    const QString status =
        ShellTexts::status(model_.connection().state(), model_.connection().warmup());
    setText(status);
    setAccessibleName(status);
    setToolTip(ShellTexts::menuDetail(model_.connection().state()).value_or(status));
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
    const auto& state = model_.connection().state();
    auto info = [this](const QString& text) { menu_->addAction(text)->setEnabled(false); };
    info(ShellTexts::status(state, model_.connection().warmup()));
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
        connect(menu_->addAction(QStringLiteral("再試行")), &QAction::triggered,
                &model_.connection(), &ConnectionModel::connectCamera);
        return;
    }
    if (const auto detail = ShellTexts::menuDetail(state); detail && !detail->isEmpty()) info(*detail);
    menu_->addSeparator();
    switch (state.kind) {
        case Kind::connected: {
            if (const auto& device = model_.connection().deviceInfo();
                device && !device->version.isEmpty())
                info(QStringLiteral("ファームウェア ") + device->version);
            if (const auto level = model_.settings().batteryPercent())
                info(QStringLiteral("カメラの電池 %1%").arg(*level));
            if (const auto clock = model_.connection().clockOffsetDescription())
                info(QStringLiteral("カメラの時計: ") + *clock);
            menu_->addSeparator();
            connect(menu_->addAction(CameraCommands::title(CameraCommand::syncClock)),
                    &QAction::triggered, &model_.connection(), &ConnectionModel::syncClock);
            QAction* release = menu_->addAction(CameraCommands::title(CameraCommand::releaseControl));
            release->setToolTip(CameraCommands::help(CameraCommand::releaseControl));
            connect(release, &QAction::triggered, &model_.connection(),
                    &ConnectionModel::releaseCameraControl);
            break;
        }
        case Kind::waiting:
        case Kind::connecting:
            connect(menu_->addAction(QStringLiteral("待つのをやめる")), &QAction::triggered,
                    &model_.connection(), &ConnectionModel::disconnectCamera);
            break;
        case Kind::failed:
        case Kind::disconnected:
            connect(menu_->addAction(CameraCommands::title(CameraCommand::connect)),
                    &QAction::triggered, &model_.connection(), &ConnectionModel::connectCamera);
            break;
    }
}

}  // namespace pexil::shell
