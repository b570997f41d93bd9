// The session model's live view: starting and stopping it, and frames decoded off the main
// thread, one at a time, the rest dropped.
#include "app/session/SessionModel.h"

#include "app/shots/JpegDecoder.h"
#include "kit/async/WorkQueue.h"

namespace pexil {

void SessionModel::toggleLiveView() {
    if (!state_.is(ConnectionState::Kind::connected)) return;
    if (!liveView_) {
        setLastError(QString::fromUtf8("この機種ではライブビューを使えません。"));
        return;
    }
    scope_.spawn(liveViewTask(liveView_->state() == NikonLiveView::State::off));
}

async::Task<void> SessionModel::liveViewTask(bool start) {
    // The view is replaced when a new camera is ready: keep talking to the one we meant.
    NikonLiveView* view = liveView_.get();
    if (!view) co_return;
    const std::uint64_t generation = liveGeneration_;
    if (!start) {
        co_await view->stop(QString::fromUtf8("ボタン"));
        co_return;
    }
    const auto message = co_await view->start();
    if (generation == liveGeneration_ && message) setLastError(*message);
}

void SessionModel::liveViewChanged() {
    if (!liveView_) return;
    const bool live = liveView_->state() != NikonLiveView::State::off;
    setLive(live);
    if (!live) clearLiveFrames();
    emit liveViewStateChanged();
}

void SessionModel::clearLiveFrames() {
    if (!liveFrame_.isNull()) {
        liveFrame_ = QImage();
        emit liveFrameChanged();
    }
    if (liveFPS_ != 0) {
        liveFPS_ = 0;
        emit liveFPSChanged();
    }
    frameTimes_.clear();
}

void SessionModel::frameArrived(ByteView frame) {
    if (onLiveFrameBytes) onLiveFrameBytes(frame);
    if (frameInFlight_) return;  // one frame decodes at a time; the rest are dropped, not queued
    frameInFlight_ = true;
    // The view into the frame is valid only during this call.
    QByteArray bytes(reinterpret_cast<const char*>(frame.data()),
                     static_cast<qsizetype>(frame.size()));
    scope_.spawn(decodeFrame(std::move(bytes)));
}

async::Task<void> SessionModel::frameDecoderFree() {
    if (!frameInFlight_) co_return;
    auto wait = [this](async::Resolver<Done> resolver) {
        decoderWaiters_.push_back(std::move(resolver));
    };
    co_await async::waitFor<Done>(std::move(wait));
}

async::Task<void> SessionModel::decodeFrame(QByteArray bytes) {
    auto decode = [bytes = std::move(bytes)] {
        return JpegDecoder::decode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size()));
    };
    auto image = co_await async::runOn(*frameQueue_, std::move(decode));
    frameInFlight_ = false;
    for (const auto& waiter : std::exchange(decoderWaiters_, {})) waiter.resolve(Done{});
    if (!isLive_ || !image) co_return;  // live view ended meanwhile, or an undecodable frame
    liveFrame_ = std::move(*image);
    emit liveFrameChanged();
    const double now = runtime_.clock().monotonic().count();
    frameTimes_.push_back(now);
    while (!frameTimes_.empty() && now - frameTimes_.front() > 1.0) frameTimes_.pop_front();
    const int fps = static_cast<int>(frameTimes_.size());
    if (fps != liveFPS_) {
        liveFPS_ = fps;
        emit liveFPSChanged();
    }
}

}  // namespace pexil
