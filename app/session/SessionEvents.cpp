// The session model's mirror of the camera: settings and counters read at ready, the poll
// loop that follows the camera's changes, and the events of the camera service.
#include "app/session/SessionModel.h"

#include "kit/async/Sleep.h"

#include <set>
#include <vector>

namespace pexil {

namespace {
// The Nikon meter counts sixths of a stop.
constexpr double meterSteps = 6.0;
}  // namespace

bool SessionModel::checkEventWanted(const PTPCamera& camera) const {
    return checkEventUsable_ && camera.speaksNikon();
}

async::Task<void> SessionModel::refreshAll() {
    const CameraPtr camera = link_->camera();
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
    write(QString::fromUtf8("設定: ") + items.join(u' '));
}

async::Task<void> SessionModel::refreshCounters() {
    const CameraPtr camera = link_->camera();
    if (!camera || !camera->speaksNikon()) co_return;
    const CameraWeak weak = camera;
    const auto meter = co_await camera->integer(PTP::Prop::nikonLightMeter, true);
    if (!current(weak)) co_return;
    setLightMeter(meter ? std::optional<double>(static_cast<double>(*meter) / meterSteps)
                        : std::nullopt);
    const auto shots = co_await camera->integer(PTP::Prop::nikonMaximumShots, false);
    if (!current(weak)) co_return;
    setBufferRemaining(shots ? std::optional<int>(static_cast<int>(*shots)) : std::nullopt);
}

async::Task<void> SessionModel::describeOne(PTP::Prop prop) {
    const CameraPtr camera = link_->camera();
    if (!camera) co_return;
    const CameraWeak weak = camera;
    const auto desc = co_await camera->describe(prop);
    if (desc && current(weak)) storeDescriptor(*desc);
}

void SessionModel::startEventLoop() {
    if (eventLoop_) eventLoop_->cancel();
    eventLoop_ = scope_.spawn(eventLoop());
}

async::Task<void> SessionModel::eventLoop() {
    int idle = 0;
    for (;;) {
        co_await async::sleep(idle < 5 ? 0.35 : idle < 13 ? 0.9 : 2.0);
        const bool cancelled = co_await async::isCancelled();
        if (cancelled) co_return;
        CameraPtr camera = link_->camera();
        if (!camera || !state_.is(ConnectionState::Kind::connected)) co_return;
        if (busy_ || writing_ > 0 || link_->downloading() > 0) continue;
        const bool changed = co_await pollOnce(std::move(camera));
        idle = changed ? 0 : idle + 1;
    }
}

async::Task<bool> SessionModel::pollOnce(CameraPtr camera) {
    const CameraWeak weak = camera;
    if (!camera->speaksNikon()) co_return false;  // nothing of Nikon's to ask
    if (!checkEventWanted(*camera)) {
        // Without CheckEvent only the meter moves by itself; everything else comes as events.
        const auto old = lightMeter_;
        const auto meter = co_await camera->integer(PTP::Prop::nikonLightMeter, true);
        if (!current(weak)) co_return false;
        const std::optional<double> now =
            meter ? std::optional<double>(static_cast<double>(*meter) / meterSteps) : std::nullopt;
        setLightMeter(now);
        co_return old != now;
    }
    const auto events = co_await camera->checkEvent();
    camera.reset();
    if (!current(weak)) co_return false;
    if (!events) {
        if (responseCodeOf(events.error()) ==
            std::optional<std::uint16_t>(PTP::code(PTP::Response::operationNotSupported))) {
            checkEventUsable_ = false;
            write(QString::fromUtf8("CheckEvent 非対応。露出計を直接読む方式に切り替え"));
        }
        co_return false;
    }
    std::set<std::uint16_t> codes;
    for (const PTPEvent& event : events.value()) {
        if (event.code == PTP::Event::devicePropChanged)
            codes.insert(static_cast<std::uint16_t>(event.param));
        // Bodies that queue their events for CheckEvent alone announce new pictures only here.
        if (event.code == PTP::Event::objectAdded) ++shotNotifications_;
    }
    if (codes.empty()) co_return false;
    if (codes.count(PTP::code(PTP::Prop::nikonLightMeter)) ||
        codes.count(PTP::code(PTP::Prop::nikonMaximumShots))) {
        const CameraPtr again = weak.lock();
        if (!again) co_return false;
        if (codes.count(PTP::code(PTP::Prop::nikonLightMeter))) {
            const auto meter = co_await again->integer(PTP::Prop::nikonLightMeter, true);
            if (!current(weak)) co_return false;
            setLightMeter(meter ? std::optional<double>(static_cast<double>(*meter) / meterSteps)
                                : std::nullopt);
        }
        if (codes.count(PTP::code(PTP::Prop::nikonMaximumShots))) {
            const auto shots = co_await again->integer(PTP::Prop::nikonMaximumShots, false);
            if (!current(weak)) co_return false;
            setBufferRemaining(shots ? std::optional<int>(static_cast<int>(*shots)) : std::nullopt);
        }
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

void SessionModel::handle(const PTPEvent& event) {
    switch (event.code) {
        case PTP::code(PTP::Event::objectAdded):
            ++shotNotifications_;
            break;
        case PTP::code(PTP::Event::captureComplete):
            scope_.spawn(refreshCounters());
            break;
        case PTP::code(PTP::Event::devicePropChanged): {
            const CameraPtr camera = link_->camera();
            // The poll loop reports these where CheckEvent works.
            if (camera && checkEventWanted(*camera)) break;
            const auto prop = PTP::toMirroredProp(static_cast<std::uint16_t>(event.param));
            if (!prop) break;
            if (*prop == PTP::Prop::exposureProgram)
                scope_.spawn(refreshAll());
            else
                scope_.spawn(describeOne(*prop));
            break;
        }
        default:
            break;
    }
}

}  // namespace pexil
