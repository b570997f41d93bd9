#pragma once

#include <QWidget>

class QToolButton;

namespace pexil {
class LiveViewModel;
}
namespace pexil::ui {
class ElidedLabel;
}

namespace pexil::shell {

class LiveViewActions;

// The buttons of live view in the line under the picture: peaking, histogram, clipping and
// the guide, then the manual focus drive (near large to small, "MF", far small to large)
// on bodies that drive their lens. Each button triggers and follows one of `actions`.
class LiveViewBar final : public QWidget {
    Q_OBJECT
public:
    // The stack's progress or summary follows the focus buttons.
    LiveViewBar(LiveViewModel& live, const LiveViewActions& actions, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LiveViewBar)

    // The manual focus buttons, shown only when the body drives its lens.
    QWidget* focusDrive() const { return focusDrive_; }

private:
    void update();

    LiveViewModel& live_;
    const LiveViewActions& actions_;
    QWidget* focusDrive_;
    ui::ElidedLabel* stack_;
};

}  // namespace pexil::shell
