#pragma once

#include "camera/transport/Transport.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace pexil::camera {

// The part of a transport that is its own wire (USB, PTP/IP, in process), behind the
// checks every transport makes (LinkTransport). It ends once: the first error that ends it
// (interrupt(), or a failure the link cannot go on from) is what every later call returns.
//
// Threads: open(), exchange() and nextEvent() as Transport's connect(), transact() and
// waitEvent(); close(), probe() and ownProgress() from any thread.
class Link {
public:
    // What a caller is told in the link's own words.
    struct Texts {
        QString closed;        // after interrupt()
        QString notConnected;  // a call before connect() succeeded
        std::function<QString(std::size_t count)> tooManyParams;
    };

    explicit Link(Texts texts) : texts_(std::move(texts)) {}
    virtual ~Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Until one succeeds; never once the link has ended.
    virtual Result<Done, TransportError> open() = 0;
    // Only after open() succeeded, with at most LinkTransport::maxParams parameters.
    virtual Result<Response, TransportError> exchange(const Operation& op,
                                                      std::optional<ByteView> outData,
                                                      DataSink& sink) = 0;
    virtual Result<std::optional<Bytes>, TransportError> nextEvent(
        std::chrono::milliseconds timeout) = 0;
    // Makes every blocked call return at once: interrupt() has just ended the link
    // (`first`), or found it ended before.
    virtual void close(bool first) = 0;
    // A call refused before it reached the wire; a link that keeps a log notes it there.
    virtual TransportError turnAway(const QString& message, const QString& detail);
    // What Transport::progress() and probe() say, for a link that counts on the wire itself
    // and can ask the camera for a sign of life. Without: the bytes LinkTransport passed.
    virtual std::optional<std::uint64_t> ownProgress() const { return std::nullopt; }
    virtual void probe() {}

    // Ends the link with `why` unless it has ended already; whether this call ended it.
    bool end(TransportError why);
    // The error that ended the link; none while it lives.
    std::optional<TransportError> ended() const;
    bool closed() const { return closed_.load(std::memory_order_acquire); }
    // For what waits on the link's end by itself (the virtual camera's waits).
    const std::atomic<bool>& closedFlag() const { return closed_; }
    const Texts& texts() const { return texts_; }

private:
    const Texts texts_;
    mutable std::mutex endMutex_;
    std::optional<TransportError> ended_;  // guarded by endMutex_
    std::atomic<bool> closed_{false};
};

// A transport made of a link and what every link shares: no transaction reaches the wire
// before connect() has succeeded, once the link has ended, or with more parameters than a
// container carries; the request, both data phases and the response are counted for the
// session engine's watchdog, which gives up a silent link after ioTimeout.
class LinkTransport : public Transport {
public:
    ~LinkTransport() override;

    // Again after success: nothing.
    Result<Done, TransportError> connect() final;
    Result<Response, TransportError> transact(const Operation& operation,
                                              std::optional<ByteView> outData,
                                              DataSink& sink) final;
    Result<std::optional<Bytes>, TransportError> waitEvent(std::chrono::milliseconds timeout) final;
    void interrupt() final;
    std::optional<std::chrono::milliseconds> ioTimeout() const final { return ioTimeout_; }
    std::uint64_t progress() const final;
    void probe() final { link_->probe(); }

    // Parameters a PTP container carries.
    static constexpr std::size_t maxParams = 5;

protected:
    LinkTransport(std::unique_ptr<Link> link, std::optional<std::chrono::milliseconds> ioTimeout);
    Link& link() const { return *link_; }
    bool connected() const { return connected_.load(std::memory_order_acquire); }

private:
    // Why a call may not go to the link (`operation`: none for waitEvent()); none if it may.
    std::optional<TransportError> gate(const Operation* operation);

    std::unique_ptr<Link> link_;
    const std::optional<std::chrono::milliseconds> ioTimeout_;
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> moved_{0};
};

}  // namespace pexil::camera
