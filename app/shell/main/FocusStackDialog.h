#pragma once

#include "app/liveview/FocusStack.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace pexil::shell {

// Asks for a focus stack: how many shots, how far the lens moves between them and which
// way, and whether AF runs once first. The choices last while the window is open.
class FocusStackDialog final : public QDialog {
    Q_OBJECT
public:
    explicit FocusStackDialog(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(FocusStackDialog)

    FocusStack::Plan plan() const;

private:
    QSpinBox* shots_;
    QSpinBox* step_;
    QComboBox* direction_;
    QCheckBox* autofocus_;
};

}  // namespace pexil::shell
