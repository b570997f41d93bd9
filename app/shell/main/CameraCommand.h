#pragma once

#include "app/connection/ConnectionState.h"

#include <QKeySequence>
#include <QString>

#include <array>

namespace pexil::shell {

// The commands of the "カメラ" menu and when each may run. The menu, the toolbar and the
// inspector ask these rules, so a command is enabled the same way wherever it is offered.
enum class CameraCommand {
    connect,
    disconnect,
    liveView,
    autofocus,
    shoot,
    refreshSettings,
    releaseControl,
    syncClock,
    geotag,
    openDestination,
};

inline constexpr std::array<CameraCommand, 10> allCameraCommands{
    CameraCommand::connect,        CameraCommand::disconnect,     CameraCommand::liveView,
    CameraCommand::autofocus,      CameraCommand::shoot,          CameraCommand::refreshSettings,
    CameraCommand::releaseControl, CameraCommand::syncClock,      CameraCommand::geotag,
    CameraCommand::openDestination,
};

namespace CameraCommands {

// `cardShown`: the card browser covers the picture area, where live view would run unseen.
bool isEnabled(CameraCommand command, const ConnectionState& state, bool cardShown = false);
// The menu text; the live-view item's follows `isLive`.
QString title(CameraCommand command, bool isLive = false);
// Empty when the command has none.
QKeySequence shortcut(CameraCommand command);
QString help(CameraCommand command);

}  // namespace CameraCommands
}  // namespace pexil::shell
