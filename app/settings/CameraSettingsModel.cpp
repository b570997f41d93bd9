#include "app/settings/CameraSettingsModel.h"

#include "app/base/Log.h"
#include "kit/async/Sleep.h"

#include <QStringList>

#include <vector>

namespace pexil {

namespace {
// The Nikon meter counts sixths of a stop.
constexpr double meterSteps = 6.0;
// A body that answered a write with an error may still be applying it.
constexpr double verifyAfterErrorSeconds = 0.4;

// Nikon's white balance "色温度": the Kelvin value is its own property.
constexpr std::int64_t nikonColorTemperatureBalance = 0x8012;

std::optional<std::int64_t> whiteBalanceOf(const Descriptors& in) {
    const auto it = in.find(PTP::Prop::whiteBalance);
    if (it == in.end()) return std::nullopt;
    return it->second.current;
}

std::optional<double> meterValue(const std::optional<std::int64_t>& raw) {
    return raw ? std::optional<double>(static_cast<double>(*raw) / meterSteps) : std::nullopt;
}
}  // namespace

CameraSettingsModel::CameraSettingsModel(async::Runtime& runtime, Log& log, QObject* parent)
    : QObject(parent), log_(log), scope_(runtime) {}

CameraSettingsModel::~CameraSettingsModel() { scope_.cancelAll(); }

void CameraSettingsModel::attach(CameraPtr camera) { camera_ = std::move(camera); }

void CameraSettingsModel::clear() {
    camera_.reset();
    setProps({});
    setLightMeter(std::nullopt);
    setBufferRemaining(std::nullopt);
    if (colorTemperature_) {
        colorTemperature_.reset();
        emit colorTemperatureChanged();
    }
}

bool CameraSettingsModel::current(const CameraWeak& camera) const {
    const CameraPtr alive = camera.lock();
    return alive && alive == camera_;
}

std::optional<std::int64_t> CameraSettingsModel::batteryPercent() const {
    const auto it = props_.find(PTP::Prop::batteryLevel);
    if (it == props_.end()) return std::nullopt;
    return it->second.current;
}

bool CameraSettingsModel::lightMeterMeaningful() const {
    return ExposureLayout::meterMeaningful(props_) && lightMeter_.has_value();
}

bool CameraSettingsModel::isWritable(PTP::Prop prop) const {
    if (!camera_) return false;
    const auto it = props_.find(prop);
    return it != props_.end() && it->second.writable && !it->second.choices.empty();
}

QString CameraSettingsModel::text(PTP::Prop prop) const {
    const auto it = props_.find(prop);
    return it == props_.end() ? QString() : it->second.currentText();
}

void CameraSettingsModel::setText(PTP::Prop prop, const QString& text) {
    const auto it = props_.find(prop);
    if (it == props_.end()) return;
    const QStringList texts = it->second.choiceTexts();
    const qsizetype index = texts.indexOf(text);
    if (index < 0 || index >= static_cast<qsizetype>(it->second.choices.size())) return;
    setProp(prop, it->second.choices[static_cast<std::size_t>(index)]);
}

void CameraSettingsModel::setProp(PTP::Prop prop, std::int64_t value) {
    const auto it = props_.find(prop);
    if (!camera_ || it == props_.end() || it->second.current == value) return;
    ++writing_;  // before the task: the poll loop and live view hold off from now on
    scope_.spawn(write(camera_, prop, it->second, value));
}

async::Task<bool> CameraSettingsModel::setPropAndWait(PTP::Prop prop, std::int64_t value) {
    const auto it = props_.find(prop);
    if (!camera_ || it == props_.end()) co_return false;
    if (it->second.current == value) co_return true;
    ++writing_;
    co_return co_await writeChecked(camera_, prop, it->second, value);
}

async::Task<void> CameraSettingsModel::write(CameraPtr camera, PTP::Prop prop, PropDesc desc,
                                             std::int64_t value) {
    const bool held = co_await writeChecked(std::move(camera), prop, std::move(desc), value);
    (void)held;  // a refusal reached the photographer through writeFailed()
}

async::Task<bool> CameraSettingsModel::writeChecked(CameraPtr camera, PTP::Prop prop, PropDesc desc,
                                                    std::int64_t value) {
    const CameraWeak weak = camera;
    const auto written = co_await camera->write(std::move(desc), value);
    camera.reset();
    if (written) {
        if (current(weak)) {
            if (prop == PTP::Prop::exposureProgram)
                co_await refreshAll();
            else
                co_await describeOne(prop);
        }
    } else {
        co_await async::sleep(verifyAfterErrorSeconds);
        if (current(weak)) co_await describeOne(prop);
        if (current(weak)) {
            const auto it = props_.find(prop);
            if (it != props_.end() && it->second.current == value)
                log_.write(QStringLiteral("  ") + PTP::label(prop) +
                           QString::fromUtf8(" の書き込み: エラー応答だが値は反映済み"));
            else
                emit writeFailed(PTP::label(prop) + QString::fromUtf8(" を変更できませんでした: ") +
                                 describe(written.error()));
        }
    }
    --writing_;
    const auto it = props_.find(prop);
    co_return current(weak) && it != props_.end() && it->second.current == value;
}

void CameraSettingsModel::refreshSettings() { scope_.spawn(refreshAll()); }

async::Task<void> CameraSettingsModel::refreshAll() {
    const CameraPtr camera = camera_;
    if (!camera) co_return;
    const CameraWeak weak = camera;
    std::vector<PTP::Prop> all(PTP::mirroredProps.begin(), PTP::mirroredProps.end());
    Descriptors read = co_await camera->describeAll(std::move(all));
    if (!current(weak)) co_return;
    setProps(std::move(read));
    co_await refreshCounters();
    if (!current(weak)) co_return;
    QStringList items;
    for (const auto& [prop, desc] : props_)  // a map: ascending property code
        items << PTP::label(prop) + u'=' + desc.currentText() +
                     (desc.writable ? QString() : QString::fromUtf8("🔒"));
    log_.write(QString::fromUtf8("設定: ") + items.join(u' '));
}

async::Task<void> CameraSettingsModel::refreshCounters() {
    const CameraPtr camera = camera_;
    if (!camera || !camera->speaksNikon()) co_return;
    const CameraWeak weak = camera;
    const auto meter = co_await camera->integer(PTP::Prop::nikonLightMeter, true);
    if (!current(weak)) co_return;
    setLightMeter(meterValue(meter));
    const auto shots = co_await camera->integer(PTP::Prop::nikonMaximumShots, false);
    if (!current(weak)) co_return;
    setBufferRemaining(shots ? std::optional<int>(static_cast<int>(*shots)) : std::nullopt);
}

async::Task<void> CameraSettingsModel::describeOne(PTP::Prop prop) {
    const CameraPtr camera = camera_;
    if (!camera) co_return;
    const CameraWeak weak = camera;
    const auto desc = co_await camera->describe(prop);
    if (desc && current(weak)) storeDescriptor(*desc);
}

async::Task<bool> CameraSettingsModel::readMeter() {
    const CameraPtr camera = camera_;
    if (!camera) co_return false;
    const CameraWeak weak = camera;
    const auto old = lightMeter_;
    const auto meter = co_await camera->integer(PTP::Prop::nikonLightMeter, true);
    if (!current(weak)) co_return false;
    setLightMeter(meterValue(meter));
    co_return old != lightMeter_;
}

async::Task<bool> CameraSettingsModel::follow(std::set<std::uint16_t> codes) {
    const CameraPtr camera = camera_;
    if (codes.empty() || !camera) co_return false;
    const CameraWeak weak = camera;
    if (codes.count(PTP::code(PTP::Prop::nikonLightMeter))) {
        const auto meter = co_await camera->integer(PTP::Prop::nikonLightMeter, true);
        if (!current(weak)) co_return false;
        setLightMeter(meterValue(meter));
    }
    if (codes.count(PTP::code(PTP::Prop::nikonMaximumShots))) {
        const auto shots = co_await camera->integer(PTP::Prop::nikonMaximumShots, false);
        if (!current(weak)) co_return false;
        setBufferRemaining(shots ? std::optional<int>(static_cast<int>(*shots)) : std::nullopt);
    }
    if (codes.count(PTP::code(PTP::Prop::nikonColorTemperature))) {
        co_await readColorTemperature();
        if (!current(weak)) co_return false;
    }
    if (codes.count(PTP::code(PTP::Prop::exposureProgram))) {
        // A new mode changes which settings exist and what they allow.
        co_await refreshAll();
        co_return true;
    }
    for (const PTP::Prop prop : PTP::mirroredProps) {
        if (!codes.count(PTP::code(prop))) continue;
        co_await describeOne(prop);
        if (!current(weak)) co_return false;
    }
    co_return true;
}

void CameraSettingsModel::propertyChanged(std::uint16_t code) {
    auto run = [](CameraSettingsModel* self, std::uint16_t code) -> async::Task<void> {
        std::set<std::uint16_t> codes{code};
        const bool changed = co_await self->follow(std::move(codes));
        (void)changed;  // nothing waits on it: the signals tell
    };
    scope_.spawn(run(this, code));
}

void CameraSettingsModel::setProps(Descriptors props) {
    if (props_ == props) return;
    const auto before = whiteBalanceOf(props_);
    props_ = std::move(props);
    emit propsChanged();
    whiteBalanceMoved(before);
}

void CameraSettingsModel::storeDescriptor(const PropDesc& desc) {
    auto it = props_.find(desc.code);
    if (it != props_.end() && it->second == desc) return;
    const auto before = whiteBalanceOf(props_);
    props_[desc.code] = desc;
    emit propsChanged();
    whiteBalanceMoved(before);
}

void CameraSettingsModel::whiteBalanceMoved(std::optional<std::int64_t> before) {
    if (before != whiteBalanceOf(props_)) scope_.spawn(readColorTemperature());
}

async::Task<void> CameraSettingsModel::readColorTemperature() {
    const CameraPtr camera = camera_;
    std::optional<int> kelvin;
    const auto wb = props_.find(PTP::Prop::whiteBalance);
    // Asked even where DeviceInfo does not list it: Nikon bodies announce their own
    // properties through a vendor command instead; one without it answers with an error.
    if (camera && camera->speaksNikon() && wb != props_.end() &&
        wb->second.current == nikonColorTemperatureBalance) {
        const CameraWeak weak = camera;
        const auto value = co_await camera->integer(PTP::Prop::nikonColorTemperature, false);
        if (!current(weak)) co_return;
        // A body between settings, or a damaged answer, reads outside any lamp's range.
        if (value && *value >= 1000 && *value <= 100000) kelvin = static_cast<int>(*value);
    }
    if (kelvin == colorTemperature_) co_return;
    colorTemperature_ = kelvin;
    emit colorTemperatureChanged();
}

void CameraSettingsModel::setLightMeter(std::optional<double> value) {
    if (lightMeter_ == value) return;
    lightMeter_ = value;
    emit lightMeterChanged();
}

void CameraSettingsModel::setBufferRemaining(std::optional<int> value) {
    if (bufferRemaining_ == value) return;
    bufferRemaining_ = value;
    emit bufferRemainingChanged();
}

}  // namespace pexil
