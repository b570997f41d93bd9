#include "camera/virtual/VirtualTransport.h"

#include "camera/virtual/VirtualCamera.h"

namespace pexil::camera {

namespace {

// Operations go to the camera as they are; the camera's own waits end with the link.
class VirtualLink final : public Link {
public:
    explicit VirtualLink(std::shared_ptr<VirtualCamera> camera)
        : Link({.closed = QString::fromUtf8("仮想カメラへの接続は閉じられました"),
                .notConnected = QString::fromUtf8("仮想カメラにまだ接続していません"),
                .tooManyParams =
                    [](std::size_t) {
                        return QString::fromUtf8("PTP の命令に載せられる引数は 5 個までです");
                    }}),
          camera_(std::move(camera)) {}
    ~VirtualLink() override {
        end(TransportError{texts().closed});
        camera_->wake();
    }

    Result<Done, TransportError> open() override {
        if (camera_->isUnplugged())
            return TransportError{QString::fromUtf8("仮想カメラが外されています")};
        return Done{};
    }
    Result<Response, TransportError> exchange(const Operation& op, std::optional<ByteView> outData,
                                              DataSink& sink) override {
        return camera_->handle(op, outData, sink, closedFlag());
    }
    Result<std::optional<Bytes>, TransportError> nextEvent(
        std::chrono::milliseconds timeout) override {
        return camera_->waitEvent(timeout, closedFlag());
    }
    void close(bool) override { camera_->wake(); }

private:
    std::shared_ptr<VirtualCamera> camera_;
};

}  // namespace

VirtualTransport::VirtualTransport(std::shared_ptr<VirtualCamera> camera,
                                   std::chrono::milliseconds ioTimeout)
    : LinkTransport(std::make_unique<VirtualLink>(camera), ioTimeout), camera_(std::move(camera)) {}

VirtualTransport::~VirtualTransport() {
    camera_->watchEvents(this, {});
}

bool VirtualTransport::answersAtOnce() const {
    return camera_->answersAtOnce();
}

void VirtualTransport::watchEvents(std::function<void()> notice) {
    camera_->watchEvents(this, std::move(notice));
}

}  // namespace pexil::camera
