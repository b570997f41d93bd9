#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

namespace pexil::shell {

// The style sheet that tints a widget's text; a palette change would be undone by the
// application's style sheet, so the windows' coloured texts all go through this.
inline QString textColourStyle(const QColor& colour) {
    return QStringLiteral("color: %1").arg(colour.name());
}

// A label in `font` and `colour`, owned by `parent`.
inline QLabel* tintedLabel(QWidget* parent, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setStyleSheet(textColourStyle(colour));
    return label;
}

}  // namespace pexil::shell
