#pragma once

#include <QWidget>

namespace pexil {
class CardModel;
class ConnectionModel;
class ShotsModel;
namespace ui {
class SegmentedControl;
}
}  // namespace pexil

namespace pexil::shell {

// The switch between the tethered shots and the card: "テザー N" and the card label, bound to
// CardModel::active. Usable while the camera is connected; while the card is shown it also
// stays usable without a camera, so a lost camera cannot leave the window stuck on the card.
class SourceToggle final : public QWidget {
    Q_OBJECT
public:
    SourceToggle(ConnectionModel& connection, ShotsModel& shots, CardModel& card,
                 QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SourceToggle)

    ui::SegmentedControl* control() const { return control_; }
    QString tetherText() const;
    QString cardText() const;

private:
    void refresh();

    ConnectionModel& connection_;
    ShotsModel& shots_;
    CardModel& card_;
    ui::SegmentedControl* control_;
};

}  // namespace pexil::shell
