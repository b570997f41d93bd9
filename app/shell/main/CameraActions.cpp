#include "app/shell/main/CameraActions.h"

#include "app/capture/CaptureModel.h"
#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/DestinationModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/FileReveal.h"

#include <QAction>
#include <QWidget>

namespace pexil::shell {

CameraActions::CameraActions(SessionModel& model, std::function<void(const QString&)> report, QWidget* window)
    : QObject(window), model_(model), report_(std::move(report)) {
    for (const CameraCommand command : allCameraCommands) {
        auto* action = new QAction(CameraCommands::title(command), window);
        // The window's own, so the shortcut works anywhere in it with no menu open.
        window->addAction(action);
        action->setShortcut(CameraCommands::shortcut(command));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setToolTip(CameraCommands::help(command));
        action->setStatusTip(CameraCommands::help(command));
        actions_[command] = action;
    }
    const auto on = [this](CameraCommand command, auto slot) {
        connect(actions_.at(command), &QAction::triggered, this, slot);
    };
    on(CameraCommand::connect, [this] { model_.connection().connectCamera(); });
    on(CameraCommand::disconnect, [this] { model_.connection().disconnectCamera(); });
    on(CameraCommand::liveView, [this] { model_.toggleLiveView(); });
    on(CameraCommand::autofocus, [this] { model_.capture().autofocus(); });
    on(CameraCommand::shoot, [this] { model_.capture().shoot(); });
    on(CameraCommand::refreshSettings, [this] { model_.settings().refreshSettings(); });
    on(CameraCommand::releaseControl, [this] { model_.connection().releaseCameraControl(); });
    on(CameraCommand::syncClock, [this] { model_.connection().syncClock(); });
    on(CameraCommand::geotag, [this] { emit geotagRequested(); });
    on(CameraCommand::openDestination, [this] { openDestination(); });
    connect(&model_.connection(), &ConnectionModel::stateChanged, this, &CameraActions::update);
    connect(&model_.liveView(), &LiveViewModel::isLiveChanged, this, &CameraActions::update);
    connect(&model_.card(), &CardModel::activeChanged, this, &CameraActions::update);
    update();
}

void CameraActions::openDestination() {
    // With date subfolders the folder of today may not exist yet (a session that began
    // yesterday still saves into yesterday's): make sure it does before asking to open it.
    if (const auto problem = model_.destination().check()) {
        report_(*problem);
        return;
    }
    const QString folder = model_.destination().folderNow();
    if (!FileReveal::openFolder(folder)) report_(QStringLiteral("保存先を開けません: ") + folder);
}

void CameraActions::update() {
    for (const auto& [command, action] : actions_)
        action->setEnabled(CameraCommands::isEnabled(command, model_.connection().state(),
                                                     model_.card().active()));
    actions_.at(CameraCommand::liveView)
        ->setText(CameraCommands::title(CameraCommand::liveView, model_.liveView().isLive()));
}

}  // namespace pexil::shell
