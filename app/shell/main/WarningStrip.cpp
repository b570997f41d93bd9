#include "app/shell/main/WarningStrip.h"

#include "app/connection/ConnectionModel.h"
#include "app/session/SessionModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/components/ElidedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace pexil::shell {

WarningStrip::WarningStrip(SessionModel& model, QWidget* parent)
    : QWidget(parent), model_(model), text_(new ui::ElidedLabel(this)), button_(new QToolButton(this)) {
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
    connect(&model_, &SessionModel::destinationProblemChanged, this, &WarningStrip::update);
    connect(&model_, &SessionModel::failedTransfersChanged, this, &WarningStrip::update);
    connect(&model_, &SessionModel::ledgerProblemChanged, this, &WarningStrip::update);
    connect(&model_.connection(), &ConnectionModel::stateChanged, this, &WarningStrip::update);
    connect(&model_.connection(), &ConnectionModel::reconnectAtChanged, this,
            &WarningStrip::update);
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
    auto warning = ShellTexts::warning(model_.destinationProblem(), model_.failedTransfers(),
                                       model_.ledgerProblem());
    // A camera lost while working is said here too, where it is seen with the pictures
    // still on screen, and what happens next.
    const auto& state = model_.connection().state();
    if (state.is(ConnectionState::Kind::waiting) && state.text && !state.text->isEmpty()) {
        const QString lost = ShellTexts::lost(*state.text, model_.connection().reconnectAt());
        warning = warning ? lost + QStringLiteral("　／　") + *warning : lost;
    }
    setVisible(warning.has_value());
    // Cut with "…" when the window is narrow, and whole in the tool tip.
    text_->setFullText(warning.value_or(QString()));
    // Failed files stay on the card and are listed until the next connection; only a
    // destination problem has something to change.
    button_->setVisible(model_.destinationProblem().has_value());
}

}  // namespace pexil::shell
