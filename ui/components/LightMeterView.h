#pragma once

#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"
#include "ui/theme/Tween.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <optional>

namespace pexil::ui {

// A Nikon-style exposure meter with plus on the left: "+", a 13-tick scale, "−" and the value.
//
// The needle sits (3 − value) / 6 of the way along the scale, so +3 EV is at the left end, 0 in
// the centre and −3 EV at the right end; it is not clamped (+5 EV lies beyond the left end).
// The needle may leave the widget for values far beyond ±3: give the meter room beside the
// row if such values should stay visible. Non-finite values count as no value. The widget is one accessible element, "露出計", whose
// description is the value with " EV" ("—" without one).
class LightMeterView final : public QWidget {
    Q_OBJECT
public:
    static constexpr double maxScaleWidth = 170;
    static constexpr double scaleHeight = 16;
    static constexpr double spacing = 6;
    static constexpr double valueWidth = 36;
    static constexpr double needleWidth = 3;

    explicit LightMeterView(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LightMeterView)

    void setValue(std::optional<double> ev);
    std::optional<double> value() const { return value_; }

    // The value as shown: "—", "±0" below 0.05 in magnitude, else "%+.1f".
    static QString valueText(std::optional<double> ev);
    // Amber near zero (below 0.2 in magnitude), else the text colour.
    static QColor valueColor(std::optional<double> ev);
    static QString accessibleValue(std::optional<double> ev);

    // Where each part goes in a widget of `size`, the row centred.
    struct Layout {
        QRectF plus, scale, minus, value;
    };
    Layout layoutFor(const QSizeF& size) const;
    // The needle's left edge for `ev` on a scale starting at `scaleLeft`.
    static double needleLeft(double ev, double scaleLeft, double scaleWidth) {
        return scaleLeft + (3 - ev) / 6 * (scaleWidth - needleWidth);
    }

    void setFrameClock(FrameClock* clock);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onFrame();

    std::optional<double> value_;
    Tween needle_;  // the EV the needle shows, animated
    FrameClock* clock_;
    FrameDemand demand_;
};

}  // namespace pexil::ui
