#include "camera/virtual/VirtualTransport.h"

#include "camera/virtual/VirtualCamera.h"

namespace pexil::camera {

namespace {

constexpr std::size_t kMaxParams = 5;

// Passes the camera's data phase on, counting its bytes, and asks the camera to stop once
// the link is closed.
class ClosingSink final : public DataSink {
public:
    ClosingSink(DataSink& inner, const std::atomic<bool>& closed,
                std::atomic<std::uint64_t>& progress)
        : inner_(inner), closed_(closed), progress_(progress) {}
    bool begin(std::optional<std::uint64_t> total) override {
        progress_.fetch_add(1, std::memory_order_relaxed);
        return !closed_ && inner_.begin(total);
    }
    bool write(ByteView piece) override {
        progress_.fetch_add(piece.size(), std::memory_order_relaxed);
        return !closed_ && inner_.write(piece);
    }

private:
    DataSink& inner_;
    const std::atomic<bool>& closed_;
    std::atomic<std::uint64_t>& progress_;
};

}  // namespace

VirtualTransport::VirtualTransport(std::shared_ptr<VirtualCamera> camera,
                                   std::chrono::milliseconds ioTimeout)
    : camera_(std::move(camera)), ioTimeout_(ioTimeout) {}

VirtualTransport::~VirtualTransport() {
    interrupt();
}

Result<Done, TransportError> VirtualTransport::connect() {
    if (closed_) return TransportError{QString::fromUtf8("仮想カメラへの接続は閉じられました")};
    if (camera_->isUnplugged())
        return TransportError{QString::fromUtf8("仮想カメラが外されています")};
    connected_ = true;
    return Done{};
}

Result<Response, TransportError> VirtualTransport::transact(const Operation& operation,
                                                            std::optional<ByteView> outData,
                                                            DataSink& sink) {
    if (!connected_) return TransportError{QString::fromUtf8("仮想カメラにまだ接続していません")};
    if (operation.params.size() > kMaxParams)
        return TransportError{QString::fromUtf8("PTP の命令に載せられる引数は 5 個までです")};
    progress_.fetch_add(1 + (outData ? outData->size() : 0), std::memory_order_relaxed);
    ClosingSink guarded(sink, closed_, progress_);
    auto result = camera_->handle(operation, outData, guarded, closed_);
    progress_.fetch_add(1, std::memory_order_relaxed);
    return result;
}

Result<std::optional<Bytes>, TransportError> VirtualTransport::waitEvent(
    std::chrono::milliseconds timeout) {
    if (!connected_) return TransportError{QString::fromUtf8("仮想カメラにまだ接続していません")};
    return camera_->waitEvent(timeout, closed_);
}

void VirtualTransport::interrupt() {
    closed_ = true;
    camera_->wake();
}

}  // namespace pexil::camera
