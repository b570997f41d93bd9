#include "app/shell/main/ThumbnailDelegate.h"

#include "app/shots/ShotsModel.h"
#include "ui/theme/Theme.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace pexil::shell {

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF cell = QRectF(option.rect).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(cell, 4, 4);
    painter->fillPath(shape, ui::Theme::surfaceRaised());
    const QImage image = index.data(Qt::DecorationRole).value<QImage>();
    if (!image.isNull()) {
        const QSizeF fitted = QSizeF(image.size()).scaled(cell.size(), Qt::KeepAspectRatio);
        const QRectF target(cell.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
        painter->setClipPath(shape);
        painter->drawImage(target, image);
        painter->setClipping(false);
    }
    if (index.data(ShotsModel::SelectedRole).toBool()) {
        painter->setPen(QPen(ui::Theme::amber(), 2));
        painter->drawRoundedRect(cell, 4, 4);
    }
    // A shot that came while the photographer looked at another: a dot until it is seen.
    if (index.data(ShotsModel::NewRole).toBool()) {
        const QPointF centre = cell.topRight() + QPointF(-7, 7);
        painter->setPen(QPen(ui::Theme::surfaceRaised(), 1.5));
        painter->setBrush(ui::Theme::amber());
        painter->drawEllipse(centre, 4, 4);
    }
    // Where the keyboard is, while the strip has it: a ring outside the cell's outline.
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        painter->setPen(QPen(ui::Theme::text(), 1, Qt::DashLine));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    }
    painter->restore();
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {cellWidth, cellHeight};
}

}  // namespace pexil::shell
