#pragma once

#include "app/shell/main/CameraCommand.h"

#include <QMenu>

#include <functional>
#include <map>

namespace pexil {
class SessionModel;
}

namespace pexil::shell {

// The "カメラ" menu: every camera command with its shortcut, enabled by the session's state
// as CameraCommands says. Its actions are the window's shortcuts too, so Ctrl+T works with the
// menu closed.
class CameraMenu final : public QMenu {
    Q_OBJECT
public:
    // `report` receives a failure of the shell's own commands (the destination cannot be used
    // or opened) for the window's error alert.
    CameraMenu(SessionModel& model, std::function<void(const QString&)> report, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraMenu)

    QAction* action(CameraCommand command) const { return actions_.at(command); }
    // Opens today's destination after making sure it exists and takes files.
    void openDestination();

signals:
    void geotagRequested();

private:
    void update();

    SessionModel& model_;
    std::function<void(const QString&)> report_;
    std::map<CameraCommand, QAction*> actions_;
};

}  // namespace pexil::shell
