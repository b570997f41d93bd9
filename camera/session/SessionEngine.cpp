#include "camera/session/SessionEngine.h"

#include "kit/async/Completion.h"
#include "kit/ptp/Localized.h"
#include "kit/ptp/PTP.h"

#include <algorithm>
#include <utility>

namespace pexil::camera {

namespace {

// Remembers whether the consumer, not the link, stopped a data phase.
class GuardedSink final : public DataSink {
public:
    explicit GuardedSink(DataSink& inner) : inner_(inner) {}
    bool begin(std::optional<std::uint64_t> total) override { return note(inner_.begin(total)); }
    bool write(ByteView piece) override { return note(inner_.write(piece)); }
    bool refused() const { return refused_; }

private:
    bool note(bool accepted) {
        refused_ = refused_ || !accepted;
        return accepted;
    }
    DataSink& inner_;
    bool refused_ = false;
};

TransportError closedError() {
    return TransportError{QString::fromUtf8("カメラとのセッションは閉じています")};
}

TransportError timeoutError(std::optional<std::chrono::milliseconds> timeout) {
    const double seconds = timeout ? static_cast<double>(timeout->count()) / 1000.0 : 0.0;
    return TransportError{
        localized("カメラが %1 秒間応答しませんでした。カメラの電源と接続（ケーブルや "
                  "Wi-Fi）を確かめてください。")
            .arg(QString::number(seconds))};
}

async::Seconds watchPeriod(std::chrono::milliseconds timeout) {
    const async::Seconds eighth = std::chrono::duration_cast<async::Seconds>(timeout) / 8.0;
    return std::clamp(eighth, async::Seconds{0.01}, async::Seconds{1.0});
}

}  // namespace

std::shared_ptr<SessionEngine> SessionEngine::create(async::Runtime& runtime,
                                                     std::unique_ptr<Transport> transport) {
    return std::shared_ptr<SessionEngine>(new SessionEngine(runtime, std::move(transport)));
}

SessionEngine::SessionEngine(async::Runtime& runtime, std::unique_ptr<Transport> transport)
    : runtime_(runtime),
      transport_(std::move(transport)),
      atOnce_(transport_->answersAtOnce()),
      io_(atOnce_ ? nullptr
                  : std::make_unique<async::WorkQueue>(QStringLiteral("app.pexil.camera.io"))),
      ioTimeout_(atOnce_ ? std::nullopt : transport_->ioTimeout()),
      timedOut_(timeoutError(ioTimeout_)) {}

SessionEngine::~SessionEngine() {
    alive_->store(false);
    stopping_ = true;
    if (atOnce_) transport_->watchEvents({});
    transport_->interrupt();
    io_.reset();  // queued transactions fail at once on the interrupted transport
    if (events_.joinable()) events_.join();
}

Result<Response, TransportError> SessionEngine::run(std::uint16_t code,
                                                    std::vector<std::uint32_t> params,
                                                    const std::optional<Bytes>& outData,
                                                    DataSink& sink) {
    if (stopping_) return closedError();
    // OpenSession is transaction 0; every later transaction takes the next number.
    const std::uint32_t id = code == PTP::Op::openSession ? 0 : nextTransaction_++;
    GuardedSink guarded(sink);
    const std::optional<ByteView> out =
        outData ? std::optional<ByteView>(ByteView(*outData)) : std::nullopt;
    inFlight_ = true;
    auto result = transport_->transact(Operation{code, id, std::move(params)}, out, guarded);
    inFlight_ = false;
    // The watchdog's interrupt() shows as whatever the transport says of it; the caller
    // learns why.
    if (!result && expired_) {
        reportLoss(timedOut_);
        return timedOut_;
    }
    // A transfer the consumer stopped (a full disk) is not a lost camera.
    if (!result && !guarded.refused()) reportLoss(result.error());
    return result;
}

void SessionEngine::reportLoss(const TransportError& failure) {
    if (stopping_ || lossReported_.exchange(true)) return;
    const TransportError error = expired_ ? timedOut_ : failure;
    runtime_.main().post([weak = weak_from_this(), alive = alive_, error] {
        auto self = weak.lock();
        if (!self || !alive->load() || self->stopping_) return;
        if (self->lossHandler_) self->lossHandler_(error);
    });
}

async::Task<Result<Response, TransportError>> SessionEngine::transact(
    std::uint16_t code, std::vector<std::uint32_t> params, std::optional<Bytes> outData,
    std::shared_ptr<DataSink> sink) {
    using Outcome = Result<Response, TransportError>;
    const auto op = static_cast<PTP::Op>(code);
    const auto refusal = capabilities_ ? capabilities_->refusal(op, params)
                                       : CameraCapabilities::refusalBeforeDeviceInfo(op, params);
    if (refusal) {
        if (refusalHandler_) refusalHandler_(code, params, *refusal);
        // Through the main queue all the same, as an answer from the camera would come.
        Response refused;
        refused.code = refusal->code;
        auto answer = [refused](async::Resolver<Outcome> resolver) { resolver.resolve(refused); };
        auto outcome = co_await async::waitFor<Outcome>(std::move(answer));
        co_return outcome;
    }
    auto self = shared_from_this();
    if (atOnce_) {
        // Through the main queue, in the order asked, as the I/O thread's answers come.
        auto atOnce = co_await async::waitFor<Outcome>([&](async::Resolver<Outcome> resolver) {
            runtime_.main().post([weak = weak_from_this(), alive = alive_, code,
                                  params = std::move(params), outData = std::move(outData), sink,
                                  resolver]() mutable {
                auto engine = weak.lock();
                if (!engine || !alive->load()) {
                    resolver.resolve(closedError());
                    return;
                }
                resolver.resolve(engine->run(code, std::move(params), outData, *sink));
                engine->readWaitingEvents();
            });
        });
        co_return atOnce;
    }
    auto outcome = co_await async::waitFor<Outcome>([&](async::Resolver<Outcome> resolver) {
        // The I/O queue holds the engine by raw pointer: the destructor drains the queue
        // before anything goes, and a shared one would let the engine die on its own thread.
        SessionEngine* engine = self.get();
        auto pending = std::make_shared<async::ExternalWork>(engine->runtime_.externalWork());
        ++engine->queued_;
        engine->armWatchdog();
        engine->io_->post([engine, code, params = std::move(params), outData = std::move(outData),
                           sink, resolver, pending] {
            auto result = engine->run(code, params, outData, *sink);
            --engine->queued_;
            resolver.resolve(std::move(result));
            pending->release();
        });
    });
    disarmIfIdle();
    co_return outcome;
}

async::Task<Result<Exchange, TransportError>> SessionEngine::exchange(
    std::uint16_t code, std::vector<std::uint32_t> params, std::optional<Bytes> outData) {
    auto sink = std::make_shared<BufferSink>();
    auto result = co_await transact(code, std::move(params), std::move(outData), sink);
    if (!result) co_return result.error();
    co_return Exchange{result.value(), sink->take()};
}

async::Task<Result<Done, TransportError>> SessionEngine::open() {
    using Outcome = Result<Done, TransportError>;
    auto self = shared_from_this();
    auto connected = co_await async::waitFor<Outcome>([&](async::Resolver<Outcome> resolver) {
        if (atOnce_) {
            resolver.resolve(transport_->connect());
            return;
        }
        SessionEngine* engine = self.get();
        auto pending = std::make_shared<async::ExternalWork>(engine->runtime_.externalWork());
        engine->io_->post([engine, resolver, pending] {
            resolver.resolve(engine->transport_->connect());
            pending->release();
        });
    });
    if (!connected) co_return connected.error();
    std::vector<std::uint32_t> params{1};
    auto opened = co_await exchange(PTP::code(PTP::Op::openSession), std::move(params));
    if (!opened) co_return opened.error();
    const std::uint16_t code = opened.value().response.code;
    if (code != PTP::Response::ok && code != PTP::Response::sessionAlreadyOpen)
        co_return TransportError{QString::fromUtf8("カメラがセッションを開きません: ") +
                                 PTP::responseName(code)};
    open_ = true;
    startEvents();
    co_return Done{};
}

void SessionEngine::startEvents() {
    if (atOnce_) {
        // The notice comes on whatever thread raised the event, maybe with the camera's
        // lock held: it only posts, and one posted read serves a burst.
        transport_->watchEvents([weak = weak_from_this(), alive = alive_, posted = readPosted_,
                                 &main = runtime_.main()] {
            if (posted->exchange(true)) return;
            main.post([weak, alive, posted] {
                posted->store(false);
                auto self = weak.lock();
                if (self && alive->load()) self->readWaitingEvents();
            });
        });
        readWaitingEvents();
        return;
    }
    events_ = std::thread([this] {
        while (!stopping_) {
            auto event = transport_->waitEvent(std::chrono::milliseconds(500));
            if (!event) {
                reportLoss(event.error());
                return;
            }
            if (event.value()) queueEvent(std::move(*event.value()));
        }
    });
}

void SessionEngine::readWaitingEvents() {
    while (open_ && !stopping_) {
        auto event = transport_->waitEvent(std::chrono::milliseconds(0));
        if (!event) {
            reportLoss(event.error());
            return;
        }
        if (!event.value()) return;
        queueEvent(std::move(*event.value()));
    }
}

void SessionEngine::queueEvent(Bytes container) {
    if (eventsWaiting_->load() >= maxEventsWaiting) {
        dropped_->fetch_add(1);
        return;
    }
    eventsWaiting_->fetch_add(1);
    runtime_.main().post([weak = weak_from_this(), alive = alive_, waiting = eventsWaiting_,
                          bytes = std::move(container)]() mutable {
        waiting->fetch_sub(1);
        auto self = weak.lock();
        if (!self || !alive->load() || !self->open_) return;
        if (self->eventHandler_) self->eventHandler_(std::move(bytes));
    });
}

async::Task<Done> SessionEngine::close() {
    auto self = shared_from_this();
    if (open_) {
        std::vector<std::uint32_t> none;
        // The camera may already be gone; closing goes on regardless.
        (void)co_await exchange(PTP::code(PTP::Op::closeSession), std::move(none));
    }
    open_ = false;
    stopping_ = true;
    if (watchdog_) runtime_.clock().cancelTimer(*std::exchange(watchdog_, std::nullopt));
    if (atOnce_) transport_->watchEvents({});
    transport_->interrupt();
    if (events_.joinable()) events_.join();
    co_return Done{};
}

void SessionEngine::armWatchdog() {
    if (!ioTimeout_ || watchdog_ || stopping_ || expired_) return;
    lastProgress_ = transport_->progress();
    quietSince_ = runtime_.clock().monotonic();
    probes_ = 0;
    scheduleWatch();
}

void SessionEngine::disarmIfIdle() {
    // An idle engine leaves no timer behind: a virtual clock would otherwise never run dry.
    if (watchdog_ && queued_ == 0)
        runtime_.clock().cancelTimer(*std::exchange(watchdog_, std::nullopt));
}

void SessionEngine::scheduleWatch() {
    watchdog_ = runtime_.clock().startTimer(watchPeriod(*ioTimeout_),
                                            [weak = weak_from_this(), alive = alive_] {
                                                auto self = weak.lock();
                                                if (!self || !alive->load()) return;
                                                self->watchdog_.reset();
                                                self->watch();
                                            });
}

void SessionEngine::watch() {
    // Idle: the next transaction arms it again.
    if (stopping_ || queued_ == 0) return;
    const auto now = runtime_.clock().monotonic();
    const auto progress = transport_->progress();
    // Between two transactions the camera owes nothing.
    if (progress != lastProgress_ || !inFlight_) {
        lastProgress_ = progress;
        quietSince_ = now;
        probes_ = 0;
    }
    const auto limit = std::chrono::duration_cast<async::Seconds>(*ioTimeout_);
    const auto quiet = now - quietSince_;
    if (quiet >= limit) {
        // Set first: every failure from here on, on any thread, reads as the time-out.
        expired_ = true;
        transport_->interrupt();
        return;
    }
    if (quiet >= limit * (probes_ + 1) / 4.0) {
        ++probes_;
        transport_->probe();
    }
    scheduleWatch();
}

}  // namespace pexil::camera
