#pragma once

#include "ui/scrubber/ScrubberGeometry.h"
#include "ui/theme/FocusRing.h"
#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"
#include "ui/theme/Tween.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <optional>

namespace pexil::ui {

// Picks one text out of an ordered list the way a camera's command dial does: the values sit
// on a strip scrolling under a fixed highlight in the middle, the title on the left.
//
// Input (only while enabled): drag the strip (clamped to the list; releasing selects the value
// under the highlight), click a value to step to it (a press that travelled less than 3 points),
// the wheel (pixel deltas step every 10 points, notched wheels every notch, remainders carried
// to the next event), the arrow keys (left/down back, right/up forward). The pointer entering
// takes the keyboard focus so the arrows work without a click, and leaving gives it back to the
// widget that had it. A disabled control keeps showing its value, takes no focus and no input.
//
// `selection` is the model's value: setSelection() shows it (a text not in the list shows the
// first value). selectionChanged() fires on every change, selectionActivated() only when the
// user picked. A change of the selected index slides the strip (ease-out 0.12 s).
//
// Screen readers meet it as a slider named after its title: its value text is the selection
// ("1/250", also its accessible description), its numeric value the selection's index in
// the list, which an assistive tool may set as a user's pick. The focus ring shows while the
// keyboard brought the focus, not while the pointer borrows it.
class ScrubberControl final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(QStringList options READ options WRITE setOptions)
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)
public:
    explicit ScrubberControl(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ScrubberControl)

    void setTitle(const QString& title);
    QString title() const { return title_; }
    void setOptions(const QStringList& options);
    QStringList options() const { return options_; }
    void setSelection(const QString& selection);
    QString selection() const { return selection_; }

    // Geometry in points; the inspector's values are the defaults.
    void setMetrics(double itemWidth, double stripHeight, double labelWidth);
    double itemWidth() const { return itemWidth_; }
    double stripHeight() const { return stripHeight_; }
    double labelWidth() const { return labelWidth_; }

    int baseIndex() const { return ScrubberGeometry::baseIndex(options_, selection_); }
    int displayIndex() const;
    double dragOffset() const { return dragOffset_; }
    bool isHovered() const { return hovered_; }
    // Outline width of the highlight now (1.5, or 2 under the pointer).
    double highlightLineWidth() const { return lineWidth_.value(clock_->now()); }
    double wheelRemainder() const { return wheel_.remainder(); }

    // Ends a drag: the value under the highlight becomes the selection.
    void commit();
    // Moves the selection by `n` values, clamped to the list.
    void step(int n);

    void setFrameClock(FrameClock* clock);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void selectionChanged(const QString& selection);
    void selectionActivated(const QString& selection);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void choose(const QString& value);
    void setHovered(bool hovered);
    void giveFocusBack();
    void animateFrame();

    QString title_;
    QStringList options_;
    QString selection_;
    double itemWidth_ = 56;
    double stripHeight_ = 36;
    double labelWidth_ = 74;

    double dragOffset_ = 0;
    bool hovered_ = false;
    std::optional<double> lastX_;
    double travelled_ = 0;
    ScrubberGeometry::WheelCarry wheel_;
    QPointer<QWidget> previousFocus_;
    FocusRing ring_;

    Tween basePosition_;  // the strip's centred index, animated between selections
    Tween lineWidth_{1.5};
    FrameClock* clock_;
    FrameDemand demand_;
};

}  // namespace pexil::ui
