#include "ui/components/LightMeterView.h"

#include "ui/theme/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pexil::ui {

namespace {
const QString plusText = QStringLiteral("+");
const QString minusText = QStringLiteral("−");

std::optional<double> finite(std::optional<double> ev) {
    if (ev && !std::isfinite(*ev)) return std::nullopt;
    return ev;
}

QFont signFont() { return Theme::font(12, QFont::Medium); }
QFont valueFont() { return Theme::digitsFont(13, QFont::DemiBold); }
}  // namespace

LightMeterView::LightMeterView(QWidget* parent)
    : QWidget(parent), clock_(new FrameClock(FrameClock::Mode::Real, this)) {
    setAccessibleName(QStringLiteral("露出計"));
    setAccessibleDescription(accessibleValue(std::nullopt));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFrameClock(clock_);
}

void LightMeterView::setFrameClock(FrameClock* clock) {
    if (clock_) disconnect(clock_, &FrameClock::frame, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &FrameClock::frame, this, [this] { onFrame(); });
}

QString LightMeterView::valueText(std::optional<double> ev) {
    ev = finite(ev);
    if (!ev) return QStringLiteral("—");
    if (std::abs(*ev) < 0.05) return QStringLiteral("±0");
    return QString::asprintf("%+.1f", *ev);
}

QColor LightMeterView::valueColor(std::optional<double> ev) {
    ev = finite(ev);
    return ev && std::abs(*ev) < 0.2 ? Theme::amber() : Theme::text();
}

QString LightMeterView::accessibleValue(std::optional<double> ev) {
    ev = finite(ev);
    return ev ? QString::asprintf("%+.1f EV", *ev) : QStringLiteral("—");
}

void LightMeterView::setValue(std::optional<double> ev) {
    ev = finite(ev);
    if (ev == value_) return;
    const double now = clock_->now();
    // A needle that appears starts where its value is; only moves between values animate.
    if (ev && value_) needle_.animate(*ev, now, 0.15);
    else if (ev) needle_.jump(*ev);
    value_ = ev;
    setAccessibleDescription(accessibleValue(ev));
    demand_.set(needle_.isRunning(now));
    update();
}

void LightMeterView::onFrame() {
    if (!demand_.isHeld()) return;
    demand_.set(needle_.isRunning(clock_->now()));
    update();
}

LightMeterView::Layout LightMeterView::layoutFor(const QSizeF& size) const {
    const QFontMetricsF sign(signFont());
    const double plusW = sign.horizontalAdvance(plusText);
    const double minusW = sign.horizontalAdvance(minusText);
    const double fixed = plusW + minusW + valueWidth + 3 * spacing;
    const double scaleW = std::clamp(size.width() - fixed, 0.0, maxScaleWidth);
    double x = (size.width() - (fixed + scaleW)) / 2;
    const double h = size.height();
    Layout l;
    l.plus = QRectF(x, 0, plusW, h);
    x += plusW + spacing;
    l.scale = QRectF(x, (h - scaleHeight) / 2, scaleW, scaleHeight);
    x += scaleW + spacing;
    l.minus = QRectF(x, 0, minusW, h);
    x += minusW + spacing;
    l.value = QRectF(x, 0, valueWidth, h);
    return l;
}

QSize LightMeterView::sizeHint() const {
    const QFontMetricsF sign(signFont());
    const double w = sign.horizontalAdvance(plusText) + sign.horizontalAdvance(minusText) +
                     valueWidth + 3 * spacing + maxScaleWidth;
    return {int(std::ceil(w)), int(std::ceil(std::max(scaleHeight, QFontMetricsF(valueFont()).height())))};
}

QSize LightMeterView::minimumSizeHint() const { return {sizeHint().width() - 100, sizeHint().height()}; }

void LightMeterView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Layout l = layoutFor(size());

    p.setFont(signFont());
    p.setPen(Theme::dim());
    p.drawText(l.plus, Qt::AlignCenter, plusText);
    p.drawText(l.minus, Qt::AlignCenter, minusText);

    // Ticks: 1 wide, the outer ones flush with the scale's ends.
    const QRectF& s = l.scale;
    const double dpr = devicePixelRatioF();
    for (int i = 0; i < 13; ++i) {
        // On whole device pixels, so that 1-point ticks stay crisp.
        const double x = std::round((s.left() + i * (s.width() - 1) / 12) * dpr) / dpr;
        const bool centre = i == 6;
        const double h = centre ? 14 : (i % 2 ? 5 : 9);
        QColor c = centre ? Theme::dim() : Theme::dimmer();
        if (!centre && i % 2) c.setAlphaF(0.6);
        p.fillRect(QRectF(x, s.center().y() - h / 2, 1, h), c);
    }

    if (value_) {
        const double x = needleLeft(needle_.value(clock_->now()), s.left(), s.width());
        QPainterPath needle;
        needle.addRoundedRect(QRectF(x, s.top(), needleWidth, scaleHeight), needleWidth / 2,
                              needleWidth / 2);
        p.fillPath(needle, Theme::amber());
    }

    p.setFont(valueFont());
    p.setPen(valueColor(value_));
    p.drawText(l.value, Qt::AlignRight | Qt::AlignVCenter, valueText(value_));
}

}  // namespace pexil::ui
