#pragma once

#include "ui/icons/SymbolMap.h"

#include <QColor>
#include <QIcon>
#include <QIconEngine>

namespace pexil::ui {

// Draws one Material Icons glyph, sized to fill the requested square, at any device pixel
// ratio, tinted per icon mode: Normal and Active in `tint`, Selected (on the amber highlight)
// in onAmber, Disabled in dimmer. The icon font must have been loaded (Theme::apply).
class GlyphIconEngine final : public QIconEngine {
public:
    GlyphIconEngine(char16_t codepoint, QColor tint);

    // The icon for a symbol name of the design, tinted (the theme's text colour by default).
    // A name missing from SymbolMap is a programming error: it gives a null icon and a warning.
    static QIcon icon(QStringView symbol, const QColor& tint = {});

    // The colour drawn in a mode.
    QColor tintFor(QIcon::Mode mode) const;

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QIconEngine* clone() const override;
    QString key() const override { return QStringLiteral("pexil-glyph"); }

private:
    char16_t codepoint_;
    QColor tint_;
};

}  // namespace pexil::ui
