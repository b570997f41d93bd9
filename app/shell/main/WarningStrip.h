#pragma once

#include "ui/components/AlertStrip.h"

namespace pexil {
class ConnectionModel;
class DestinationModel;
}

namespace pexil::shell {

// A strip across the top of the window while the destination has a problem or files could not
// be transferred; hidden otherwise. With a destination problem its button opens the settings.
class WarningStrip final : public ui::AlertStrip {
    Q_OBJECT
public:
    explicit WarningStrip(DestinationModel& destination, ConnectionModel& connection,
                          QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(WarningStrip)

signals:
    // The user wants to change the destination.
    void destinationRequested();

private:
    void update();

    DestinationModel& destination_;
    ConnectionModel& connection_;
};

}  // namespace pexil::shell
