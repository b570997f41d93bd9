#pragma once

#include <QTimer>
#include <QWidget>

namespace pexil {
class ConnectionModel;
namespace ui {
class PreparingOverlay;
}
}  // namespace pexil

namespace pexil::shell {

// Over the preview while the camera warms up: the preparing overlay with the camera's name,
// a patient text that turns into advice after two minutes, and the time waited so far. The
// elapsed time is read from the session's clock, so tests move a virtual clock.
class WarmupOverlay final : public QWidget {
    Q_OBJECT
public:
    explicit WarmupOverlay(ConnectionModel& connection, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(WarmupOverlay)

    ui::PreparingOverlay* overlay() const { return overlay_; }
    // Re-reads the model and the clock (every second while shown, and on changes).
    void refresh();

private:
    ConnectionModel& connection_;
    ui::PreparingOverlay* overlay_;
    QTimer tick_;
};

}  // namespace pexil::shell
