#include "app/shell/geotag/ReceiverBar.h"

#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace pexil::shell {

namespace {

constexpr int iconSize = 15;
constexpr qreal cornerRadius = 7;

}  // namespace

ReceiverBar::ReceiverBar(GeoReceiver& receiver, QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), text_(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 7, 10, 7);
    row->setSpacing(8);
    row->setAlignment(Qt::AlignVCenter);
    icon_->setFixedSize(iconSize, iconSize);
    text_->setFont(ui::Theme::font(12));
    text_->setTextFormat(Qt::PlainText);  // a sender's name is the phone's, not markup
    row->addWidget(icon_);
    row->addWidget(text_, 1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(&receiver, &GeoReceiver::stateChanged, this, &ReceiverBar::present);
    present(receiver.state());
}

ReceiverBar::Look ReceiverBar::lookOf(const GeoReceiver::State& state) {
    struct Visitor {
        Look operator()(const GeoReceiver::Waiting&) const { return {u"wifi", ui::Theme::amber()}; }
        Look operator()(const GeoReceiver::Receiving&) const {
            return {u"arrow.down.circle", ui::Theme::amber()};
        }
        Look operator()(const GeoReceiver::Received&) const {
            return {u"checkmark.circle.fill", ui::Theme::green()};
        }
        Look operator()(const GeoReceiver::Failed&) const {
            return {u"exclamationmark.triangle.fill", ui::Theme::orange()};
        }
        Look operator()(const GeoReceiver::Stopped&) const {
            return {u"wifi.slash", ui::Theme::secondaryText()};
        }
    };
    return std::visit(Visitor{}, state);
}

QString ReceiverBar::text() const {
    return text_->text();
}

void ReceiverBar::present(const GeoReceiver::State& state) {
    const Look look = lookOf(state);
    tint_ = look.tint;
    symbol_ = QString::fromUtf16(look.symbol);
    icon_->setPixmap(ui::GlyphIconEngine::icon(symbol_, tint_).pixmap(iconSize, iconSize));
    text_->setText(GeoReceiver::displayText(state));
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, ui::Theme::text());
    text_->setPalette(palette);
    setAccessibleName(text_->text());
    update();
}

void ReceiverBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = tint_;
    fill.setAlphaF(tint_.alphaF() * 0.1f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, fill);
}

}  // namespace pexil::shell
