#include "ui/components/AlertStrip.h"

#include "ui/components/ElidedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace pexil::ui {

AlertStrip::AlertStrip(QColor tint, const QString& icon, const QString& buttonIcon,
                       const QString& buttonText, QWidget* parent)
    : QWidget(parent), tint_(tint), text_(new ElidedLabel(this)), button_(new QToolButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 6, 10, 6);
    row->setSpacing(8);
    auto* mark = new QLabel(this);
    mark->setPixmap(GlyphIconEngine::icon(icon, tint_).pixmap(16, 16));
    text_->setFont(Theme::font(12));
    text_->setStyleSheet(QStringLiteral("color: %1").arg(Theme::text().name()));
    // One line: a long list of names is cut, the tool tip has it whole.
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setFont(Theme::font(11));
    button_->setIcon(GlyphIconEngine::icon(buttonIcon, Theme::text()));
    button_->setToolTip(buttonText);
    button_->setAccessibleName(buttonText);
    button_->setAutoRaise(true);
    row->addWidget(mark);
    row->addWidget(text_, 1);
    row->addWidget(button_);
    hide();
}

void AlertStrip::say(const std::optional<QString>& text) {
    setVisible(text.has_value());
    text_->setFullText(text.value_or(QString()));
}

QString AlertStrip::text() const {
    return text_->fullText();
}

void AlertStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor tint = tint_;
    tint.setAlphaF(0.16);
    painter.fillRect(rect(), Theme::background());
    painter.fillRect(rect(), tint);
}

}  // namespace pexil::ui
