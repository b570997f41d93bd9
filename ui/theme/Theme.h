#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <optional>

class QApplication;

namespace pexil::ui {

// The application's look in one place: named colours (sRGB, opaque), the dark Fusion palette,
// the fonts and the few system colours the windows need beside the theme.
//
// Sizes are logical pixels (the design's points). Text always uses Noto Sans with Noto Sans
// CJK JP behind it, set explicitly: without it kana fall back to whatever fontconfig picks.
class Theme final {
public:
    Theme() = delete;

    static QColor background() { return rgb(0.051, 0.051, 0.059); }
    static QColor surface() { return rgb(0.086, 0.086, 0.102); }
    static QColor surfaceRaised() { return rgb(0.114, 0.114, 0.133); }
    static QColor text() { return rgb(0.918, 0.906, 0.886); }
    static QColor dim() { return rgb(0.569, 0.553, 0.529); }
    static QColor dimmer() { return rgb(0.388, 0.376, 0.361); }
    static QColor amber() { return rgb(0.847, 0.639, 0.255); }
    static QColor onAmber() { return rgb(0.165, 0.114, 0.024); }
    static QColor danger() { return rgb(0.898, 0.357, 0.318); }
    static QColor live() { return rgb(0.918, 0.263, 0.227); }
    // The warmer amber of the preparing overlay's film frames.
    static QColor overlayAmber() { return rgb(0.96, 0.66, 0.26); }

    // System colours the design uses that are not theme colours (dark-appearance values).
    static QColor green() { return rgb(0.196, 0.843, 0.294); }
    static QColor blue() { return rgb(0.039, 0.518, 1.0); }
    static QColor orange() { return rgb(1.0, 0.624, 0.039); }
    static QColor secondaryText() { return QColor(235, 235, 245, 153); }
    static QColor tertiaryText() { return QColor(235, 235, 245, 77); }

    // The dark palette for the Active, Inactive and Disabled groups.
    static QPalette palette();

    // Noto Sans + Noto Sans CJK JP at a pixel size. Noto Sans CJK JP's digits are tabular, which
    // gives the design's monospaced digits.
    static QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
    // The same with Noto Sans CJK JP first, for numbers that must not jitter as they change.
    static QFont digitsFont(int pixelSize, QFont::Weight weight = QFont::Normal);

    // Where Debian's fonts-material-design-icons-iconfont puts the icon font.
    static QString defaultIconFontPath();
    // The family the icon font registers; GlyphIconEngine draws with it.
    static QString iconFontFamily() { return QStringLiteral("Material Icons"); }

    // Sets the Fusion style, the palette and the application font, and loads the icon font.
    // Call once after constructing the QApplication. Returns a text for the user when something
    // the interface cannot do without is missing (the icon font), otherwise nothing.
    static std::optional<QString> apply(QApplication& app,
                                        const QString& iconFontPath = defaultIconFontPath());

private:
    static QColor rgb(double r, double g, double b) { return QColor::fromRgbF(r, g, b); }
};

}  // namespace pexil::ui
