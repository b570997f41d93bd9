#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pexil {
class CameraTrouble;
class ConnectionModel;
}

namespace pexil::shell {

// In place of the preview while no camera is there: the cable symbol, what to do, and why the
// last session ended when there is something to say. When the USB camera could not be opened
// and the device doctor knows why, its finding instead, with the fix as one copyable line and
// a "再試行" button.
class CameraWaitView final : public QWidget {
    Q_OBJECT
public:
    explicit CameraWaitView(ConnectionModel& connection, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraWaitView)

    QStringList texts() const;
    // The doctor's trouble to show; null (the default): none.
    void setTrouble(CameraTrouble* trouble);
    // Whether a finding is shown.
    bool showsFinding() const;
    // The fix line shown with the finding; empty when none.
    QString fixText() const;
    QPushButton* retryButton() const { return retry_; }
    QPushButton* copyButton() const { return copy_; }

private:
    void update();

    ConnectionModel& connection_;
    QPointer<CameraTrouble> trouble_;
    QLabel* title_;
    QLabel* detail_;
    QLabel* note_;
    QWidget* fixRow_;
    QLineEdit* fix_;
    QPushButton* copy_;
    QPushButton* retry_;
};

}  // namespace pexil::shell
