#pragma once

#include "camera/transport/Transport.h"
#include "kit/ptp/PTPEvent.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pexil::testing {

// A transport whose camera is a function in the test: every transaction is handed to
// `answer` on the caller's (the engine's I/O) thread; events are pushed by the test.
// It records what it saw and fails the test's expectations if two transactions overlap.
class FakeTransport final : public camera::Transport {
public:
    using Answer = std::function<Result<camera::Response, TransportError>(const camera::Operation&,
                                                                          std::optional<ByteView>, camera::DataSink&)>;

    explicit FakeTransport(Answer answer) : answer_(std::move(answer)) {}

    Result<Done, TransportError> connect() override {
        std::lock_guard lock(mutex_);
        if (connectError) return *connectError;
        return Done{};
    }

    Result<camera::Response, TransportError> transact(const camera::Operation& operation,
                                                      std::optional<ByteView> outData,
                                                      camera::DataSink& sink) override {
        {
            std::lock_guard lock(mutex_);
            if (interrupted_) return TransportError{QStringLiteral("interrupted")};
            if (busy_) overlapped = true;
            busy_ = true;
            seen.push_back(operation);
        }
        auto result = answer_(operation, outData, sink);
        std::lock_guard lock(mutex_);
        busy_ = false;
        return result;
    }

    Result<std::optional<Bytes>, TransportError> waitEvent(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, timeout, [this] { return interrupted_ || !events_.empty() || eventError_; });
        if (interrupted_) return TransportError{QStringLiteral("interrupted")};
        if (eventError_) return *eventError_;
        if (events_.empty()) return std::optional<Bytes>();
        Bytes event = std::move(events_.front());
        events_.pop_front();
        return std::optional<Bytes>(std::move(event));
    }

    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        wake_.notify_all();
    }

    void pushEvent(Bytes container) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(container));
        wake_.notify_all();
    }
    void failEvents(TransportError error) {
        std::lock_guard lock(mutex_);
        eventError_ = std::move(error);
        wake_.notify_all();
    }
    // A camera the test holds in the middle of a transaction lets go once this is true.
    bool interrupted() const {
        std::lock_guard lock(mutex_);
        return interrupted_;
    }
    std::vector<camera::Operation> operations() const {
        std::lock_guard lock(mutex_);
        return seen;
    }

    std::optional<TransportError> connectError;
    bool overlapped = false;

private:
    Answer answer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Bytes> events_;
    std::optional<TransportError> eventError_;
    std::vector<camera::Operation> seen;
    bool busy_ = false;
    bool interrupted_ = false;
};

inline Bytes eventContainer(std::uint16_t code, std::uint32_t param) { return PTPEvent{code, param}.toContainer(); }

}  // namespace pexil::testing
