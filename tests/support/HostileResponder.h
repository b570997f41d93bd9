#pragma once

// The virtual camera gone bad, for PTP/IP tests: chosen operations get answers of the test's
// making, and the event channel can be flooded, while everything else is the virtual
// camera's own. Put it behind a PtpIpServer as any responder.
#include "camera/transport/Transport.h"
#include "camera/virtual/VirtualCamera.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace pexil::testing {

class HostileResponder final : public camera::Responder {
public:
    // Answers one operation in the camera's place; none lets the camera answer.
    using Answer = std::function<std::optional<Result<camera::Response, TransportError>>(
        const camera::Operation&, std::optional<ByteView>, camera::DataSink&)>;
    // Makes the next flood event's container from a running number.
    using FloodEvent = std::function<Bytes(std::uint32_t n)>;

    explicit HostileResponder(std::shared_ptr<camera::VirtualCamera> camera)
        : camera_(std::move(camera)) {}

    // From now on `operation` is answered by `answer` (any thread).
    void replace(std::uint16_t operation, Answer answer) {
        std::lock_guard lock(mutex_);
        answers_[operation] = std::move(answer);
    }
    // Every event wait answers at once with a flood event while `on`.
    void flood(FloodEvent event) {
        std::lock_guard lock(mutex_);
        flood_ = std::move(event);
    }
    void stopFlood() {
        std::lock_guard lock(mutex_);
        flood_ = nullptr;
    }
    std::uint32_t floodSent() const { return floodSent_.load(); }

    Result<camera::Response, TransportError> handle(const camera::Operation& operation,
                                                    std::optional<ByteView> outData,
                                                    camera::DataSink& sink) override {
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            if (const auto it = answers_.find(operation.code); it != answers_.end())
                answer = it->second;
        }
        if (answer)
            if (auto made = answer(operation, outData, sink)) return std::move(*made);
        return camera_->handle(operation, outData, sink);
    }
    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        FloodEvent flood;
        {
            std::lock_guard lock(mutex_);
            flood = flood_;
        }
        if (flood) return std::optional<Bytes>(flood(floodSent_.fetch_add(1)));
        return camera_->waitEvent(timeout);
    }
    bool inReach() const override { return camera_->inReach(); }
    void initiatorGone() override { camera_->initiatorGone(); }

private:
    std::shared_ptr<camera::VirtualCamera> camera_;
    std::mutex mutex_;
    std::map<std::uint16_t, Answer> answers_;
    FloodEvent flood_;
    std::atomic<std::uint32_t> floodSent_{0};
};

}  // namespace pexil::testing
