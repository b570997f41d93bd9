#include "app/shell/card/CardLoadingView.h"

#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace pexil::shell {

CardLoadingView::CardLoadingView(QWidget* parent)
    : QWidget(parent), count_(new QLabel(this)), bar_(new QProgressBar(this)) {
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->addStretch(1);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(ui::GlyphIconEngine::icon(u"sdcard", ui::Theme::dim()).pixmap(44, 44));
    symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol);
    auto* title = new QLabel(QStringLiteral("カードを読み込んでいます"), this);
    title->setFont(ui::Theme::font(16, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    count_->setFont(ui::Theme::digitsFont(13));
    count_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    count_->setAlignment(Qt::AlignCenter);
    column->addWidget(count_);
    bar_->setFixedWidth(280);
    bar_->setFixedHeight(6);
    bar_->setTextVisible(false);
    bar_->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                       "QProgressBar::chunk { background: %2; border-radius: 3px; }")
            .arg(ui::Theme::surfaceRaised().name(), ui::Theme::amber().name()));
    column->addWidget(bar_, 0, Qt::AlignCenter);
    auto* footer = new QLabel(QStringLiteral("読み終えると一覧を表示します"), this);
    footer->setFont(ui::Theme::font(12));
    footer->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dimmer().name()));
    footer->setAlignment(Qt::AlignCenter);
    column->addWidget(footer);
    column->addStretch(1);
    setProgress(0, std::nullopt);
}

QString CardLoadingView::countText(std::size_t count, std::optional<int> expected) {
    QString text = QString::number(count);
    if (expected) text += QStringLiteral(" / ") + QString::number(*expected);
    return text;
}

QString CardLoadingView::countText() const {
    return count_->text();
}

void CardLoadingView::setProgress(std::size_t count, std::optional<int> expected) {
    count_->setText(countText(count, expected));
    bar_->setVisible(expected.has_value());
    if (expected) {
        bar_->setRange(0, std::max(1, *expected));
        bar_->setValue(std::min(static_cast<int>(count), std::max(1, *expected)));
    }
}

}  // namespace pexil::shell
