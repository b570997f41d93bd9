#include "ui/icons/GlyphIconEngine.h"

#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPixmap>
#include <QtDebug>

namespace pexil::ui {

GlyphIconEngine::GlyphIconEngine(char16_t codepoint, QColor tint)
    : codepoint_(codepoint), tint_(tint.isValid() ? tint : Theme::text()) {}

QIcon GlyphIconEngine::icon(QStringView symbol, const QColor& tint) {
    const auto found = SymbolMap::find(symbol);
    if (!found) {
        qWarning() << "unknown symbol" << symbol;
        return {};
    }
    return QIcon(new GlyphIconEngine(found->codepoint, tint));  // QIcon owns its engine
}

QColor GlyphIconEngine::tintFor(QIcon::Mode mode) const {
    switch (mode) {
        case QIcon::Disabled: return Theme::dimmer();
        case QIcon::Selected: return Theme::onAmber();  // drawn on the amber highlight
        case QIcon::Normal:
        case QIcon::Active: break;
    }
    return tint_;
}

void GlyphIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) {
    const int side = std::min(rect.width(), rect.height());
    if (side <= 0) return;
    QFont font(Theme::iconFontFamily());
    // Material glyphs fill their em square: a pixel size equal to the side fills the square.
    font.setPixelSize(side);
    font.setHintingPreference(QFont::PreferNoHinting);
    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);
    painter->setFont(font);
    painter->setPen(tintFor(mode));
    const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2,
                       side, side);
    painter->drawText(square, Qt::AlignCenter, QString(QChar(codepoint_)));
    painter->restore();
}

QPixmap GlyphIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    return scaledPixmap(size, mode, state, 1.0);
}

// QIcon passes the size in device pixels here, with the ratio it wants.
QPixmap GlyphIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                                      qreal scale) {
    QPixmap pm(size);
    pm.setDevicePixelRatio(scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    paint(&p, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
    return pm;
}

QIconEngine* GlyphIconEngine::clone() const { return new GlyphIconEngine(codepoint_, tint_); }

}  // namespace pexil::ui
