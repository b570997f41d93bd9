#include "app/shell/main/WarningStrip.h"

#include "app/connection/ConnectionModel.h"
#include "app/session/DestinationModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/theme/Theme.h"

#include <QToolButton>

namespace pexil::shell {

WarningStrip::WarningStrip(DestinationModel& destination, ConnectionModel& connection,
                           QWidget* parent)
    : ui::AlertStrip(ui::Theme::danger(), QStringLiteral("exclamationmark.triangle.fill"),
                     QStringLiteral("gearshape"), QStringLiteral("設定…"), parent),
      destination_(destination),
      connection_(connection) {
    connect(actionButton(), &QToolButton::clicked, this, &WarningStrip::destinationRequested);
    connect(&destination_, &DestinationModel::problemChanged, this, &WarningStrip::update);
    connect(&destination_, &DestinationModel::failedTransfersChanged, this, &WarningStrip::update);
    connect(&destination_, &DestinationModel::ledgerProblemChanged, this, &WarningStrip::update);
    connect(&connection_, &ConnectionModel::stateChanged, this, &WarningStrip::update);
    connect(&connection_, &ConnectionModel::reconnectAtChanged, this, &WarningStrip::update);
    update();
}

void WarningStrip::update() {
    auto warning = ShellTexts::warning(destination_.problem(), destination_.failedTransfers(),
                                       destination_.ledgerProblem());
    // A camera lost while working is said here too, where it is seen with the pictures
    // still on screen, and what happens next.
    const auto& state = connection_.state();
    if (state.is(ConnectionState::Kind::waiting) && state.text && !state.text->isEmpty()) {
        const QString lost = ShellTexts::lost(*state.text, connection_.reconnectAt());
        warning = warning ? lost + QStringLiteral("　／　") + *warning : lost;
    }
    say(warning);
    // Failed files stay on the card and are listed until the next connection; only a
    // destination problem has something to change.
    actionButton()->setVisible(destination_.problem().has_value());
}

}  // namespace pexil::shell
