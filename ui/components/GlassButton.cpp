#include "ui/components/GlassButton.h"

#include "ui/theme/Theme.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>

namespace pexil::ui {

namespace {
constexpr int padding = 12;
constexpr int gap = 6;
}  // namespace

GlassButton::GlassButton(Shape shape, QWidget* parent)
    : QAbstractButton(parent), shape_(shape), clock_(new FrameClock(FrameClock::Mode::Real, this)) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setIconSize(QSize(18, 18));
    setFont(Theme::font(12, QFont::Medium));
    setFrameClock(clock_);
}

void GlassButton::setFrameClock(FrameClock* clock) {
    if (clock_) disconnect(clock_, &FrameClock::frame, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &FrameClock::frame, this, [this] {
        if (!demand_.isHeld()) return;
        demand_.set(hover_.isRunning(clock_->now()));
        update();
    });
}

void GlassButton::setTint(const QColor& tint) {
    tint_ = tint;
    update();
}

void GlassButton::setActive(bool active) {
    active_ = active;
    update();
}

void GlassButton::hoverTo(double target) {
    hover_.animate(target, clock_->now(), 0.12);
    demand_.set(true);
    update();
}

void GlassButton::enterEvent(QEnterEvent* event) {
    if (isEnabled()) hoverTo(1);
    QAbstractButton::enterEvent(event);
}

void GlassButton::leaveEvent(QEvent* event) {
    hoverTo(0);
    QAbstractButton::leaveEvent(event);
}

QSize GlassButton::sizeHint() const {
    const int side = iconSize().height() + 2 * 11;
    if (shape_ == Shape::Circle) return {side, side};
    const int textW = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text());
    const int iconW = icon().isNull() ? 0 : iconSize().width();
    return {2 * padding + iconW + textW + (iconW && textW ? gap : 0), std::max(side - 8, 28)};
}

void GlassButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF bounds(rect());
    if (drawsGlass()) GlassBacking::paint(p, bounds, shape_, tint_, hoverAmount(), isDown());

    const QIcon::Mode mode = !isEnabled() ? QIcon::Disabled : QIcon::Normal;
    const QSize is = icon().isNull() ? QSize() : iconSize();
    const int textW = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text());
    const int contentW = is.width() + textW + (is.width() && textW ? gap : 0);
    int x = (width() - contentW) / 2;
    if (!icon().isNull()) {
        icon().paint(&p, QRect(QPoint(x, (height() - is.height()) / 2), is), Qt::AlignCenter, mode);
        x += is.width() + gap;
    }
    if (textW) {
        p.setPen(isEnabled() ? Theme::text() : Theme::dimmer());
        p.drawText(QRect(x, 0, textW, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

}  // namespace pexil::ui
