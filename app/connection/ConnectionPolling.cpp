// The poll loop that follows the camera's changes while connected, and the events of the
// camera service; the settings model re-reads what they name.
#include "app/connection/ConnectionModel.h"

#include "app/settings/CameraSettingsModel.h"
#include "kit/async/Sleep.h"

#include <set>
#include <vector>

namespace pexil {

bool ConnectionModel::announcesByPolling(const PTPCamera& camera) const {
    return checkEventUsable_ && camera.speaksNikon();
}

void ConnectionModel::startPolling() {
    stopPolling();
    pollLoop_ = scope_.spawn(pollLoop());
}

void ConnectionModel::stopPolling() {
    if (pollLoop_) pollLoop_->cancel();
    pollLoop_.reset();
}

async::Task<void> ConnectionModel::pollLoop() {
    int idle = 0;
    for (;;) {
        co_await async::sleep(idle < 5 ? 0.35 : idle < 13 ? 0.9 : 2.0);
        const bool cancelled = co_await async::isCancelled();
        if (cancelled) co_return;
        CameraPtr camera = link_.camera();
        if (!camera || !connected()) co_return;
        const bool busy = shutterBusy && shutterBusy();
        if (busy || settings_.writesPending() > 0 || link_.downloading() > 0) continue;
        const bool changed = co_await pollOnce(std::move(camera));
        idle = changed ? 0 : idle + 1;
    }
}

async::Task<bool> ConnectionModel::pollOnce(CameraPtr camera) {
    const CameraWeak weak = camera;
    if (!camera->speaksNikon()) co_return false;  // nothing of Nikon's to ask
    if (!announcesByPolling(*camera)) {
        // Without CheckEvent only the meter moves by itself; everything else comes as events.
        const bool moved = co_await settings_.readMeter();
        co_return moved;
    }
    camera.reset();
    // The events also came as cameraEvent (handle()), in order with the event channel's; the
    // property changes among them are followed here, together.
    const auto events = co_await link_.pollEvents();
    if (!current(weak)) co_return false;
    if (!events) {
        if (responseCodeOf(events.error()) ==
            std::optional<std::uint16_t>(PTP::code(PTP::Response::operationNotSupported))) {
            checkEventUsable_ = false;
            log_.write(QString::fromUtf8("CheckEvent 非対応。露出計を直接読む方式に切り替え"));
        }
        co_return false;
    }
    std::set<std::uint16_t> codes;
    for (const PTPEvent& event : events.value())
        if (event.code == PTP::Event::devicePropChanged)
            codes.insert(static_cast<std::uint16_t>(event.param));
    const bool changed = co_await settings_.follow(std::move(codes));
    co_return changed;
}

void ConnectionModel::handle(const PTPEvent& event) {
    switch (event.code) {
        case PTP::code(PTP::Event::objectAdded):
            ++announcements_;
            break;
        case PTP::code(PTP::Event::captureComplete):
            scope_.spawn(settings_.refreshCounters());
            break;
        case PTP::code(PTP::Event::devicePropChanged): {
            const CameraPtr camera = link_.camera();
            // The poll loop follows these where CheckEvent works, all of a poll together.
            if (camera && announcesByPolling(*camera)) break;
            if (PTP::toMirroredProp(static_cast<std::uint16_t>(event.param)))
                settings_.propertyChanged(static_cast<std::uint16_t>(event.param));
            break;
        }
        default:
            break;
    }
}

}  // namespace pexil
