#include "camera/transport/LinkTransport.h"

namespace pexil::camera {

namespace {

// Passes the device's data phase on, counting its bytes (and its start) as the link's
// progress, so that a transfer that moves counts as a live camera.
class CountingSink final : public DataSink {
public:
    CountingSink(DataSink& inner, std::atomic<std::uint64_t>& moved)
        : inner_(inner), moved_(moved) {}
    bool begin(std::optional<std::uint64_t> total) override {
        moved_.fetch_add(1, std::memory_order_relaxed);
        return inner_.begin(total);
    }
    bool write(ByteView piece) override {
        moved_.fetch_add(piece.size(), std::memory_order_relaxed);
        return inner_.write(piece);
    }

private:
    DataSink& inner_;
    std::atomic<std::uint64_t>& moved_;
};

}  // namespace

TransportError Link::turnAway(const QString& message, const QString&) {
    return TransportError{message};
}

bool Link::end(TransportError why) {
    std::lock_guard lock(endMutex_);
    if (ended_) return false;
    ended_ = std::move(why);
    closed_.store(true, std::memory_order_release);
    return true;
}

std::optional<TransportError> Link::ended() const {
    if (!closed()) return std::nullopt;
    std::lock_guard lock(endMutex_);
    return ended_;
}

LinkTransport::LinkTransport(std::unique_ptr<Link> link,
                             std::optional<std::chrono::milliseconds> ioTimeout)
    : link_(std::move(link)), ioTimeout_(ioTimeout) {}

LinkTransport::~LinkTransport() = default;

Result<Done, TransportError> LinkTransport::connect() {
    if (auto error = link_->ended()) return *error;
    if (connected()) return Done{};
    auto opened = link_->open();
    if (opened) connected_.store(true, std::memory_order_release);
    return opened;
}

std::optional<TransportError> LinkTransport::gate(const Operation* operation) {
    if (auto error = link_->ended()) return error;
    const auto& texts = link_->texts();
    if (!connected()) return link_->turnAway(texts.notConnected, QStringLiteral("connect() の前"));
    if (operation && operation->params.size() > maxParams)
        return link_->turnAway(texts.tooManyParams(operation->params.size()),
                               QStringLiteral("0x%1: パラメータが %2 個")
                                   .arg(operation->code, 4, 16, QLatin1Char('0'))
                                   .arg(operation->params.size()));
    return std::nullopt;
}

Result<Response, TransportError> LinkTransport::transact(const Operation& operation,
                                                         std::optional<ByteView> outData,
                                                         DataSink& sink) {
    if (auto error = gate(&operation)) return *error;
    moved_.fetch_add(1 + (outData ? outData->size() : 0), std::memory_order_relaxed);
    CountingSink counted(sink, moved_);
    auto answer = link_->exchange(operation, outData, counted);
    moved_.fetch_add(1, std::memory_order_relaxed);
    return answer;
}

Result<std::optional<Bytes>, TransportError> LinkTransport::waitEvent(
    std::chrono::milliseconds timeout) {
    if (auto error = gate(nullptr)) return *error;
    return link_->nextEvent(timeout);
}

void LinkTransport::interrupt() {
    link_->close(link_->end(TransportError{link_->texts().closed}));
}

std::uint64_t LinkTransport::progress() const {
    return link_->ownProgress().value_or(moved_.load(std::memory_order_relaxed));
}

}  // namespace pexil::camera
