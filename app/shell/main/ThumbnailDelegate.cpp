#include "app/shell/main/ThumbnailDelegate.h"

#include "app/shots/ShotsModel.h"
#include "ui/theme/Theme.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace pexil::shell {

namespace {

// A reject is dimmed and crossed; stars sit on a dark tab at the bottom left; a pick is a
// green dot with a tick at the top left (where the new-shot dot is on the right).
void paintMark(QPainter* painter, const QRectF& cell, int rating, bool picked) {
    if (rating < 0) {
        QPainterPath shape;
        shape.addRoundedRect(cell, 4, 4);
        painter->fillPath(shape, QColor(0, 0, 0, 150));
        const QRectF box(cell.topLeft() + QPointF(4, 4), QSizeF(12, 12));
        painter->setPen(QPen(ui::Theme::danger(), 2, Qt::SolidLine, Qt::RoundCap));
        painter->drawLine(box.topLeft(), box.bottomRight());
        painter->drawLine(box.topRight(), box.bottomLeft());
        return;
    }
    if (rating > 0) {
        painter->setFont(ui::Theme::font(9));
        const QString stars(rating, QChar(0x2605));
        const qreal width = painter->fontMetrics().horizontalAdvance(stars) + 6;
        const QRectF tab(cell.left() + 2, cell.bottom() - 14, width, 12);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 170));
        painter->drawRoundedRect(tab, 3, 3);
        painter->setPen(ui::Theme::amber());
        painter->drawText(tab, Qt::AlignCenter, stars);
    }
    if (picked) {
        const QPointF centre = cell.topLeft() + QPointF(9, 9);
        painter->setPen(QPen(ui::Theme::surfaceRaised(), 1.5));
        painter->setBrush(ui::Theme::green());
        painter->drawEllipse(centre, 6, 6);
        painter->setPen(
            QPen(ui::Theme::onAmber(), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPolyline(QPolygonF{centre + QPointF(-3, 0), centre + QPointF(-1, 2.5),
                                        centre + QPointF(3, -2.5)});
    }
}

}  // namespace

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
    paintMark(painter, cell, index.data(ShotsModel::RatingRole).toInt(),
              index.data(ShotsModel::PickedRole).toBool());
    // The client's favourite (the client view): a heart in the lower right corner, where no
    // mark of the photographer's goes.
    if (index.data(ShotsModel::ClientFavouriteRole).toBool()) {
        painter->setFont(ui::Theme::font(10));
        const QRectF tab(cell.right() - 16, cell.bottom() - 15, 14, 13);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 170));
        painter->drawRoundedRect(tab, 3, 3);
        painter->setPen(QColor(0xFF, 0x6F, 0x91));
        painter->drawText(tab, Qt::AlignCenter, QStringLiteral("♥"));
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
