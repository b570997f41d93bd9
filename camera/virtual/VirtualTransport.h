#pragma once

#include "camera/transport/Transport.h"

#include <atomic>
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
//
// Threads: as Transport says: transact() from one thread at a time, waitEvent() from
// another, interrupt() from any.
class VirtualTransport final : public Transport {
public:
    explicit VirtualTransport(std::shared_ptr<VirtualCamera> camera,
                              std::chrono::milliseconds ioTimeout = defaultIoTimeout);
    ~VirtualTransport() override;
    VirtualTransport(const VirtualTransport&) = delete;
    VirtualTransport& operator=(const VirtualTransport&) = delete;

    Result<Done, TransportError> connect() override;
    Result<Response, TransportError> transact(const Operation& operation,
                                              std::optional<ByteView> outData,
                                              DataSink& sink) override;
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override;
    void interrupt() override;
    std::optional<std::chrono::milliseconds> ioTimeout() const override { return ioTimeout_; }
    std::uint64_t progress() const override { return progress_.load(std::memory_order_relaxed); }

    const std::shared_ptr<VirtualCamera>& camera() const { return camera_; }

private:
    std::shared_ptr<VirtualCamera> camera_;
    std::chrono::milliseconds ioTimeout_;
    std::atomic<std::uint64_t> progress_{0};
    std::atomic<bool> closed_{false};
    std::atomic<bool> connected_{false};
};

}  // namespace pexil::camera
