#pragma once

#include <QTimer>
#include <QWidget>

namespace pexil::shell {

// An indeterminate progress indicator: a spinner that turns only while it is visible.
class CardSpinner final : public QWidget {
    Q_OBJECT
public:
    explicit CardSpinner(int size, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardSpinner)

    bool isTurning() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};

}  // namespace pexil::shell
