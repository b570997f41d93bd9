#pragma once

#include "app/shell/main/CameraCommand.h"

#include <QObject>

#include <functional>
#include <map>

class QAction;

namespace pexil {
class SessionModel;
}

namespace pexil::shell {

// The camera commands as one set of actions, enabled by the session's state as
// CameraCommands says, with their shortcuts working anywhere in the window. The menu lists
// them, and the toolbar's buttons and the inspector's shutter trigger and follow them, so a
// command is wired and enabled in one place.
class CameraActions final : public QObject {
    Q_OBJECT
public:
    // `report` receives a failure of the shell's own commands (the destination cannot be used
    // or opened) for the window's error alert. The actions' shortcuts act in `window`.
    CameraActions(SessionModel& model, std::function<void(const QString&)> report, QWidget* window);
    Q_DISABLE_COPY_MOVE(CameraActions)

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
