// The session model's settings: the inspector's texts and choices, writes verified against
// what the camera took, and handing the controls back to the body.
#include "app/session/SessionModel.h"

#include "kit/async/Sleep.h"
#include "kit/device/ExposureLayout.h"

namespace pexil {

namespace {
// A body that answered a write with an error may still be applying it.
constexpr double verifyAfterErrorSeconds = 0.4;
}  // namespace

QString SessionModel::text(PTP::Prop prop) const {
    const auto it = props_.find(prop);
    return it == props_.end() ? QString() : it->second.currentText();
}

void SessionModel::setText(PTP::Prop prop, const QString& text) {
    const auto it = props_.find(prop);
    if (it == props_.end()) return;
    const QStringList texts = it->second.choiceTexts();
    const qsizetype index = texts.indexOf(text);
    if (index < 0 || index >= static_cast<qsizetype>(it->second.choices.size())) return;
    setProp(prop, it->second.choices[static_cast<std::size_t>(index)]);
}

bool SessionModel::isWritable(PTP::Prop prop) const {
    if (!state_.is(ConnectionState::Kind::connected)) return false;
    const auto it = props_.find(prop);
    return it != props_.end() && it->second.writable && !it->second.choices.empty();
}

bool SessionModel::lightMeterMeaningful() const {
    return ExposureLayout::meterMeaningful(props_) && lightMeter_.has_value();
}

void SessionModel::setProp(PTP::Prop prop, std::int64_t value) {
    CameraPtr camera = link_->camera();
    const auto it = props_.find(prop);
    if (!camera || it == props_.end() || it->second.current == value) return;
    ++writing_;  // before the task: the poll loop and live view hold off from now on
    scope_.spawn(write(std::move(camera), prop, it->second, value));
}

async::Task<void> SessionModel::write(CameraPtr camera, PTP::Prop prop, PropDesc desc,
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
                write(QStringLiteral("  ") + PTP::label(prop) +
                      QString::fromUtf8(" の書き込み: エラー応答だが値は反映済み"));
            else
                setLastError(PTP::label(prop) + QString::fromUtf8(" を変更できませんでした: ") +
                             describe(written.error()));
        }
    }
    --writing_;
}

void SessionModel::refreshSettings() { scope_.spawn(refreshAll()); }

void SessionModel::releaseCameraControl() {
    CameraPtr camera = link_->camera();
    if (!state_.is(ConnectionState::Kind::connected) || !camera) return;
    auto run = [](SessionModel* self, CameraPtr camera) -> async::Task<void> {
        const CameraWeak weak = camera;
        std::vector<std::uint32_t> params{0};
        const auto done = co_await camera->send(PTP::Op::nikonChangeCameraMode, std::move(params));
        camera.reset();
        if (!self->current(weak)) co_return;
        if (done)
            self->write(QString::fromUtf8("制御権を本体へ返却"));
        else
            self->setLastError(describe(done.error()));
    };
    scope_.spawn(run(this, std::move(camera)));
}

}  // namespace pexil
