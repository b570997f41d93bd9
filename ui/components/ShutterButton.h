#pragma once

#include "ui/components/ShutterFace.h"
#include "ui/theme/FocusRing.h"
#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"

#include <QAbstractButton>

namespace pexil::ui {

// The round shutter button: no label, its whole look is a ShutterFace of size × size, centred
// in a widget that leaves FocusRing::margin around it for the focus ring.
//
// It cannot be pressed while busy or while shutter-enabled is false (the widget is disabled
// then). It is drawn at opacity 0.35 only when neither busy nor enabled: a busy button stays
// bright. Accessible name "シャッター", description "撮影中" while busy.
//
// Tab reaches it (a click does not take the focus); Space then is still the window's shutter
// shortcut where there is one, which does what the button does.
//
// Use setShutterEnabled(), not QWidget::setEnabled(), for the model's "may shoot" flag. Pressing
// emits QAbstractButton::clicked(). Animations follow the frame clock (its own real clock unless
// one is given) and ask for frames only while something moves.
class ShutterButton final : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool busy READ isBusy WRITE setBusy)
    Q_PROPERTY(bool shutterEnabled READ isShutterEnabled WRITE setShutterEnabled)
public:
    explicit ShutterButton(int size = 64, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ShutterButton)

    void setBusy(bool busy);
    bool isBusy() const { return face_.isBusy(); }
    void setShutterEnabled(bool enabled);
    bool isShutterEnabled() const { return shutterEnabled_; }

    // The opacity the whole face is drawn at.
    double faceOpacity() const { return !isBusy() && !shutterEnabled_ ? 0.35 : 1.0; }
    ShutterFace::Look look() const { return face_.look(clock_->now()); }

    void setFrameClock(FrameClock* clock);
    FrameClock* frameClock() const { return clock_; }

    // Where the face is drawn.
    QRectF faceRect() const {
        return {FocusRing::margin, FocusRing::margin, double(size_), double(size_)};
    }
    QSize sizeHint() const override {
        return {size_ + 2 * FocusRing::margin, size_ + 2 * FocusRing::margin};
    }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void updateState();
    void onFrame();

    int size_;
    bool shutterEnabled_ = true;
    ShutterFace face_;
    FrameClock* clock_;
    FrameDemand demand_;
    FocusRing ring_;
};

}  // namespace pexil::ui
