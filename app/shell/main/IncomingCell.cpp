#include "app/shell/main/IncomingCell.h"

#include "app/shell/ShellTexts.h"
#include "app/shell/main/ThumbnailDelegate.h"
#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace pexil::shell {

IncomingCell::IncomingCell(QWidget* parent) : QWidget(parent) {
    setFixedSize(ThumbnailDelegate::cellWidth, ThumbnailDelegate::cellHeight);
    hide();
}

void IncomingCell::setIncoming(const std::optional<IncomingShot>& incoming) {
    incoming_ = incoming;
    setToolTip(incoming_ ? ShellTexts::incoming(*incoming_) : QString());
    setAccessibleName(toolTip());
    setVisible(incoming_.has_value());
    update();
}

QString IncomingCell::text() const { return incoming_ ? ShellTexts::incoming(*incoming_) : QString(); }

void IncomingCell::paintEvent(QPaintEvent*) {
    if (!incoming_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cell = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(cell, 4, 4);
    p.fillPath(shape, ui::Theme::surfaceRaised());
    p.setPen(QPen(ui::Theme::dimmer(), 1, Qt::DashLine));
    p.drawPath(shape);
    p.setPen(ui::Theme::dim());
    p.setFont(ui::Theme::font(11));
    const auto percent = incoming_->percent();
    const QString label = percent ? QStringLiteral("%1%").arg(*percent) : QStringLiteral("転送待ち");
    p.drawText(cell, Qt::AlignCenter, label);
    if (percent) {
        const QRectF track(cell.left() + 8, cell.bottom() - 10, cell.width() - 16, 3);
        p.fillRect(track, ui::Theme::background());
        p.fillRect(QRectF(track.topLeft(), QSizeF(track.width() * *percent / 100.0, track.height())),
                   ui::Theme::amber());
    }
}

}  // namespace pexil::shell
