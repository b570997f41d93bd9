#include "app/shell/card/CardCell.h"

#include "app/shell/card/CardGridLayout.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pexil::shell {

namespace {
constexpr qreal radius = 6;
constexpr qreal borderWidth = 2.5;

QPainterPath rounded(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPixmap badge(QStringView symbol, const QColor& glyph, const QColor& disc, int glyphSize,
              qreal dpr) {
    QPixmap out(QSize(18, 18) * dpr);
    out.setDevicePixelRatio(dpr);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    if (disc == ui::Theme::onAmber())
        p.drawEllipse(QRectF(3, 3, 12, 12));  // behind the glyph's transparent check only
    else
        p.drawEllipse(QRectF(0, 0, 18, 18));
    const int inset = (18 - glyphSize) / 2;
    ui::GlyphIconEngine::icon(symbol, glyph).paint(&p, QRect(inset, inset, glyphSize, glyphSize));
    return out;
}
}  // namespace

CardCell::Badges CardCell::Badges::make(qreal dpr) {
    Badges b;
    // checkmark.circle.fill: the check in onAmber on an amber disc.
    b.imported = badge(u"checkmark.circle.fill", ui::Theme::amber(), ui::Theme::onAmber(), 16, dpr);
    QColor shade(0, 0, 0, 150);
    b.locatable = badge(u"location", ui::Theme::text(), shade, 11, dpr);
    return b;
}

QPixmap CardCell::frameFor(const QImage& thumbnail, QSize size, qreal dpr) {
    QPixmap out(size * dpr);
    out.setDevicePixelRatio(dpr);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area(QPointF(0, 0), QSizeF(size));
    const QPainterPath shape = rounded(area);
    p.fillPath(shape, ui::Theme::surface());
    if (!thumbnail.isNull()) {
        const QSizeF fitted = QSizeF(thumbnail.size()).scaled(area.size(), Qt::KeepAspectRatio);
        const QRectF target(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2),
                            fitted);
        p.setClipPath(shape);
        // One smooth scaling here, so painting the cell later only copies.
        p.drawImage(target, thumbnail.scaled((fitted * dpr).toSize(), Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation));
    }
    return out;
}

void CardCell::paint(QPainter& p, const QRect& cell, const Badges& badges, int spinnerStep) const {
    const QRect image = CardGridLayout::imageRect(cell);
    if (!frame.isNull()) {
        p.drawPixmap(image.topLeft(), frame);
    } else {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(rounded(image), ui::Theme::surface());
        p.restore();
        paintSpinner(p, QRectF(image.center() - QPointF(8, 8), QSizeF(16, 16)), spinnerStep);
    }
    if (selected) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(ui::Theme::amber(), borderWidth));
        p.setBrush(Qt::NoBrush);
        const qreal half = borderWidth / 2;
        p.drawRoundedRect(QRectF(image).adjusted(half, half, -half, -half), radius - half,
                          radius - half);
        p.restore();
    }
    if (locatable) p.drawPixmap(CardGridLayout::locatableBadge(image).topLeft(), badges.locatable);
    if (imported) p.drawPixmap(CardGridLayout::importedBadge(image).topLeft(), badges.imported);

    const QRect nameArea = CardGridLayout::nameRect(cell);
    p.setPen(selected ? ui::Theme::text() : ui::Theme::dim());
    p.drawText(nameArea, Qt::AlignHCenter | Qt::AlignVCenter,
               p.fontMetrics().elidedText(name, Qt::ElideMiddle, nameArea.width()));
}

void paintSpinner(QPainter& p, const QRectF& rect, int step) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = rect.center();
    const qreal outer = std::min(rect.width(), rect.height()) / 2;
    const qreal inner = outer * 0.5;
    QColor ink = ui::Theme::dim();
    for (int i = 0; i < 12; ++i) {
        // The spoke at the step is the brightest; those behind it fade.
        const int age = ((step - i) % 12 + 12) % 12;
        ink.setAlphaF(1.0 - age / 14.0);
        p.setPen(QPen(ink, std::max(1.5, outer / 5), Qt::SolidLine, Qt::RoundCap));
        const double angle = i * M_PI / 6;
        const QPointF dir(std::sin(angle), -std::cos(angle));
        p.drawLine(centre + dir * inner, centre + dir * outer);
    }
    p.restore();
}

}  // namespace pexil::shell
