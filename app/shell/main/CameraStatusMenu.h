#pragma once

#include <QPointer>
#include <QToolButton>

class QMenu;

namespace pexil {
class CameraTrouble;
class CameraSettingsModel;
class ConnectionModel;
}

namespace pexil::shell {

// The toolbar's camera status: the status text as the button's title, and a menu with what
// is known of the camera and what can be done now (connect, stop waiting, set the clock,
// hand control back to the body). When the USB camera could not be opened and the device
// doctor knows why, its finding and fix replace the bare error, with "再試行".
class CameraStatusMenu final : public QToolButton {
    Q_OBJECT
public:
    explicit CameraStatusMenu(ConnectionModel& connection, CameraSettingsModel& settings,
                              QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraStatusMenu)

    // The menu's items as shown (separators left out), rebuilt from the model.
    QStringList itemTexts();
    // Triggers the item with this text; whether there was one that was enabled.
    bool trigger(const QString& text);
    // The doctor's trouble to show; null (the default): none.
    void setTrouble(CameraTrouble* trouble);

private:
    void rebuild();
    void updateTitle();

    ConnectionModel& connection_;
    CameraSettingsModel& settings_;
    QPointer<CameraTrouble> trouble_;
    QMenu* menu_;
};

}  // namespace pexil::shell
