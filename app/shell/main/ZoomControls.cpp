#include "app/shell/main/ZoomControls.h"

#include "app/shell/main/PreviewZoom.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace pexil::shell {

namespace {
QToolButton* button(QWidget* parent, QStringView symbol, const QString& help) {
    auto* b = new QToolButton(parent);
    b->setIcon(ui::GlyphIconEngine::icon(symbol, ui::Theme::dim()));
    b->setIconSize({16, 16});
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(help);
    b->setAccessibleName(help);  // an icon alone says nothing to a screen reader
    return b;
}
}  // namespace

ZoomControls::ZoomControls(PreviewZoom& zoom, QWidget* parent)
    : QWidget(parent), zoom_(zoom), out_(button(this, u"minus.magnifyingglass", QStringLiteral("縮小"))),
      percent_(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    percent_->setFont(ui::Theme::digitsFont(11));
    percent_->setFixedWidth(42);
    percent_->setAlignment(Qt::AlignCenter);
    percent_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    auto* in = button(this, u"plus.magnifyingglass", QStringLiteral("拡大"));
    auto* fit = button(this, u"arrow.up.left.and.arrow.down.right", QStringLiteral("全体"));
    auto* actual = button(this, u"1.square", QStringLiteral("等倍"));
    row->addWidget(out_);
    row->addWidget(percent_);
    row->addWidget(in);
    row->addWidget(fit);
    row->addWidget(actual);
    connect(out_, &QToolButton::clicked, &zoom_, &PreviewZoom::zoomOut);
    connect(in, &QToolButton::clicked, &zoom_, &PreviewZoom::zoomIn);
    connect(fit, &QToolButton::clicked, &zoom_, &PreviewZoom::fitToPane);
    connect(actual, &QToolButton::clicked, &zoom_, &PreviewZoom::actualSize);
    connect(&zoom_, &PreviewZoom::changed, this, &ZoomControls::update);
    update();
}

// Without a picture there is no scale to tell: nothing, rather than "0%".
QString ZoomControls::percentText() const {
    const int percent = zoom_.percent();
    return percent > 0 ? QString::number(percent) + u'%' : QString();
}

void ZoomControls::update() {
    percent_->setText(percentText());
    out_->setEnabled(zoom_.isZoomedIn());
}

}  // namespace pexil::shell
