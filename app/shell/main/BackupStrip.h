#pragma once

#include "ui/components/AlertStrip.h"

namespace pexil {
class BackupModel;
}

namespace pexil::shell {

// A strip of its own while the backup copies fail (the backup disk missing or full): the
// pictures are safe in the destination, but not twice. Its button copies again what is
// missing, once the disk is back or has room.
class BackupStrip final : public ui::AlertStrip {
    Q_OBJECT
public:
    explicit BackupStrip(BackupModel& backup, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(BackupStrip)

private:
    void update();

    BackupModel& backup_;
};

}  // namespace pexil::shell
