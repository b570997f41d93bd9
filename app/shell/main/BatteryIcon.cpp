#include "app/shell/main/BatteryIcon.h"

#include "app/shell/ShellTexts.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QPainter>

namespace pexil::shell {

BatteryIcon::BatteryIcon(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    hide();
}

void BatteryIcon::setLevel(std::optional<std::int64_t> level) {
    level_ = level;
    setVisible(level.has_value());
    const QString help = level ? QStringLiteral("カメラの電池 ") + ShellTexts::batteryRange(*level) : QString();
    setToolTip(help);
    setAccessibleName(help);
    update();
}

QColor BatteryIcon::colour() const {
    return level_ && ShellTexts::batteryIsLow(*level_) ? ui::Theme::danger() : ui::Theme::dim();
}

QString BatteryIcon::symbol() const { return ShellTexts::batterySymbol(level_.value_or(0)); }

void BatteryIcon::paintEvent(QPaintEvent*) {
    if (!level_) return;
    QPainter painter(this);
    // The glyph stands upright in the font; the design's battery lies on its side.
    painter.translate(width() / 2.0, height() / 2.0);
    painter.rotate(90);
    const QIcon icon = ui::GlyphIconEngine::icon(symbol(), colour());
    icon.paint(&painter, QRect(-9, -9, 18, 18));
}

}  // namespace pexil::shell
