#pragma once

#include "ui/components/GlassBacking.h"
#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"
#include "ui/theme/Tween.h"

#include <QAbstractButton>

namespace pexil::ui {

// A tool button on glass: an icon (GlyphIconEngine::icon) and optionally a text, on a glass
// circle or capsule that brightens under the pointer (ease-out 0.12 s).
//
// A capsule that is not active draws no glass at all, only its content. The tint colours the
// glass; the icon keeps its own tint. Takes no keyboard focus, so Space never presses it
// instead of the window's shutter shortcut.
class GlassButton final : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QColor tint READ tint WRITE setTint)
    Q_PROPERTY(bool active READ isActive WRITE setActive)
public:
    using Shape = GlassBacking::Shape;

    explicit GlassButton(Shape shape = Shape::Circle, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(GlassButton)

    Shape shape() const { return shape_; }
    // An invalid colour: untinted glass.
    void setTint(const QColor& tint);
    QColor tint() const { return tint_; }
    void setActive(bool active);
    bool isActive() const { return active_; }
    // 0…1: how far the hover brightening has come.
    double hoverAmount() const { return hover_.value(clock_->now()); }
    // Whether glass is drawn at all.
    bool drawsGlass() const { return shape_ == Shape::Circle || active_; }

    void setFrameClock(FrameClock* clock);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void hoverTo(double target);

    Shape shape_;
    QColor tint_;
    bool active_ = true;
    Tween hover_;
    FrameClock* clock_;
    FrameDemand demand_;
};

}  // namespace pexil::ui
