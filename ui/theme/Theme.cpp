#include "ui/theme/Theme.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QStyleFactory>
#include <QToolTip>

namespace pexil::ui {

QPalette Theme::palette() {
    QPalette p;
    const auto set = [&p](QPalette::ColorRole role, const QColor& active, const QColor& disabled) {
        p.setColor(QPalette::Active, role, active);
        p.setColor(QPalette::Inactive, role, active);
        p.setColor(QPalette::Disabled, role, disabled);
    };
    set(QPalette::Window, background(), background());
    set(QPalette::WindowText, text(), dimmer());
    set(QPalette::Base, surface(), surface());
    set(QPalette::AlternateBase, surfaceRaised(), surfaceRaised());
    set(QPalette::Text, text(), dimmer());
    set(QPalette::PlaceholderText, dimmer(), dimmer());
    set(QPalette::Button, surfaceRaised(), surface());
    set(QPalette::ButtonText, text(), dimmer());
    set(QPalette::BrightText, danger(), danger());
    set(QPalette::Highlight, amber(), surfaceRaised());
    set(QPalette::HighlightedText, onAmber(), dim());
    set(QPalette::Link, amber(), dim());
    set(QPalette::LinkVisited, amber(), dim());
    set(QPalette::ToolTipBase, surfaceRaised(), surfaceRaised());
    set(QPalette::ToolTipText, text(), dim());
    // Fusion draws bevels and frames from these.
    set(QPalette::Light, surfaceRaised().lighter(160), surfaceRaised());
    set(QPalette::Midlight, surfaceRaised().lighter(130), surfaceRaised());
    set(QPalette::Mid, surfaceRaised(), surface());
    set(QPalette::Dark, background(), background());
    set(QPalette::Shadow, QColor(0, 0, 0), QColor(0, 0, 0));
    return p;
}

QFont Theme::font(int pixelSize, QFont::Weight weight) {
    QFont f;
    f.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Sans CJK JP")});
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont Theme::digitsFont(int pixelSize, QFont::Weight weight) {
    QFont f = font(pixelSize, weight);
    f.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans")});
    return f;
}

QString Theme::defaultIconFontPath() {
    return QStringLiteral(
        "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf");
}

std::optional<QString> Theme::apply(QApplication& app, const QString& iconFontPath) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setPalette(palette());
    QToolTip::setPalette(palette());
    app.setFont(font(13));

    // Without the icon font every toolbar button would be blank; say so instead.
    const QString missing =
        QStringLiteral("アイコンのフォントがありません: %1（fonts-material-design-icons-iconfont "
                       "を入れてください）")
            .arg(iconFontPath);
    if (!QFile::exists(iconFontPath)) return missing;
    if (QFontDatabase::families().contains(iconFontFamily())) return std::nullopt;
    const int id = QFontDatabase::addApplicationFont(iconFontPath);
    if (id < 0 || !QFontDatabase::applicationFontFamilies(id).contains(iconFontFamily()))
        return missing;
    return std::nullopt;
}

}  // namespace pexil::ui
