#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace pexil {
class ConnectionModel;
class DestinationModel;
}

namespace pexil::ui {
class ElidedLabel;
}  // namespace pexil::ui

namespace pexil::shell {

// A strip across the top of the window while the destination has a problem or files could not
// be transferred; hidden otherwise. With a destination problem its button opens the settings.
class WarningStrip final : public QWidget {
    Q_OBJECT
public:
    explicit WarningStrip(DestinationModel& destination, ConnectionModel& connection,
                          QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(WarningStrip)

    QString text() const;
    QToolButton* actionButton() const { return button_; }

signals:
    // The user wants to change the destination.
    void destinationRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void update();

    DestinationModel& destination_;
    ConnectionModel& connection_;
    ui::ElidedLabel* text_;
    QToolButton* button_;
};

}  // namespace pexil::shell
