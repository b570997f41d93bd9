#pragma once

#include <QColor>
#include <QRectF>
#include <Qt>

class QPainter;
class QWidget;

namespace pexil::ui {

// The keyboard focus ring of the custom-drawn controls: 2 px in the theme's accent, 2 px
// outside the control's shape.
//
// It shows only while the focus came from the keyboard (Tab, Shift+Tab, a shortcut): a click,
// or the pointer passing over a control that borrows the focus, needs no mark. A control keeps
// one FocusRing, tells it why it got the focus (focusIn) and paints it last. Where the widget
// leaves no room around its shape (a strip as wide as its column, a pane), the ring is pulled
// inside the widget's bounds; a control that wants it wholly outside leaves `margin` around
// its shape.
class FocusRing final {
public:
    static constexpr double width = 2;
    static constexpr double gap = 2;
    static constexpr int margin = 4;  // gap + width

    static QColor colour();

    // The ring's stroke (its centre line) around the rounded rectangle `shape` (corner
    // `radius`; a circle: half its side), kept within `bounds`.
    struct Outline {
        QRectF rect;
        double radius = 0;
    };
    static Outline outline(const QRectF& shape, double radius, const QRectF& bounds);

    // Remembers whether the focus came from the keyboard. Reasons that say nothing about the
    // user's hand (the window coming back to the front, a popup closing, a widget handing
    // the focus back) keep what was known.
    void focusIn(Qt::FocusReason reason);
    // Whether `widget` shows its ring now: it has the focus, and from the keyboard.
    bool isShown(const QWidget& widget) const;
    // Draws the ring around `shape` inside `widget`'s rectangle when it is shown.
    void paint(QPainter& painter, const QWidget& widget, const QRectF& shape, double radius) const;

private:
    bool fromKeyboard_ = false;
};

}  // namespace pexil::ui
