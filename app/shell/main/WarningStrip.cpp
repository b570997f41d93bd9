#include "app/shell/main/WarningStrip.h"

#include "app/connection/ConnectionModel.h"
#include "app/session/DestinationModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/components/ElidedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace pexil::shell {

WarningStrip::WarningStrip(DestinationModel& destination, ConnectionModel& connection,
                           QWidget* parent)
    : QWidget(parent),
      destination_(destination),
      connection_(connection),
      text_(new ui::ElidedLabel(this)),
      button_(new QToolButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 6, 10, 6);
    row->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setPixmap(ui::GlyphIconEngine::icon(u"exclamationmark.triangle.fill", ui::Theme::danger()).pixmap(16, 16));
    text_->setFont(ui::Theme::font(12));
    text_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::text().name()));
    // One line: a long list of names is cut, the tool tip has it whole.
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setFont(ui::Theme::font(11));
    row->addWidget(icon);
    row->addWidget(text_, 1);
    row->addWidget(button_);
    button_->setIcon(ui::GlyphIconEngine::icon(u"gearshape", ui::Theme::text()));
    button_->setToolTip(QStringLiteral("設定…"));
    button_->setAccessibleName(button_->toolTip());
    button_->setAutoRaise(true);
    connect(button_, &QToolButton::clicked, this, &WarningStrip::destinationRequested);
    connect(&destination_, &DestinationModel::problemChanged, this, &WarningStrip::update);
    connect(&destination_, &DestinationModel::failedTransfersChanged, this, &WarningStrip::update);
    connect(&destination_, &DestinationModel::ledgerProblemChanged, this, &WarningStrip::update);
    connect(&connection_, &ConnectionModel::stateChanged, this, &WarningStrip::update);
    connect(&connection_, &ConnectionModel::reconnectAtChanged, this, &WarningStrip::update);
    update();
}

QString WarningStrip::text() const { return text_->fullText(); }

void WarningStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor tint = ui::Theme::danger();
    tint.setAlphaF(0.16);
    painter.fillRect(rect(), ui::Theme::background());
    painter.fillRect(rect(), tint);
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
    setVisible(warning.has_value());
    // Cut with "…" when the window is narrow, and whole in the tool tip.
    text_->setFullText(warning.value_or(QString()));
    // Failed files stay on the card and are listed until the next connection; only a
    // destination problem has something to change.
    button_->setVisible(destination_.problem().has_value());
}

}  // namespace pexil::shell
