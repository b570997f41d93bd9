#include "ui/scrubber/ScrubberControl.h"

#include "ui/theme/Theme.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace pexil::ui {

namespace {
constexpr double slideDuration = 0.12;
constexpr double cornerRadius = 9;

// Draws `text` on one line in `rect`, shrinking the font down to `minScale` before eliding.
void drawFitted(QPainter& p, const QRectF& rect, QFont font, const QString& text,
                Qt::Alignment align, double minScale) {
    const double full = font.pixelSize();
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    if (width > rect.width() && width > 0) {
        font.setPixelSize(std::max(1, int(std::floor(full * std::max(minScale, rect.width() / width)))));
    }
    p.setFont(font);
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    p.drawText(rect, align | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

// A slider to assistive tools. Its value is a text ("1/250"), which the value interface's
// numbers cannot carry: they are the selection's index, the text is the Value text.
class AccessibleScrubber final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleScrubber(ScrubberControl* dial)
        : QAccessibleWidget(dial, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? dial()->selection() : QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return dial()->baseIndex(); }
    void setCurrentValue(const QVariant& value) override {
        if (dial()->isEnabled()) dial()->step(value.toInt() - dial()->baseIndex());
    }
    QVariant minimumValue() const override { return 0; }
    QVariant maximumValue() const override {
        return std::max(0, int(dial()->options().size()) - 1);
    }
    QVariant minimumStepSize() const override { return 1; }

private:
    ScrubberControl* dial() const { return static_cast<ScrubberControl*>(object()); }
};

QAccessibleInterface* accessibleScrubber(const QString& className, QObject* object) {
    if (className != QLatin1StringView(ScrubberControl::staticMetaObject.className()))
        return nullptr;
    // Qt's accessibility cache owns the interface and deletes it with the widget.
    return new AccessibleScrubber(static_cast<ScrubberControl*>(object));
}
}  // namespace

ScrubberControl::ScrubberControl(QWidget* parent)
    : QWidget(parent), clock_(new FrameClock(FrameClock::Mode::Real, this)) {
    // Before anything can ask for this widget's interface and cache Qt's generic one.
    static const bool accessible = (QAccessible::installFactory(accessibleScrubber), true);
    (void)accessible;
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::SizeHorCursor);
    setMouseTracking(false);
    setToolTip(QStringLiteral("ドラッグ・ホイール・矢印キーで選択"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFrameClock(clock_);
}

void ScrubberControl::setFrameClock(FrameClock* clock) {
    if (clock_) disconnect(clock_, &FrameClock::frame, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &FrameClock::frame, this, [this] {
        if (demand_.isHeld()) animateFrame();
    });
}

void ScrubberControl::animateFrame() {
    const double now = clock_->now();
    demand_.set(basePosition_.isRunning(now) || lineWidth_.isRunning(now));
    update();
}

void ScrubberControl::setTitle(const QString& title) {
    title_ = title;
    setAccessibleName(title);
    update();
}

void ScrubberControl::setOptions(const QStringList& options) {
    options_ = options;
    dragOffset_ = 0;
    basePosition_.jump(baseIndex());
    update();
}

void ScrubberControl::setSelection(const QString& selection) {
    if (selection == selection_) return;
    const int before = baseIndex();
    selection_ = selection;
    setAccessibleDescription(selection);
    QAccessibleValueChangeEvent valueChanged(this, baseIndex());
    QAccessible::updateAccessibility(&valueChanged);
    if (baseIndex() != before) {
        basePosition_.animate(baseIndex(), clock_->now(), slideDuration);
        animateFrame();
    }
    update();
    emit selectionChanged(selection_);
}

void ScrubberControl::choose(const QString& value) {
    if (value == selection_) return;
    setSelection(value);
    emit selectionActivated(value);
}

void ScrubberControl::setMetrics(double itemWidth, double stripHeight, double labelWidth) {
    itemWidth_ = std::max(itemWidth, 1.0);
    stripHeight_ = stripHeight;
    labelWidth_ = labelWidth;
    updateGeometry();
    update();
}

int ScrubberControl::displayIndex() const {
    return ScrubberGeometry::displayIndex(baseIndex(), dragOffset_, itemWidth_, int(options_.size()));
}

void ScrubberControl::commit() {
    const int index = displayIndex();
    // The strip slides on from where the drag left it.
    basePosition_.jump(baseIndex() - dragOffset_ / itemWidth_);
    dragOffset_ = 0;
    if (!options_.isEmpty() && options_[index] != selection_) {
        choose(options_[index]);
    } else {
        basePosition_.animate(baseIndex(), clock_->now(), slideDuration);
        animateFrame();
    }
}

void ScrubberControl::step(int n) {
    if (options_.isEmpty()) return;
    const int base = baseIndex();
    const int target = std::clamp(base + n, 0, int(options_.size()) - 1);
    if (target == base) return;
    dragOffset_ = 0;
    choose(options_[target]);
}

void ScrubberControl::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    lastX_ = event->position().x();
    travelled_ = 0;
}

void ScrubberControl::mouseMoveEvent(QMouseEvent* event) {
    if (!isEnabled() || !lastX_) return QWidget::mouseMoveEvent(event);
    const double x = event->position().x();
    travelled_ += std::abs(x - *lastX_);
    if (!options_.isEmpty()) {
        dragOffset_ = ScrubberGeometry::dragAfter(dragOffset_, x - *lastX_, baseIndex(),
                                                  int(options_.size()), itemWidth_);
        update();
    }
    lastX_ = x;
}

void ScrubberControl::mouseReleaseEvent(QMouseEvent* event) {
    if (!isEnabled() || !lastX_ || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    lastX_.reset();
    if (travelled_ < 3) {
        if (!options_.isEmpty()) step(ScrubberGeometry::clickSteps(event->position().x(), width(), itemWidth_));
    } else {
        commit();
    }
    travelled_ = 0;
}

void ScrubberControl::wheelEvent(QWheelEvent* event) {
    if (!isEnabled()) return event->ignore();
    // Trackpads report pixels; wheels report eighths of a degree, 120 to the notch.
    const bool precise = !event->pixelDelta().isNull();
    const QPointF d = precise ? QPointF(event->pixelDelta()) : QPointF(event->angleDelta()) / 120.0;
    const double delta = std::abs(d.x()) > std::abs(d.y()) ? -d.x() : d.y();
    const int steps = wheel_.feed(delta, precise ? 10 : 1);
    for (int i = 0; i < std::abs(steps); ++i) step(steps > 0 ? 1 : -1);
    event->accept();
}

void ScrubberControl::keyPressEvent(QKeyEvent* event) {
    if (isEnabled()) {
        switch (event->key()) {
            case Qt::Key_Left:
            case Qt::Key_Down: return step(-1);
            case Qt::Key_Right:
            case Qt::Key_Up: return step(+1);
            default: break;
        }
    }
    QWidget::keyPressEvent(event);
}

void ScrubberControl::focusInEvent(QFocusEvent* event) {
    ring_.focusIn(event->reason());
    QWidget::focusInEvent(event);
}

void ScrubberControl::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (!isEnabled()) return;
    // Only the active window's focus is ours to borrow.
    if (window()->isActiveWindow() && !hasFocus()) {
        previousFocus_ = QApplication::focusWidget();
        setFocus(Qt::MouseFocusReason);
    }
    setHovered(true);
}

void ScrubberControl::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    giveFocusBack();
    setHovered(false);
}

