#include "app/capture/SeriesCamera.h"

namespace pexil::SeriesCamera {

std::function<bool()> bufferFull(CameraSettingsModel& settings, CaptureModel& capture) {
    return [&settings, &capture] { return settings.bufferRemaining() == 0 || capture.busy(); };
}

ExposureBracket::Camera forBracket(CameraSettingsModel& settings, CaptureModel& capture,
                                   std::function<bool()> autofocus) {
    ExposureBracket::Camera camera;
    camera.props = [&settings]() -> const Descriptors& { return settings.props(); };
    camera.write = [&settings](PTP::Prop prop, std::int64_t value) {
        return settings.setPropAndWait(prop, value);
    };
    camera.shoot = [&capture, autofocus = std::move(autofocus)] {
        return capture.shootAndWait(autofocus && autofocus());
    };
    camera.bufferFull = bufferFull(settings, capture);
    return camera;
}

}  // namespace pexil::SeriesCamera
