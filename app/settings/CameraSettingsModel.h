#pragma once

#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/device/ExposureLayout.h"
#include "kit/ptp/PTPCamera.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>

namespace pexil {

class Log;

// The camera's settings as the inspector shows them: the descriptors of the mirrored
// properties, the light meter and the frames left in the buffer, read when a camera is
// attached and re-read for the changes the camera tells of; writes are verified against
// what the body took.
//
// Results that come back for a camera no longer attached are dropped here, so callers need
// not check after their awaits.
// Threads: main thread only.
class CameraSettingsModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(pexil::Descriptors props READ props NOTIFY propsChanged)
    Q_PROPERTY(std::optional<double> lightMeter READ lightMeter NOTIFY lightMeterChanged)
    Q_PROPERTY(std::optional<int> bufferRemaining READ bufferRemaining NOTIFY bufferRemainingChanged)

public:
    using CameraPtr = std::shared_ptr<PTPCamera>;

    CameraSettingsModel(async::Runtime& runtime, Log& log, QObject* parent = nullptr);
    ~CameraSettingsModel() override;
    Q_DISABLE_COPY_MOVE(CameraSettingsModel)

    // The camera whose settings are mirrored; its values are read by refreshAll().
    void attach(CameraPtr camera);
    // No camera: every value is forgotten, and answers still on their way are dropped.
    void clear();

    const Descriptors& props() const { return props_; }
    const std::optional<double>& lightMeter() const { return lightMeter_; }
    const std::optional<int>& bufferRemaining() const { return bufferRemaining_; }
    // The white balance in Kelvin, while the camera is set to a colour temperature and
    // tells it; none otherwise (an automatic white balance is not told over PTP).
    const std::optional<int>& colorTemperature() const { return colorTemperature_; }
    std::optional<std::int64_t> batteryPercent() const;
    bool lightMeterMeaningful() const;
    // Whether a camera is attached whose descriptor of `prop` allows a choice.
    bool isWritable(PTP::Prop prop) const;
    // Writes on their way: the poll loop and live view hold off meanwhile.
    int writesPending() const { return writing_; }

    // The display text of the current value; empty without a descriptor.
    QString text(PTP::Prop prop) const;
    // Chooses the value whose text is `text`; unknown texts are ignored.
    void setText(PTP::Prop prop, const QString& text);
    void setProp(PTP::Prop prop, std::int64_t value);
    // setProp() for a series that goes on once the camera holds the value: true once it does
    // (at once when it already did), false when there is no camera or descriptor for `prop`
    // or the camera refused (writeFailed() tells the photographer).
    async::Task<bool> setPropAndWait(PTP::Prop prop, std::int64_t value);
    void refreshSettings();

    // Every mirrored descriptor and the counters, with a log line of what was read.
    async::Task<void> refreshAll();
    async::Task<void> refreshCounters();
    async::Task<void> describeOne(PTP::Prop prop);
    // Re-reads what the camera said changed (DevicePropChanged codes); whether anything did.
    async::Task<bool> follow(std::set<std::uint16_t> codes);
    // A change the camera told on its event channel: what it names is read again.
    void propertyChanged(std::uint16_t code);
    // Reads the light meter alone, for bodies that tell nothing else by polling; whether it moved.
    async::Task<bool> readMeter();

signals:
    void propsChanged();
    void lightMeterChanged();
    void bufferRemainingChanged();
    void colorTemperatureChanged();
    // A write the camera refused, in the program's words.
    void writeFailed(const QString& message);

private:
    using CameraWeak = std::weak_ptr<PTPCamera>;

    bool current(const CameraWeak& camera) const;
    async::Task<void> write(CameraPtr camera, PTP::Prop prop, PropDesc desc, std::int64_t value);
    // write(); whether the camera holds `value` afterwards.
    async::Task<bool> writeChecked(CameraPtr camera, PTP::Prop prop, PropDesc desc,
                                   std::int64_t value);
    void setProps(Descriptors props);
    void storeDescriptor(const PropDesc& desc);
    void setLightMeter(std::optional<double> value);
    void setBufferRemaining(std::optional<int> value);
    async::Task<void> readColorTemperature();
    // After the white balance may have changed: reads the colour temperature again.
    void whiteBalanceMoved(std::optional<std::int64_t> before);

    Log& log_;
    CameraPtr camera_;
    Descriptors props_;
    std::optional<double> lightMeter_;
    std::optional<int> bufferRemaining_;
    std::optional<int> colorTemperature_;
    int writing_ = 0;
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
