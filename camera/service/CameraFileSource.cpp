#include "camera/service/CameraFileSource.h"

#include "camera/service/CameraDevice.h"

#include <limits>
#include <utility>

namespace pexil::camera {

namespace {

// Calls the completion exactly once: with the request's answer, or, when the relay is
// abandoned with its device, with an error.
class Completion {
public:
    explicit Completion(CardFileSource::Done done) : done_(std::move(done)) {}
    ~Completion() {
        if (done_)
            done_(std::nullopt, TransportError{QString::fromUtf8(
                                    "カメラとの接続が終わったため転送を中止しました")});
    }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;
    void operator()(Result<Bytes, TransportError> answer) {
        auto done = std::exchange(done_, nullptr);
        if (answer) {
            done(std::move(answer).value(), std::nullopt);
        } else {
            done(std::nullopt, answer.error());
        }
    }

private:
    CardFileSource::Done done_;
};

async::Task<void> relay(async::Task<Result<Bytes, TransportError>> request,
                        CardFileSource::Done done) {
    Completion completion(std::move(done));
    auto answer = co_await std::move(request);
    completion(std::move(answer));
}

TransportError noSession() {
    return TransportError{QString::fromUtf8("カメラとのセッションが開いていません")};
}

}  // namespace

CameraFileSource::CameraFileSource(std::shared_ptr<CameraFile> file) : file_(std::move(file)) {}

void CameraFileSource::requestReadData(std::int64_t offset, std::int64_t length, Done done) {
    // GetPartialObject carries the length in 32 bits: a larger one would be cut silently.
    if (!file_ || offset < 0 || length < 0 ||
        length > std::int64_t{std::numeric_limits<std::uint32_t>::max()}) {
        done(std::nullopt, TransportError{QString::fromUtf8("読み出し範囲が不正です")});
        return;
    }
    const auto device = file_->device();
    if (!device) {
        done(std::nullopt, noSession());
        return;
    }
    device->tasks().spawn(relay(
        file_->readData(static_cast<std::uint64_t>(offset), static_cast<std::uint32_t>(length)),
        std::move(done)));
}

void CameraFileSource::requestThumbnail(int maxPixel, Done done) {
    // CameraFile reads 0 as "as the camera has it"; the contract here wants a bound.
    if (!file_ || maxPixel < 1) {
        done(std::nullopt, TransportError{QString::fromUtf8("サムネイルの大きさが不正です")});
        return;
    }
    const auto device = file_->device();
    if (!device) {
        done(std::nullopt, noSession());
        return;
    }
    device->tasks().spawn(relay(file_->thumbnail(maxPixel), std::move(done)));
}

}  // namespace pexil::camera