void ScrubberControl::giveFocusBack() {
    if (hasFocus()) {
        if (previousFocus_ && previousFocus_->isEnabled() && previousFocus_->isVisible())
            previousFocus_->setFocus(Qt::OtherFocusReason);
        else
            clearFocus();
    }
    previousFocus_.clear();
}

void ScrubberControl::setHovered(bool hovered) {
    if (hovered == hovered_) return;
    hovered_ = hovered;
    lineWidth_.animate(hovered ? 2.0 : 1.5, clock_->now(), 0.12);
    animateFrame();
}

void ScrubberControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (isEnabled()) {
            setFocusPolicy(Qt::StrongFocus);
            setCursor(Qt::SizeHorCursor);
        } else {
            giveFocusBack();
            setFocusPolicy(Qt::NoFocus);
            unsetCursor();
            lastX_.reset();
            travelled_ = 0;
            dragOffset_ = 0;
            wheel_.reset();
            setHovered(false);
        }
        update();
    }
    QWidget::changeEvent(event);
}

QSize ScrubberControl::sizeHint() const {
    return {int(std::ceil(labelWidth_ + 5 * itemWidth_)), int(std::ceil(stripHeight_))};
}

QSize ScrubberControl::minimumSizeHint() const {
    return {int(std::ceil(labelWidth_ + 80)), int(std::ceil(stripHeight_))};
}

void ScrubberControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    const double w = bounds.width();
    const double h = bounds.height();
    const double now = clock_->now();
    QPainterPath shape;
    shape.addRoundedRect(bounds, cornerRadius, cornerRadius);
    p.setClipPath(shape);
    p.fillRect(bounds, Theme::surface());

    // The strip: only the cells that can be seen.
    const double left = ScrubberGeometry::stripLeft(w, itemWidth_, basePosition_.value(now), dragOffset_);
    const int count = int(options_.size());
    const int first = std::max(0, int(std::floor(-left / itemWidth_)));
    const int last = std::min(count - 1, int(std::ceil((w - left) / itemWidth_)));
    const int shown = displayIndex();
    const QFont selectedFont = Theme::digitsFont(14, QFont::DemiBold);
    const QFont otherFont = Theme::digitsFont(12);
    for (int i = first; i <= last; ++i) {
        const QRectF cell(left + i * itemWidth_ + 2, 0, itemWidth_ - 4, h);
        const bool selected = i == shown;
        p.setPen(selected && isEnabled() ? Theme::amber() : Theme::dim());
        drawFitted(p, cell, selected ? selectedFont : otherFont, options_[i], Qt::AlignHCenter, 0.7);
    }

    // The fade. Painting the surface colour over the strip equals masking the strip, because
    // the strip lies on that same opaque surface, and costs no offscreen layer.
    const auto fade = ScrubberGeometry::fade(w, labelWidth_);
    QColor solid = Theme::surface();
    QColor clear = solid;
    clear.setAlpha(0);
    QLinearGradient veil(0, 0, fade.span, 0);
    veil.setColorAt(0, solid);
    veil.setColorAt(std::clamp(fade.clearUntil, 0.0, 1.0), solid);
    veil.setColorAt(std::clamp(fade.opaqueFrom, 0.0, 1.0), clear);
    veil.setColorAt(std::clamp(fade.opaqueUntil, 0.0, 1.0), clear);
    veil.setColorAt(1, solid);
    p.fillRect(bounds, veil);

    // The highlight, outlined inside its bounds.
    const double lw = lineWidth_.value(now);
    const QRectF frame((w - (itemWidth_ - 6)) / 2, 4, itemWidth_ - 6, h - 8);
    p.setPen(QPen(isEnabled() ? Theme::amber() : Theme::dimmer(), lw));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame.adjusted(lw / 2, lw / 2, -lw / 2, -lw / 2), 6 - lw / 2, 6 - lw / 2);

    p.setPen(isEnabled() ? Theme::dim() : Theme::dimmer());
    drawFitted(p, QRectF(10, 0, labelWidth_ - 14, h), Theme::font(11, QFont::Medium), title_,
               Qt::AlignLeft, 0.75);
    ring_.paint(p, *this, bounds, cornerRadius);
}

}  // namespace pexil::ui
