#pragma once

#include "app/capture/ExposureBracket.h"

#include <QDialog>

class QComboBox;
class QLabel;

namespace pexil::shell {

// Asks for an exposure bracket: how many shots and by what step, and says which setting it
// will move on the camera as it is set now.
class BracketDialog final : public QDialog {
    Q_OBJECT
public:
    // `props`: the camera's settings now, for the line that says what will move.
    explicit BracketDialog(const Descriptors& props, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(BracketDialog)

    ExposureBracket::Plan plan() const;

private:
    void update();

    const Descriptors& props_;
    QComboBox* shots_;
    QComboBox* step_;
    QLabel* outline_;
};

}  // namespace pexil::shell
