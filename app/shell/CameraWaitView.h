#pragma once

#include <QWidget>

#include <optional>

class QLabel;

namespace pexil {
class SessionModel;
}

namespace pexil::shell {

// In place of the preview while no camera is there: the cable symbol, what to do, and why the
// last session ended when there is something to say.
class CameraWaitView final : public QWidget {
    Q_OBJECT
public:
    explicit CameraWaitView(SessionModel& model, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CameraWaitView)

    QStringList texts() const;

private:
    void update();

    SessionModel& model_;
    QLabel* title_;
    QLabel* detail_;
    QLabel* note_;
};

}  // namespace pexil::shell
