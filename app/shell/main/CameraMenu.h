#pragma once

#include "app/shell/main/CameraActions.h"

#include <QMenu>

namespace pexil::shell {

// The "カメラ" menu: every camera command of CameraActions, grouped.
class CameraMenu final : public QMenu {
    Q_OBJECT
public:
    CameraMenu(CameraActions& actions, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraMenu)

    QAction* action(CameraCommand command) const { return actions_.action(command); }
    CameraActions& actions() const { return actions_; }

private:
    CameraActions& actions_;
};

}  // namespace pexil::shell
