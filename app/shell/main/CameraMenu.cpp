#include "app/shell/main/CameraMenu.h"

namespace pexil::shell {

CameraMenu::CameraMenu(CameraActions& actions, QWidget* parent)
    : QMenu(QStringLiteral("カメラ(&C)"), parent), actions_(actions) {
    for (const CameraCommand command : allCameraCommands) {
        if (command == CameraCommand::liveView || command == CameraCommand::syncClock ||
            command == CameraCommand::geotag)
            addSeparator();
        addAction(actions_.action(command));
    }
    setToolTipsVisible(true);
}

}  // namespace pexil::shell
