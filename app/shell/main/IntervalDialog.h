#pragma once

#include "app/capture/Intervalometer.h"

#include <QDialog>

class QDoubleSpinBox;
class QSpinBox;

namespace pexil::shell {

// Asks for a timed series: the interval, how many shots (0 until stopped) and the wait
// before the first.
class IntervalDialog final : public QDialog {
    Q_OBJECT
public:
    explicit IntervalDialog(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(IntervalDialog)

    Intervalometer::Plan plan() const;

private:
    QDoubleSpinBox* interval_;
    QSpinBox* shots_;
    QDoubleSpinBox* delay_;
};

}  // namespace pexil::shell
