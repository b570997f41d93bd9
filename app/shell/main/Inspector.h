#pragma once

#include "kit/ptp/PTP.h"

#include <QPointer>
#include <QWidget>

#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QVBoxLayout;

namespace pexil {
class CameraSettingsModel;
class CaptureModel;
class ConnectionModel;
class PreferencesModel;
namespace ui {
class LightMeterView;
class ScrubberControl;
class SegmentedControl;
class ShutterButton;
class ElidedLabel;
}  // namespace ui
}  // namespace pexil

namespace pexil::shell {

class CameraActions;

class BatteryIcon;

// The column at the right: the camera's name and battery, the exposure settings (program,
// meter, one dial per exposure value), the picture settings and the shutter. Every control
// shows the camera's value as last read and writes through the session; a control the camera
// does not let change is disabled.
class Inspector final : public QWidget {
    Q_OBJECT
public:
    // The shutter runs the shoot action of `actions`.
    Inspector(ConnectionModel& connection, CameraSettingsModel& settings, CaptureModel& capture,
              PreferencesModel& prefs, CameraActions& actions, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Inspector)

    QString title() const;
    QString placeholder() const;  // empty while the settings are shown
    // The dial of an exposure property; null when none is shown for it.
    ui::ScrubberControl* scrubber(PTP::Prop prop) const;
    ui::ShutterButton* shutter() const { return shutter_; }
    ui::SegmentedControl* programPicker() const { return program_; }
    // The modes as a menu, used instead of the strip when the body has more than fit.
    QComboBox* programMenu() const { return programMenu_; }
    BatteryIcon* battery() const { return battery_; }
    QComboBox* picker(PTP::Prop prop) const;
    // Tab goes from `previous` down the column: the dials that can be turned, in their order,
    // then the shutter. Kept as dials come, go and are enabled.
    void setTabOrderAfter(QWidget* previous);

private:
    // The exposure program at `index` of the strip or the menu, written to the camera.
    void chooseProgram(int index);
    void updateState();
    void updateProps();
    void updateScrubbers();
    void fillPicker(QComboBox* box, PTP::Prop prop);
    void orderTabs();

    ConnectionModel& connection_;
    CaptureModel& capture_;
    PreferencesModel& prefs_;
    CameraSettingsModel& cameraSettings_;
    ui::ElidedLabel* title_;
    BatteryIcon* battery_;
    QLabel* placeholder_;
    QWidget* settings_;
    ui::SegmentedControl* program_;
    std::vector<std::int64_t> programChoices_;
    QComboBox* programMenu_;
    bool programAsMenu_ = false;
    ui::LightMeterView* meter_;
    QVBoxLayout* scrubberColumn_;
    std::map<PTP::Prop, ui::ScrubberControl*> scrubbers_;
    QComboBox* whiteBalance_;
    QComboBox* quality_;
    ui::ElidedLabel* focusMode_;
    QCheckBox* autofocusFirst_;
    ui::ShutterButton* shutter_;
    QPointer<QWidget> tabPrevious_;
};

}  // namespace pexil::shell
