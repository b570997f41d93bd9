#pragma once

#include "camera/transport/LinkTransport.h"

#include <memory>

namespace pexil::camera {

class VirtualCamera;

// The link to a virtual camera in the same process: what the USB or PTP/IP transport is to
// a real one. Operations reach the camera as they are (no container bytes are built); the
// link checks what a wire would refuse, so that the camera never sees what a real one could
// not receive: more than five parameters fail with a TransportError.
//
// progress() counts the request, the bytes of both data phases and the response, so that
// the session engine's watchdog gives up a camera stalled mid-transfer (VirtualCamera::
// stallAfter()) after `ioTimeout`, as it would a real one.
//
// connect() fails once the camera is unplugged. interrupt() closes this link for good:
// blocked and later calls return a TransportError at once; the camera itself stays
// powered, and a new link to it may be made.
class VirtualTransport final : public LinkTransport {
public:
    explicit VirtualTransport(std::shared_ptr<VirtualCamera> camera,
                              std::chrono::milliseconds ioTimeout = defaultIoTimeout);
    ~VirtualTransport() override;

    const std::shared_ptr<VirtualCamera>& camera() const { return camera_; }

    bool answersAtOnce() const override;
    void watchEvents(std::function<void()> notice) override;

private:
    std::shared_ptr<VirtualCamera> camera_;
};

}  // namespace pexil::camera
