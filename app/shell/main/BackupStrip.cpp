#include "app/shell/main/BackupStrip.h"

#include "app/backup/BackupModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/theme/Theme.h"

#include <QToolButton>

namespace pexil::shell {

BackupStrip::BackupStrip(BackupModel& backup, QWidget* parent)
    : ui::AlertStrip(ui::Theme::orange(), QStringLiteral("externaldrive"),
                     QStringLiteral("arrow.clockwise"), QStringLiteral("控えをもう一度保存"),
                     parent),
      backup_(backup) {
    connect(actionButton(), &QToolButton::clicked, &backup_, &BackupModel::retry);
    connect(&backup_, &BackupModel::problemChanged, this, &BackupStrip::update);
    connect(&backup_, &BackupModel::missingChanged, this, &BackupStrip::update);
    update();
}

void BackupStrip::update() {
    say(ShellTexts::backupWarning(backup_.problem(), backup_.missing()));
}

}  // namespace pexil::shell
